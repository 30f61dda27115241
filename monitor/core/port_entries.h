// The entries of the monitor function table. They keep the spooler's names; the wide or narrow
// form follows the build (TCHAR is wide in nimmonnt, narrow in nimmon9x).
#pragma once

#include "monitor/core/portable.h"

#include <winspool.h>

// winspool.h maps these names to its own client calls; here they name the monitor's entries.
#undef EnumPorts
#undef AddPort
#undef AddPortEx
#undef ConfigurePort
#undef DeletePort

BOOL WINAPI EnumPorts(LPTSTR serverName, DWORD level, LPBYTE ports, DWORD bufferSize,
                      LPDWORD bytesNeeded, LPDWORD returned);
BOOL WINAPI OpenPort(LPTSTR portName, PHANDLE port);
BOOL WINAPI StartDocPort(HANDLE port, LPTSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
BOOL WINAPI WritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written);
BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read);
BOOL WINAPI EndDocPort(HANDLE port);
BOOL WINAPI ClosePort(HANDLE port);
BOOL WINAPI AddPort(LPTSTR serverName, HWND owner, LPTSTR monitorName);
BOOL WINAPI ConfigurePort(LPTSTR serverName, HWND owner, LPTSTR portName);
BOOL WINAPI DeletePort(LPTSTR serverName, HWND owner, LPTSTR portName);
#ifndef NIMBREL_9X
BOOL WINAPI AddPortEx(LPTSTR serverName, DWORD level, LPBYTE buffer, LPTSTR monitorName);
#else
BOOL WINAPI GetPrinterDataFromPort(HANDLE port, DWORD controlId, LPTSTR valueName, LPTSTR inBuffer,
                                   DWORD inSize, LPTSTR outBuffer, DWORD outSize, LPDWORD returned);
#endif
