// Showing a port's status in the spooler, and the port's status thread.
#pragma once

#include "monitor/core/records.h"

// Intervals of the status thread.
#define STATUS_POLL_IDLE_MS 20000
#define STATUS_POLL_PRINTING_MS 5000

// Reports a status value of this build: a PORT_STATUS_* code through SetPortW in nimmonnt,
// PRINTER_STATUS_* bits through SetPrinterA on a running job's printer handle in nimmon9x.
void SetPortStatus(PortContext* port, DWORD status);

// The thread routine of an open port (argument: its PortContext). Polls the printer while the
// port is open and shows its state; ends after ClosePort clears PORT_FLAG_OPEN and signals the
// wake event, clearing the port's status and releasing the event as its very last act.
DWORD WINAPI StatusThread(LPVOID portRecord);
