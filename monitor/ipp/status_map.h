// Judging a printer's answer and turning its state into the port status of each build.
// Platform-free.
#pragma once

#include "monitor/core/portable.h"

// Port status values of nimmonnt (PORT_STATUS_*) and printer status bits of nimmon9x
// (PRINTER_STATUS_*), by meaning.
enum PortStatusMeaning {
    STATUS_NONE,
    STATUS_OFFLINE,
    STATUS_PAPER_JAM,
    STATUS_PAPER_OUT,
    STATUS_NO_TONER,
    STATUS_DOOR_OPEN,
    STATUS_TONER_LOW,
};

// Which build's values and message ids to use.
enum MonitorFlavor { FLAVOR_NT, FLAVOR_9X };

#ifdef NIMBREL_9X
#define MONITOR_FLAVOR FLAVOR_9X
#else
#define MONITOR_FLAVOR FLAVOR_NT
#endif

DWORD PortStatusValue(PortStatusMeaning meaning, MonitorFlavor flavor);

// 1 pass, 0 fail; message id 0 means no message.
int CheckHttpStatusFor(MonitorFlavor flavor, LONG httpStatus, DWORD* messageId, DWORD* error);
int CheckIppStatusFor(MonitorFlavor flavor, LONG ippStatus, DWORD* messageId, DWORD* error);
DWORD MapPrinterStatusFor(MonitorFlavor flavor, LONG httpStatus, const char* stateWord,
                          const char* reasonWord, DWORD* error);

// The same for the build being compiled.
inline int CheckHttpStatus(LONG httpStatus, DWORD* messageId, DWORD* error) {
    return CheckHttpStatusFor(MONITOR_FLAVOR, httpStatus, messageId, error);
}
inline int CheckIppStatus(LONG ippStatus, DWORD* messageId, DWORD* error) {
    return CheckIppStatusFor(MONITOR_FLAVOR, ippStatus, messageId, error);
}
inline DWORD MapPrinterStatus(LONG httpStatus, const char* stateWord, const char* reasonWord,
                              DWORD* error) {
    return MapPrinterStatusFor(MONITOR_FLAVOR, httpStatus, stateWord, reasonWord, error);
}
