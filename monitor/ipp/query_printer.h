// One complete Get-Printer-Attributes transaction: connect, send, read, parse.
#pragma once

#include "monitor/core/records.h"
#include "monitor/ipp/ipp_reply.h"

// Time a query waits for each receive of the reply.
#define QUERY_RECEIVE_TIMEOUT_MS 300000

// Asks the printer (directly or through the port's proxy) for its attributes. Returns 1 when an
// HTTP 200 reply came (its body parsed into words when complete), 0 otherwise; the words keep
// what the caller put there when nothing was parsed. Sets the request record's `chunked`.
int QueryPrinter(JobContext* request, LONG* httpStatus, PrinterWords* words, LONG* ippStatus,
                 const PortContext* port);
