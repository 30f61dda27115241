// The per-port list of job records, and the close-printer step.
#pragma once

#include "monitor/core/records.h"

// Appends a zero-filled record for jobId at the tail of the port's list; nullptr when out of
// memory. The record's socket starts invalid and its spool file closed.
JobContext* JobListAdd(PortContext* port, DWORD jobId);

// The first record of jobId in list order, or nullptr.
JobContext* JobListFind(PortContext* port, DWORD jobId);

// Unlinks and frees the first record of jobId; nothing happens when there is none.
void JobListRemove(PortContext* port, DWORD jobId);

// Frees every record of the list (ClosePort: records no EndDocPort removed).
void JobListFreeAll(PortContext* port);

// Closes the port's printer handle, if any, and clears it. nimmon9x first reports status 0 on
// the handle, so the spooler stops showing a printer problem once the job is over.
void ClosePrinterStep(PortContext* port);
