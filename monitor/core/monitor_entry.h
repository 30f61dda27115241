// The DLL's exported entry points.
#pragma once

#include "monitor/core/monitor_table.h"

extern "C" {
BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved);
#ifdef NIMBREL_9X
// Windows 95/98: fills the spooler's 13-slot table.
BOOL WINAPI InitializeMonitorEx(LPTSTR registryRoot, MonitorTable9x* monitor);
extern DWORD g_messageBoxTlsSlot; // used by the message box routine
#else
// Windows NT 4.0: returns the monitor's table, or null when Windows Sockets cannot start.
MonitorExNt* WINAPI InitializePrintMonitor(LPWSTR registryRoot);
#endif
}

// Windows Sockets start-up; tests replace it to see a failed start.
typedef int(WINAPI* WsaStartupFn)(WORD version, LPWSADATA data);
WsaStartupFn MonitorInstallWsaStartup(WsaStartupFn startup);
