// The request head of one HTTP transaction and the parsed head of a reply.
#pragma once

#include "monitor/core/portable.h"

enum {
    HTTP_VERSION_BYTES = 80,
    HTTP_FIELD_BYTES = 128,
    HTTP_METHOD_BYTES = 8,
    HTTP_REQUEST_URI_BYTES = 1024,
};

// What FormatRequestHead writes, field by field. Every field is a NUL-terminated narrow text.
struct HttpRequestHead {
    char httpVersion[HTTP_VERSION_BYTES]; // "1.1" or "1.0"
    char connection[HTTP_FIELD_BYTES];    // "Keep-Alive"
    char contentLength[HTTP_FIELD_BYTES]; // decimal body length, or "chunked"
    char contentType[HTTP_FIELD_BYTES];   // "application/ipp"
    char requestUri[HTTP_REQUEST_URI_BYTES];
    char method[HTTP_METHOD_BYTES];    // "POST"
    char hostHeader[HTTP_FIELD_BYTES]; // printer host ":" port
    char accept[HTTP_FIELD_BYTES];     // "application/ipp"
};

// What ParseReplyHead takes from a reply head.
struct HttpReplyHead {
    char httpVersion[HTTP_VERSION_BYTES]; // three characters after the "/" of the status line
    char statusCode[HTTP_FIELD_BYTES];    // e.g. "200"
    char contentLength[HTTP_FIELD_BYTES]; // empty when the reply has no Content-Length
};
