#include "monitor/core/port_info_pack.h"

#include <string.h>

#ifdef _WIN32
#include <stddef.h>
#include <winspool.h>

// The spooler reads the buffer as its own records: the layouts must be the same to the byte.
static_assert(sizeof(PortInfo1Record) == sizeof(PORT_INFO_1), "PORT_INFO_1 size");
static_assert(offsetof(PortInfo1Record, pName) == offsetof(PORT_INFO_1, pName), "pName");
static_assert(sizeof(PortInfo2Record) == sizeof(PORT_INFO_2), "PORT_INFO_2 size");
static_assert(offsetof(PortInfo2Record, pPortName) == offsetof(PORT_INFO_2, pPortName),
              "pPortName");
static_assert(offsetof(PortInfo2Record, pMonitorName) == offsetof(PORT_INFO_2, pMonitorName),
              "pMonitorName");
static_assert(offsetof(PortInfo2Record, pDescription) == offsetof(PORT_INFO_2, pDescription),
              "pDescription");
static_assert(offsetof(PortInfo2Record, fPortType) == offsetof(PORT_INFO_2, fPortType),
              "fPortType");
static_assert(offsetof(PortInfo2Record, Reserved) == offsetof(PORT_INFO_2, Reserved), "Reserved");
static_assert(PORT_INFO_PORT_TYPE == (PORT_TYPE_WRITE | PORT_TYPE_NET_ATTACHED), "port type");
#endif

namespace {

// Characters of a text as it is packed: up to the terminator, at most `limit`.
size_t PackedChars(const TCHAR* text, size_t limit) {
    size_t n = 0;
    if (text != nullptr) {
        while (n < limit && text[n] != 0) {
            ++n;
        }
    }
    return n;
}

// Bytes a text takes in the buffer, terminator included.
size_t TextBytes(const TCHAR* text, size_t limit) {
    return (PackedChars(text, limit) + 1) * sizeof(TCHAR);
}

size_t NameBytes(const TCHAR* name) {
    return TextBytes(name, PORT_INFO_NAME_MAX_CHARS);
}

// The fixed texts are short; the limit only keeps the scan bounded.
size_t FixedTextBytes(const TCHAR* text) {
    return TextBytes(text, PORT_INFO_NAME_MAX_CHARS);
}

// Bytes one port needs at this level; 0 for levels other than 1 and 2.
size_t EntryBytes(const TCHAR* name, DWORD level) {
    switch (level) {
    case 1:
        return sizeof(PortInfo1Record) + NameBytes(name);
    case 2:
        return sizeof(PortInfo2Record) + NameBytes(name) + FixedTextBytes(PORT_INFO_MONITOR_NAME) +
               FixedTextBytes(PORT_INFO_DESCRIPTION);
    default:
        return 0;
    }
}

// Places a text of `bytes` bytes (terminator included) directly below `*end`, moves `*end` down
// to it and returns where it starts. The bytes were counted in the size pass, which proved that
// every text lies above the records.
TCHAR* PackText(LPBYTE* end, const TCHAR* text, size_t bytes) {
    *end -= bytes;
    if (bytes > sizeof(TCHAR)) {
        memcpy(*end, text, bytes - sizeof(TCHAR));
    }
    memset(*end + bytes - sizeof(TCHAR), 0, sizeof(TCHAR));
    return reinterpret_cast<TCHAR*>(*end);
}

// The packed texts point into the spooler's buffer, which it hands back writable: the fixed
// texts are copied there, never pointed to where they live in the DLL.
TCHAR* PackFixedText(LPBYTE* end, const TCHAR* text) {
    return PackText(end, text, FixedTextBytes(text));
}

} // namespace

BOOL PackPortInfo(const TCHAR* const* portNames, DWORD portCount, DWORD level, LPBYTE buffer,
                  DWORD bufferSize, DWORD* bytesNeeded, DWORD* returned) {
    if (bytesNeeded == nullptr || returned == nullptr || (portNames == nullptr && portCount > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    // Size pass. The sum is kept in 64 bits: in a 32-bit build size_t would wrap long before
    // the limit of the DWORD the spooler gets.
    unsigned long long total = 0;
    for (DWORD i = 0; i < portCount; ++i) {
        total += EntryBytes(portNames[i], level);
    }
    *bytesNeeded = total > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(total);
    *returned = 0;
    if (total == 0) {
        return TRUE; // no ports, or a level without records: the last error is left alone
    }
    if (total > bufferSize || buffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }

    // Fill pass: records upward from the start, texts downward from the end, port name, monitor
    // name and description of each port in turn.
    LPBYTE end = buffer + bufferSize;
    for (DWORD i = 0; i < portCount; ++i) {
        const TCHAR* name = portNames[i];
        if (level == 1) {
            PortInfo1Record* info = reinterpret_cast<PortInfo1Record*>(buffer) + i;
            info->pName = PackText(&end, name, NameBytes(name));
        } else {
            PortInfo2Record* info = reinterpret_cast<PortInfo2Record*>(buffer) + i;
            info->pPortName = PackText(&end, name, NameBytes(name));
            info->pMonitorName = PackFixedText(&end, PORT_INFO_MONITOR_NAME);
            info->pDescription = PackFixedText(&end, PORT_INFO_DESCRIPTION);
            info->fPortType = PORT_INFO_PORT_TYPE;
            info->Reserved = 0;
        }
        *returned = i + 1;
    }
    SetLastError(0);
    return TRUE;
}
