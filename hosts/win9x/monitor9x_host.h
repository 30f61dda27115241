// The Windows 95/98 spooler's side of a port monitor, as far as our tests and tools need it:
// load the monitor DLL, hand it a 13-slot table to fill through InitializeMonitorEx, and call
// the table. (Wine's spooler loads only NT-style monitors.)
#pragma once

#include "monitor/core/monitor_table.h"

struct Monitor9xHost {
    HMODULE module;
    MonitorTable9x table;
    BOOL socketsStarted; // InitializeMonitorEx's result
};

// Loads the DLL and initialises it. The table is pre-filled with a marker pattern so that a slot
// the monitor leaves unwritten shows. Returns FALSE (module unloaded) when the DLL cannot be
// loaded or has no InitializeMonitorEx.
BOOL LoadMonitor9x(const wchar_t* dllPath, Monitor9xHost* host);
void UnloadMonitor9x(Monitor9xHost* host);

// The marker byte of unwritten slots.
#define MONITOR9X_UNWRITTEN_BYTE 0xA5
