// EnumPorts: the ports stored in the registry, as PORT_INFO_1 or PORT_INFO_2 records with their
// texts packed downward from the end of the caller's buffer.
#include "monitor/core/monitor_globals.h"
#include "monitor/core/port_entries.h"
#include "monitor/core/port_settings.h"
#include "monitor/core/text.h"

#include <string.h>

#define PORT_MONITOR_NAME TEXT("Nimbrel")
#define PORT_DESCRIPTION TEXT("ORVIK IPP Port")

namespace {

typedef PORT_INFO_1 PortInfo1;
typedef PORT_INFO_2 PortInfo2;

size_t TextBytes(const TCHAR* text) {
    return (BoundedLength(text, PORT_NAME_CHARS) + 1) * sizeof(TCHAR);
}

// Bytes one port needs at this level; 0 for levels other than 1 and 2.
size_t EntryBytes(const PortContext* port, DWORD level) {
    switch (level) {
    case 1:
        return sizeof(PortInfo1) + TextBytes(port->portName);
    case 2:
        return sizeof(PortInfo2) + TextBytes(port->portName) + TextBytes(PORT_MONITOR_NAME) +
               TextBytes(PORT_DESCRIPTION);
    default:
        return 0;
    }
}

// Places a text directly below `*end` and moves `*end` down to it.
LPTSTR PackText(LPBYTE* end, const TCHAR* text) {
    size_t bytes = TextBytes(text);
    *end -= bytes;
    memcpy(*end, text, bytes - sizeof(TCHAR));
    memset(*end + bytes - sizeof(TCHAR), 0, sizeof(TCHAR));
    return reinterpret_cast<LPTSTR>(*end);
}

struct PortListFree {
    PortContext* head;
    ~PortListFree() { FreePortList(head); }
};

} // namespace

BOOL WINAPI EnumPorts(LPTSTR, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD bytesNeeded,
                      LPDWORD returned) {
    if (bytesNeeded == nullptr || returned == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PortListFree list{ListPorts()};

    MonitorLockGuard lock;
    size_t total = 0;
    for (PortContext* port = list.head; port != nullptr; port = port->next) {
        total += EntryBytes(port, level);
    }
    *bytesNeeded = total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(total);
    *returned = 0;
    if (total == 0) {
        return TRUE; // no ports, or a level without records: the last error is left alone
    }
    if (total > bufferSize || buffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }

    LPBYTE end = buffer + bufferSize;
    DWORD count = 0;
    for (PortContext* port = list.head; port != nullptr; port = port->next) {
        if (level == 1) {
            PortInfo1* info = reinterpret_cast<PortInfo1*>(buffer) + count;
            info->pName = PackText(&end, port->portName);
        } else {
            PortInfo2* info = reinterpret_cast<PortInfo2*>(buffer) + count;
            info->pPortName = PackText(&end, port->portName);
            info->pMonitorName = PackText(&end, PORT_MONITOR_NAME);
            info->pDescription = PackText(&end, PORT_DESCRIPTION);
            info->fPortType = PORT_TYPE_WRITE | PORT_TYPE_NET_ATTACHED;
            info->Reserved = 0;
        }
        ++count;
        *returned = count;
    }
    SetLastError(0);
    return TRUE;
}
