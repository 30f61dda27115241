// The monitor function table in the spooler's slot order. nimmonnt hands the spooler the NT 4.0
// layout (14 slots) inside a MONITOREX-shaped record; nimmon9x fills the Windows 95 layout
// (13 slots, no AddPortEx) that its spooler passes in.
#pragma once

#include "monitor/core/portable.h"

typedef BOOL(WINAPI* EnumPortsFn)(LPTSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
typedef BOOL(WINAPI* OpenPortFn)(LPTSTR, PHANDLE);
typedef BOOL(WINAPI* OpenPortExFn)(LPTSTR, LPTSTR, PHANDLE, void*);
typedef BOOL(WINAPI* StartDocPortFn)(HANDLE, LPTSTR, DWORD, DWORD, LPBYTE);
typedef BOOL(WINAPI* WritePortFn)(HANDLE, LPBYTE, DWORD, LPDWORD);
typedef BOOL(WINAPI* ReadPortFn)(HANDLE, LPBYTE, DWORD, LPDWORD);
typedef BOOL(WINAPI* EndDocPortFn)(HANDLE);
typedef BOOL(WINAPI* ClosePortFn)(HANDLE);
typedef BOOL(WINAPI* AddPortFn)(LPTSTR, HWND, LPTSTR);
typedef BOOL(WINAPI* AddPortExFn)(LPTSTR, DWORD, LPBYTE, LPTSTR);
typedef BOOL(WINAPI* ConfigurePortFn)(LPTSTR, HWND, LPTSTR);
typedef BOOL(WINAPI* DeletePortFn)(LPTSTR, HWND, LPTSTR);
typedef BOOL(WINAPI* GetPrinterDataFromPortFn)(HANDLE, DWORD, LPTSTR, LPTSTR, DWORD, LPTSTR, DWORD,
                                               LPDWORD);
typedef BOOL(WINAPI* SetPortTimeOutsFn)(HANDLE, LPCOMMTIMEOUTS, DWORD);

// Windows NT 4.0 layout.
struct MonitorTableNt {
    EnumPortsFn pfnEnumPorts;
    OpenPortFn pfnOpenPort;
    OpenPortExFn pfnOpenPortEx;
    StartDocPortFn pfnStartDocPort;
    WritePortFn pfnWritePort;
    ReadPortFn pfnReadPort;
    EndDocPortFn pfnEndDocPort;
    ClosePortFn pfnClosePort;
    AddPortFn pfnAddPort;
    AddPortExFn pfnAddPortEx;
    ConfigurePortFn pfnConfigurePort;
    DeletePortFn pfnDeletePort;
    GetPrinterDataFromPortFn pfnGetPrinterDataFromPort;
    SetPortTimeOutsFn pfnSetPortTimeOuts;
};

struct MonitorExNt {
    DWORD dwMonitorSize; // the size of the table alone
    MonitorTableNt Monitor;
};

// Windows 95/98 layout.
struct MonitorTable9x {
    EnumPortsFn pfnEnumPorts;
    OpenPortFn pfnOpenPort;
    OpenPortExFn pfnOpenPortEx;
    StartDocPortFn pfnStartDocPort;
    WritePortFn pfnWritePort;
    ReadPortFn pfnReadPort;
    EndDocPortFn pfnEndDocPort;
    ClosePortFn pfnClosePort;
    AddPortFn pfnAddPort;
    ConfigurePortFn pfnConfigurePort;
    DeletePortFn pfnDeletePort;
    GetPrinterDataFromPortFn pfnGetPrinterDataFromPort;
    SetPortTimeOutsFn pfnSetPortTimeOuts;
};

static_assert(sizeof(MonitorTableNt) == 14 * sizeof(void*), "14 slots, no padding");
static_assert(sizeof(MonitorTable9x) == 13 * sizeof(void*), "13 slots, no padding");
#if defined(_WIN32) && !defined(_WIN64)
// The original 32-bit target: a slot is 4 bytes, the NT table 56.
static_assert(sizeof(MonitorTableNt) == 56, "NT 4.0 table is 56 bytes on 32-bit Windows");
static_assert(sizeof(MonitorTable9x) == 52, "Windows 95 table is 52 bytes");
#endif
