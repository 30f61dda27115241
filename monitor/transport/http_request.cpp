#include "monitor/transport/http_request.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "monitor/core/text.h"
#include "monitor/transport/printer_uri.h"

#ifdef NIMBREL_9X
#define USER_AGENT_LINE USER_AGENT_LINE_9X
#else
#define USER_AGENT_LINE USER_AGENT_LINE_NT
#endif

// A piece that would carry this many bytes goes out as two chunks of half the size.
#define SPLIT_CHUNK_BYTES 48
// Room for one chunk's size line ("400\r\n") and its closing CR LF, rounded up.
#define CHUNK_FRAME_OVERHEAD 8

BOOL InitPostRequestHead(HttpRequestHead* head, const char* printerUri, BOOL http11, char* host,
                         size_t hostBytes, LONG* port) {
    if (head == nullptr) {
        return FALSE;
    }
    CopyText(head->httpVersion, sizeof head->httpVersion, http11 ? "1.1" : "1.0");
    CopyText(head->method, sizeof head->method, "POST");
    CopyText(head->connection, sizeof head->connection, "Keep-Alive");
    CopyText(head->accept, sizeof head->accept, "application/ipp");
    CopyText(head->contentType, sizeof head->contentType, "application/ipp");
    head->hostHeader[0] = '\0';
    if (host == nullptr || port == nullptr || hostBytes == 0) {
        return FALSE;
    }

    // The Host value names the printer, also when the connection goes to a proxy, and always
    // carries the port. A URI that does not split leaves host and port as the caller gave them.
    SplitPrinterUri(printerUri, host, hostBytes, port, nullptr, 0);
    size_t hostChars = BoundedLength(host, hostBytes);
    if (hostChars >= hostBytes) {
        return FALSE;
    }
    // A host that does not fit is refused rather than cut: a cut name would reach another host.
    if (FormatText(head->hostHeader, sizeof head->hostHeader, "%.*s:%ld",
                   static_cast<int>(hostChars), host, static_cast<long>(*port)) < 0) {
        head->hostHeader[0] = '\0';
        return FALSE;
    }
    return TRUE;
}

BOOL InitPostRequest(JobContext* job, char* host, size_t hostBytes, LONG* port, BOOL forceHttp11) {
    if (job == nullptr) {
        return FALSE;
    }
    BOOL http11 = forceHttp11 || job->chunked != 0;
    // The record's URI field may be full to its last byte; the split needs a terminated text.
    char printerUri[IPP_PRINTER_URI_BYTES];
    CopyTextN(printerUri, sizeof printerUri, job->ippPrinterUri,
              BoundedLength(job->ippPrinterUri, sizeof job->ippPrinterUri));
    return InitPostRequestHead(&job->request, printerUri, http11, host, hostBytes, port);
}

// A field may go into a header line only when it is terminated within its capacity and holds
// no CR or LF: a line break inside a value would let a URI or host from the registry add header
// lines of its own to the request.
static bool IsSafeField(const char* field, size_t capacity) {
    size_t length = BoundedLength(field, capacity);
    if (length >= capacity) {
        return false;
    }
    return memchr(field, '\r', length) == nullptr && memchr(field, '\n', length) == nullptr;
}

// The User-Agent line is one line ending in CR LF that fits the line buffer.
static bool IsSafeAgentLine(const char* line) {
    size_t length = BoundedLength(line, HTTP_LINE_BYTES);
    if (length < 2 || length >= HTTP_LINE_BYTES) {
        return false;
    }
    if (line[length - 2] != '\r' || line[length - 1] != '\n') {
        return false;
    }
    return memchr(line, '\r', length - 2) == nullptr && memchr(line, '\n', length - 2) == nullptr;
}

// The head being written: out holds `used` characters and a terminator.
struct HeadText {
    char* out;
    size_t outBytes;
    size_t used;
};

static bool AppendLine(HeadText* text, const char* line) {
    size_t length = strlen(line);
    if (length >= text->outBytes - text->used) {
        return false;
    }
    memcpy(text->out + text->used, line, length + 1);
    text->used += length;
    return true;
}

// Formats one header line in the line buffer and appends it; false when either does not fit.
static bool AppendHeader(HeadText* text, const char* name, const char* value) {
    char line[HTTP_LINE_BYTES];
    if (FormatText(line, sizeof line, "%s: %s\r\n", name, value) < 0) {
        return false;
    }
    return AppendLine(text, line);
}

int FormatRequestHeadWithAgent(const HttpRequestHead* head, const char* userAgentLine, char* out,
                               size_t outBytes) {
    if (out == nullptr || outBytes == 0) {
        return -1;
    }
    out[0] = '\0';
    if (head == nullptr || userAgentLine == nullptr || !IsSafeAgentLine(userAgentLine)) {
        return -1;
    }
    if (!IsSafeField(head->httpVersion, sizeof head->httpVersion) ||
        !IsSafeField(head->connection, sizeof head->connection) ||
        !IsSafeField(head->contentLength, sizeof head->contentLength) ||
        !IsSafeField(head->contentType, sizeof head->contentType) ||
        !IsSafeField(head->requestUri, sizeof head->requestUri) ||
        !IsSafeField(head->method, sizeof head->method) ||
        !IsSafeField(head->hostHeader, sizeof head->hostHeader) ||
        !IsSafeField(head->accept, sizeof head->accept)) {
        return -1;
    }
    // Every request names its printer; an empty Host means InitPostRequest could not hold it.
    if (head->hostHeader[0] == '\0') {
        return -1;
    }

    bool http11 = strncmp(head->httpVersion, "1.1", 3) == 0;
    bool post = strncmp(head->method, "POST", 4) == 0;
    bool chunked = strcmp(head->contentLength, "chunked") == 0;

    HeadText text = {out, outBytes, 0};
    // The request line is written straight into the output: an absolute request-URI through a
    // proxy may be longer than a header line may be.
    int requestLine = FormatText(out, outBytes, "%s %s HTTP/%s\r\n", head->method, head->requestUri,
                                 head->httpVersion);
    bool ok = requestLine >= 0;
    if (ok) {
        text.used = static_cast<size_t>(requestLine);
    }
    ok = ok && AppendHeader(&text, "Connection", head->connection);
    if (ok && http11 && chunked) {
        ok = AppendHeader(&text, "Transfer-Encoding", "chunked");
    }
    ok = ok && AppendLine(&text, userAgentLine);
    ok = ok && AppendHeader(&text, "Host", head->hostHeader);
    ok = ok && AppendHeader(&text, "Accept", head->accept);
    if (ok && post) {
        ok = AppendHeader(&text, "Content-Type", head->contentType);
    }
    if (ok && post && !chunked) {
        ok = AppendHeader(&text, "Content-Length", head->contentLength);
    }
    ok = ok && AppendLine(&text, "\r\n");
    if (!ok) {
        out[0] = '\0';
        return -1;
    }
    return static_cast<int>(text.used);
}

int FormatRequestHead(const HttpRequestHead* head, char* out, size_t outBytes) {
    return FormatRequestHeadWithAgent(head, USER_AGENT_LINE, out, outBytes);
}

size_t ChunkFramingBytes(size_t count) {
    size_t chunks = count / CHUNK_DATA_BYTES + 3;
    if (chunks > (SIZE_MAX - count) / CHUNK_FRAME_OVERHEAD) {
        return SIZE_MAX;
    }
    return count + CHUNK_FRAME_OVERHEAD * chunks;
}

// Data bytes of the next chunk when `left` bytes remain to be framed.
static size_t NextChunkBytes(size_t left) {
    size_t piece = left < CHUNK_DATA_BYTES ? left : CHUNK_DATA_BYTES;
    // A chunk whose size line would read "30" is never sent: the piece goes as 24 + 24, the way
    // the monitor has always framed it.
    if (piece == SPLIT_CHUNK_BYTES) {
        piece = SPLIT_CHUNK_BYTES / 2;
    }
    return piece;
}

// Characters of the size line "%x\r\n" of a chunk of at most CHUNK_DATA_BYTES.
static size_t SizeLineChars(size_t piece) {
    size_t digits = 1;
    for (size_t rest = piece >> 4; rest != 0; rest >>= 4) {
        ++digits;
    }
    return digits + 2;
}

size_t FrameChunks(const BYTE* data, size_t count, BYTE* out, size_t outBytes) {
    if (count == 0 || data == nullptr || out == nullptr) {
        return 0;
    }
    // First measure, so that a buffer too small gets nothing rather than half the chunks.
    size_t needed = 0;
    for (size_t left = count; left > 0;) {
        size_t piece = NextChunkBytes(left);
        needed += SizeLineChars(piece) + piece + 2;
        if (needed > outBytes) {
            return 0;
        }
        left -= piece;
    }

    size_t written = 0;
    for (size_t done = 0; done < count;) {
        size_t piece = NextChunkBytes(count - done);
        char sizeLine[16];
        int sizeChars = snprintf(sizeLine, sizeof sizeLine, "%x\r\n", static_cast<unsigned>(piece));
        memcpy(out + written, sizeLine, static_cast<size_t>(sizeChars));
        written += static_cast<size_t>(sizeChars);
        memcpy(out + written, data + done, piece);
        written += piece;
        out[written++] = '\r';
        out[written++] = '\n';
        done += piece;
    }
    return written;
}
