// Installing a monitor DLL into the running Wine prefix's spooler, as an administrator would.
#pragma once

#include <windows.h>

#include <string>

#define MONITOR_NAME L"ORVIK IPP Port"

// "Z:\..." for a Unix path (Wine maps Z: to /); other paths unchanged.
std::wstring WindowsPathOf(const char* path);

// Copies the DLL into the system directory under its own file name. Returns that file name.
std::wstring CopyIntoSystemDirectory(const char* dllPath);

// AddMonitorW level 2 with the monitor name and the DLL's file name.
BOOL RegisterMonitor(const std::wstring& dllFileName);
