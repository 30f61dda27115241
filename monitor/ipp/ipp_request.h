// IPP request bodies (Print-Job, Get-Printer-Attributes) and the complete status query.
// Platform-free, except PrepareIppRequest, which asks Windows for the user name.
#pragma once

#include <stddef.h>

#include "monitor/core/records.h"

// Buffers the requests are built in.
#define PRINT_JOB_REQUEST_BYTES 1024
#define STATUS_QUERY_BODY_BYTES 512
#define STATUS_QUERY_BYTES 2048

// Value tags used.
#define IPP_TAG_OPERATION 0x01
#define IPP_TAG_JOB 0x02
#define IPP_TAG_END 0x03
#define IPP_TAG_PRINTER 0x04
#define IPP_TAG_UNSUPPORTED 0x05
#define IPP_TAG_INTEGER 0x21
#define IPP_TAG_BOOLEAN 0x22
#define IPP_TAG_ENUM 0x23
#define IPP_TAG_TEXT 0x41
#define IPP_TAG_NAME 0x42
#define IPP_TAG_KEYWORD 0x44
#define IPP_TAG_URI 0x45
#define IPP_TAG_CHARSET 0x47
#define IPP_TAG_LANGUAGE 0x48
#define IPP_TAG_MIME_TYPE 0x49

#define IPP_OP_PRINT_JOB 0x0002
#define IPP_OP_GET_PRINTER_ATTRIBUTES 0x000B

// Writes one attribute at out (room: outBytes). value points to a terminated text for text tags,
// to a 32-bit integer for integer, enum and boolean tags. Returns the bytes written, or 0 when
// the attribute does not fit (nothing written).
size_t PutIppAttribute(BYTE* out, size_t outBytes, BYTE valueTag, const char* name,
                       const void* value);

// The Print-Job body for the record's IPP values. Returns its length, or 0 when it does not fit.
size_t BuildPrintJobRequest(DWORD requestId, const JobContext* job, BYTE* out, size_t outBytes);

// The Get-Printer-Attributes body. Returns its length, or 0 when it does not fit.
size_t BuildGetPrinterAttributesRequest(DWORD requestId, const JobContext* job, BYTE* out,
                                        size_t outBytes);

// HTTP head and Get-Printer-Attributes body, one after the other, for the target host and port.
// Returns the bytes to send, or 0 when the request cannot be built within outBytes.
size_t BuildStatusQuery(BYTE* out, size_t outBytes, JobContext* job, char* host, size_t hostBytes,
                        LONG* port);

// Fills the IPP values of the record from the port and the calling thread's user (Windows only).
void PrepareIppRequest(JobContext* job, const PortContext* port);

// The platform-free part of PrepareIppRequest, with the user name given.
void FillIppRequestValues(JobContext* job, const PortContext* port, const char* userName);
