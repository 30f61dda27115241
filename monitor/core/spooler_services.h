// The spooler services the monitor calls, behind one table so tests can observe what the monitor
// passes (printer names, job commands, port status values). The monitor uses the spooler's own
// functions unless a test installs other ones.
#pragma once

#include "monitor/core/portable.h"

#include <winspool.h>

struct SpoolerServices {
    BOOL(WINAPI* openPrinter)(LPTSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTS defaults);
    BOOL(WINAPI* setJob)(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command);
    BOOL(WINAPI* closePrinter)(HANDLE printer);
    // nimmonnt reports port status with SetPortW.
    BOOL(WINAPI* setPortW)(LPWSTR serverName, LPWSTR portName, DWORD level, LPBYTE portInfo);
    // nimmon9x reports printer status bits with SetPrinterA.
    BOOL(WINAPI* setPrinterA)(HANDLE printer, DWORD level, LPBYTE printerInfo, DWORD command);
};

const SpoolerServices* Spooler(void);
// Installs services (nullptr: the spooler's own) and returns the ones in force before.
const SpoolerServices* SpoolerInstall(const SpoolerServices* services);
