// The records EnumPorts hands the spooler (PORT_INFO_1 and PORT_INFO_2) and their packing into
// the caller's buffer: records from the start, texts downward from the end. Platform-free, so
// that the packing is tested and fuzzed natively with arbitrary port names.
#pragma once

#include <stddef.h>

#include "monitor/core/portable.h"
#include "monitor/core/records.h"

// The layouts of PORT_INFO_1 and PORT_INFO_2; the Windows build checks them against winspool.h.
struct PortInfo1Record {
    TCHAR* pName;
};

struct PortInfo2Record {
    TCHAR* pPortName;
    TCHAR* pMonitorName;
    TCHAR* pDescription;
    DWORD fPortType;
    DWORD Reserved;
};

#define PORT_INFO_MONITOR_NAME TEXT("Nimbrel")
#define PORT_INFO_DESCRIPTION TEXT("ORVIK IPP Port")
// PORT_TYPE_WRITE with PORT_TYPE_NET_ATTACHED.
#define PORT_INFO_PORT_TYPE 0x0009u

// A port name is taken up to this many characters, as many as a port record's field can hold;
// the rest of a longer name is cut.
#define PORT_INFO_NAME_MAX_CHARS PORT_NAME_CHARS

// The size pass and the fill pass of EnumPorts over portCount names (a null name counts as an
// empty one) at level 1 or 2; other levels have no records. *bytesNeeded gets the total
// (0xFFFFFFFF when it is larger), *returned the number of records written.
// - total 0 (no names, or another level): TRUE, nothing written, the last error left alone;
// - total above bufferSize (or no buffer): FALSE, ERROR_INSUFFICIENT_BUFFER;
// - otherwise the records and texts are written, the last error is 0, TRUE.
// Null bytesNeeded or returned, or null portNames with names to pack: FALSE,
// ERROR_INVALID_PARAMETER.
BOOL PackPortInfo(const TCHAR* const* portNames, DWORD portCount, DWORD level, LPBYTE buffer,
                  DWORD bufferSize, DWORD* bytesNeeded, DWORD* returned);
