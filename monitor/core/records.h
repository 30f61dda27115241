// The two records the whole monitor works on: one per open port, one per document.
#pragma once

#include "monitor/core/portable.h"
#include "monitor/transport/http_head.h"

// Capacities of the text fields, terminator included.
enum {
    PORT_NAME_CHARS = 1024,
    PRINTER_NAME_CHARS = 256,
    URI_BYTES = 1024,
    HOST_BYTES = 1024,
#ifdef NIMBREL_9X
    PATH_BYTES = 1024,
#else
    PATH_BYTES = 512,
#endif
    PROXY_SERVER_BYTES = 1024,
    PROXY_URL_BYTES = 1024,
    SPOOL_FILE_CHARS = 1024,
    DOCUMENT_NAME_CHARS = 512,

    IPP_CHARSET_BYTES = 32,
    IPP_LANGUAGE_BYTES = 32,
    IPP_PRINTER_URI_BYTES = 1024,
    IPP_USER_NAME_BYTES = 128,
    IPP_JOB_NAME_BYTES = 384,
    IPP_DOCUMENT_NAME_BYTES = 2048,
};

// Bits of PortContext::flags.
#define PORT_FLAG_OPEN 0x40u
#ifdef NIMBREL_9X
#define PORT_FLAG_DOC_ACTIVE 0x01u
#else
#define PORT_FLAG_DOC_ACTIVE 0x08u
#endif

struct JobContext;

// One open port. The same shape serves as a scratch record for EnumPorts, the port dialog and
// AddPort. Fields the status thread shares with spooler threads (flags, wakeEvent, checkInTime,
// printerReachable) are read and written through the helpers below, never as plain fields.
struct PortContext {
    PortContext* next;
    TCHAR portName[PORT_NAME_CHARS];
    DWORD flags;
    TCHAR printerName[PRINTER_NAME_CHARS];
    HANDLE printerHandle;
    HANDLE wakeEvent;
    DWORD currentJobId;
    JobContext* jobs;
    char printerUri[URI_BYTES];
    char path[PATH_BYTES];
    LONG port;
    char host[HOST_BYTES];
    char proxyServer[PROXY_SERVER_BYTES];
    DWORD proxyPort;
    DWORD checkInTime;
    DWORD queryOnAdd;
    DWORD useProxy;
    DWORD printerReachable;
};

// One document between StartDocPort and EndDocPort, or the request record of one printer query.
struct JobContext {
    // IPP request values (all narrow).
    char ippPrinterUri[IPP_PRINTER_URI_BYTES];
    char ippCharset[IPP_CHARSET_BYTES];
    char ippLanguage[IPP_LANGUAGE_BYTES];
    char ippUserName[IPP_USER_NAME_BYTES];
    char ippJobName[IPP_JOB_NAME_BYTES];
    DWORD ippFidelity;
    char ippDocumentName[IPP_DOCUMENT_NAME_BYTES];

    char proxyUrl[PROXY_URL_BYTES];
    DWORD jobId;
    DWORD bytesWritten;
    DWORD chunked;
    SOCKET socket;
    HttpRequestHead request;
    JobContext* next;
    TCHAR spoolFileName[SPOOL_FILE_CHARS];
    HANDLE spoolFile;
    TCHAR documentName[DOCUMENT_NAME_CHARS];
};

// Shared fields: whole 32-bit and pointer values, read and written atomically.
inline DWORD PortFlags(const PortContext* port) {
    return __atomic_load_n(&port->flags, __ATOMIC_SEQ_CST);
}
inline void PortSetFlags(PortContext* port, DWORD bits) {
    __atomic_fetch_or(&port->flags, bits, __ATOMIC_SEQ_CST);
}
inline void PortClearFlags(PortContext* port, DWORD bits) {
    __atomic_fetch_and(&port->flags, ~bits, __ATOMIC_SEQ_CST);
}
inline DWORD LoadShared(const DWORD* field) {
    return __atomic_load_n(field, __ATOMIC_SEQ_CST);
}
inline void StoreShared(DWORD* field, DWORD value) {
    __atomic_store_n(field, value, __ATOMIC_SEQ_CST);
}
inline HANDLE LoadSharedHandle(HANDLE const* field) {
    return __atomic_load_n(field, __ATOMIC_SEQ_CST);
}
inline void StoreSharedHandle(HANDLE* field, HANDLE value) {
    __atomic_store_n(field, value, __ATOMIC_SEQ_CST);
}
