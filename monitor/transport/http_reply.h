// Reading an HTTP reply: the head parser and the whole reading of one reply over any source of
// bytes. Platform-free: the Winsock reader in connection.h feeds it from a socket, tests and
// fuzzers from memory.
#pragma once

#include <stddef.h>

#include "monitor/core/portable.h"
#include "monitor/transport/http_head.h"

// Receive area for one reply: head and body together.
#define REPLY_BUFFER_SIZE 20480

// Result of a reading that got nothing, or not enough, within the time-out.
#define HTTP_STATUS_NO_REPLY 408

// Parses a complete head at the start of area (dataBytes of data; area must have room for one
// more byte, the terminator written after the data). Returns the head length, or 0 while the
// head is not complete.
size_t ParseReplyHead(char* area, size_t dataBytes, HttpReplyHead* head);

// A source of reply bytes: receives at most `size` bytes within timeoutMs; returns the count, or
// 0 for time-out, closed connection or error.
struct ReplySource {
    int (*receive)(void* context, char* buffer, int size, DWORD timeoutMs);
    void* context;
};

// Reads one reply: skips interim 100 replies, returns the final status (100 when only an interim
// reply came, 408 when nothing or not enough came). For 200 with a complete body, *ippStatus is
// the body's status-code; otherwise 0. A final status other than 100 and 200 leaves last error
// ERROR_CONNECTION_UNAVAIL.
int ReadHttpReplyFrom(const ReplySource* source, LONG* ippStatus, DWORD timeoutMs);
