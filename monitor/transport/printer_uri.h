// Printer URIs: the split into host, port and path, the three syntax tests of the port dialog,
// and the two URI forms the transport builds (proxy URI, absolute request-URI).
// Platform-free.
#pragma once

#include <stddef.h>

#include "monitor/core/portable.h"

// Port number of a URI that names none, for both "http" and "ipp".
#define IPP_DEFAULT_PORT 631

// Longest authority (host[:port]) the split accepts, in characters.
#define URI_AUTHORITY_MAX_CHARS 1023

// Splits "scheme://authority/path". Destinations are written only as the split finds their
// parts; one that is not written keeps what the caller put there. A null destination is not
// wanted (InitPostRequest needs no path). Returns FALSE, with nothing written, when the text
// holds no "//", when the authority has URI_AUTHORITY_MAX_CHARS + 1 characters or more, when the
// host or the path is longer than its destination, or when the authority is colons only.
BOOL SplitPrinterUri(const char* uri, char* host, size_t hostBytes, LONG* port, char* path,
                     size_t pathBytes);

BOOL IsValidHostName(const char* text);
BOOL IsValidUriPath(const char* text);
BOOL IsValidPortText(const char* text);

// "http://%s:%d/" from the proxy server and port. Returns the length, or -1 (and an empty
// destination) when it does not fit.
int FormatProxyUrl(char* dst, size_t dstBytes, const char* proxyServer, DWORD proxyPort);

// "http://%s:%d%s" from the printer's host, port and path: the request-URI sent to a proxy.
// Returns the length, or -1 (and an empty destination) when it does not fit.
int FormatAbsoluteRequestUri(char* dst, size_t dstBytes, const char* host, LONG port,
                             const char* path);
