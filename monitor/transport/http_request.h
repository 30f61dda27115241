// The request head of an IPP POST, rendered as it goes on the wire, and chunked body framing.
// Platform-free.
#pragma once

#include <stddef.h>

#include "monitor/core/records.h"

// The User-Agent line of each build.
#define USER_AGENT_LINE_NT "User-Agent: Nimbrel/R1.1 (WinNT40)\r\n"
#define USER_AGENT_LINE_9X "User-Agent: Nimbrel/R1.1 (Win9X)\r\n"

// Largest number of document bytes in one chunk.
#define CHUNK_DATA_BYTES 1024

// Each header line (CR LF and terminator included) is formatted in a line buffer of this size.
#define HTTP_LINE_BYTES 512

// Fills method, httpVersion ("1.1" when http11, else "1.0"), hostHeader, connection, contentType
// and accept. host/port are in-out: on return they hold the printer's host and port as split
// from printerUri (left as passed when the URI does not split). Returns FALSE when host and port
// do not fit the Host field; hostHeader is then empty and FormatRequestHead refuses the head.
BOOL InitPostRequestHead(HttpRequestHead* head, const char* printerUri, BOOL http11, char* host,
                         size_t hostBytes, LONG* port);

// The same for a request record: the version follows forceHttp11 or the record's `chunked`.
BOOL InitPostRequest(JobContext* job, char* host, size_t hostBytes, LONG* port, BOOL forceHttp11);

// Writes the head (request line, header lines, empty line) as a terminated text. Returns its
// length, or -1 (and an empty text) when it does not fit into out, a header line does not fit
// HTTP_LINE_BYTES, a field is unterminated or holds CR or LF, or hostHeader is empty.
int FormatRequestHead(const HttpRequestHead* head, char* out, size_t outBytes);
// The same with a given User-Agent line (tests check both builds' heads).
int FormatRequestHeadWithAgent(const HttpRequestHead* head, const char* userAgentLine, char* out,
                               size_t outBytes);

// Room needed to frame `count` document bytes as chunks: count + 8 * (count / 1024 + 3).
size_t ChunkFramingBytes(size_t count);

// Frames data as chunks of at most 1024 bytes (a piece of exactly 48 bytes goes as 24 + 24).
// Returns the bytes written to out, or 0 when count is 0 or out is too small.
size_t FrameChunks(const BYTE* data, size_t count, BYTE* out, size_t outBytes);

// The chunk that ends a chunked body.
#define LAST_CHUNK "0\r\n\r\n"
#define LAST_CHUNK_BYTES 5
