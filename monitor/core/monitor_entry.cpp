// Library entry, initialisation exports, the stub entries and the function tables.
#include "monitor/core/monitor_entry.h"

#include "monitor/core/monitor_globals.h"
#include "monitor/core/port_entries.h"

namespace {
WsaStartupFn g_wsaStartup = WSAStartup;

// Version word 2: Windows Sockets 2.0.
const WORD kSocketsVersion = MAKEWORD(2, 0);

BOOL StartSockets() {
    WSADATA data;
    return g_wsaStartup(kSocketsVersion, &data) == 0;
}
} // namespace

WsaStartupFn MonitorInstallWsaStartup(WsaStartupFn startup) {
    WsaStartupFn previous = g_wsaStartup;
    g_wsaStartup = startup ? startup : WSAStartup;
    return previous;
}

#ifdef NIMBREL_9X
DWORD g_messageBoxTlsSlot = TLS_OUT_OF_INDEXES;
#endif

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        g_monitorInstance = instance;
#ifdef NIMBREL_9X
        g_messageBoxTlsSlot = TlsAlloc();
#else
        MonitorGlobalsInit(instance);
        DisableThreadLibraryCalls(instance);
#endif
        break;
    case DLL_PROCESS_DETACH:
#ifndef NIMBREL_9X
        WSACleanup();
#endif
        break;
    default:
        break;
    }
    return TRUE;
}

// The C runtime's own entry calls DllMain; the monitor's entry is DllEntryPoint.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return DllEntryPoint(instance, reason, reserved);
}

// ReadPort: this monitor never reads back from a printer.
BOOL WINAPI ReadPort(HANDLE, LPBYTE, DWORD, LPDWORD) {
    return TRUE;
}

#ifndef NIMBREL_9X

// AddPortEx: ports are only added through the dialog of AddPort.
BOOL WINAPI AddPortEx(LPTSTR, DWORD, LPBYTE, LPTSTR) {
    return TRUE;
}

namespace {
// The spooler reads slots past the NT 4.0 table in newer layouts; the zeroed tail keeps any such
// read inside this record and null.
struct PaddedMonitorEx {
    MonitorExNt ex;
    void* zeroTail[8];
};

PaddedMonitorEx g_monitorEx = {{sizeof(MonitorTableNt),
                                {
                                    EnumPorts, OpenPort,
                                    nullptr, // OpenPortEx: not supported
                                    StartDocPort, WritePort, ReadPort, EndDocPort, ClosePort,
                                    AddPort, AddPortEx, ConfigurePort, DeletePort,
                                    nullptr, // GetPrinterDataFromPort: not supported
                                    nullptr, // SetPortTimeOuts: not supported
                                }},
                               {}};
} // namespace

extern "C" MonitorExNt* WINAPI InitializePrintMonitor(LPWSTR) {
    MonitorGlobalsInit(nullptr);
    return StartSockets() ? &g_monitorEx.ex : nullptr;
}

#else

// GetPrinterDataFromPort: no bidirectional data is offered.
BOOL WINAPI GetPrinterDataFromPort(HANDLE, DWORD, LPTSTR, LPTSTR, DWORD, LPTSTR, DWORD, LPDWORD) {
    return TRUE;
}

extern "C" BOOL WINAPI InitializeMonitorEx(LPTSTR, MonitorTable9x* monitor) {
    MonitorGlobalsInit(nullptr);
    {
        MonitorLockGuard lock;
        monitor->pfnEnumPorts = EnumPorts;
        monitor->pfnOpenPort = OpenPort;
        monitor->pfnOpenPortEx = nullptr; // not supported
        monitor->pfnStartDocPort = StartDocPort;
        monitor->pfnWritePort = WritePort;
        monitor->pfnReadPort = ReadPort;
        monitor->pfnEndDocPort = EndDocPort;
        monitor->pfnClosePort = ClosePort;
        monitor->pfnAddPort = AddPort;
        monitor->pfnConfigurePort = ConfigurePort;
        monitor->pfnDeletePort = DeletePort;
        monitor->pfnGetPrinterDataFromPort = GetPrinterDataFromPort;
        monitor->pfnSetPortTimeOuts = nullptr; // not supported
    }
    return StartSockets();
}

#endif
