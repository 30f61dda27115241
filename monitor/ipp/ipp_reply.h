// IPP reply decoding: the walk over a response body, the reading of a Get-Printer-Attributes
// reply of any size, and the mapping of status-codes to system error codes. Platform-free.
#pragma once

#include <stddef.h>

#include "monitor/core/portable.h"
#include "monitor/transport/http_reply.h"

// The three texts a printer query yields.
#define PRINTER_WORD_BYTES 512

// Largest Get-Printer-Attributes reply (head and body) the monitor reads; a larger body is left
// unparsed.
#define PRINTER_REPLY_MAX_BYTES (1024 * 1024)

struct PrinterWords {
    char stateWord[PRINTER_WORD_BYTES];    // "Idle", "Processing", "Stop" or empty
    char reasonWord[PRINTER_WORD_BYTES];   // last printer-state-reasons value, or job-state word
    char makeAndModel[PRINTER_WORD_BYTES]; // printer-make-and-model
};

// Walks the body and sets the words the reply carries; the others keep what they held.
void ParseIppReply(const BYTE* body, size_t bodyBytes, char* stateWord, char* reasonWord,
                   char* makeAndModel);

// Reads the reply to a status query from source (interim 100 replies skipped). Returns 1 for an
// HTTP 200 reply, 0 otherwise (last error ERROR_CONNECTION_UNAVAIL for a status other than 200).
// Sets *httpStatus, *ippStatus, the words (when the body is complete) and *chunked: 0 when
// useProxy, else 1 exactly when the reply's version is "1.1".
int ReadPrinterReply(const ReplySource* source, DWORD timeoutMs, BOOL useProxy, LONG* httpStatus,
                     PrinterWords* words, LONG* ippStatus, DWORD* chunked);

// System error code for an IPP status-code; 0 for success.
DWORD IppStatusToError(LONG ippStatus);
