#include "monitor/transport/http_reply.h"

#include <string.h>

#include "monitor/core/text.h"

#define HTTP_STATUS_CONTINUE 100
#define HTTP_STATUS_OK 200

static const char CONTENT_LENGTH_NAME[] = "Content-Length:";
#define CONTENT_LENGTH_NAME_CHARS (sizeof CONTENT_LENGTH_NAME - 1)

// Where a token of the status line ends: at its first space or CR, whichever comes first.
static size_t TokenEnd(const char* text, size_t start, size_t textChars) {
    size_t i = start;
    while (i < textChars && text[i] != ' ' && text[i] != '\r') {
        ++i;
    }
    return i;
}

size_t ParseReplyHead(char* area, size_t dataBytes, HttpReplyHead* head) {
    if (area == nullptr || head == nullptr) {
        return 0;
    }
    // The data is read as text: the terminator bounds every scan below, and a NUL byte from the
    // printer ends the text early, like any head that is not complete yet.
    area[dataBytes] = '\0';
    if (strstr(area, "\r\n\r\n") == nullptr) {
        return 0;
    }
    size_t textChars = strlen(area);
    // A complete head holds an LF, at the latest the one of its closing CR LF CR LF.
    const char* statusLineEnd = static_cast<const char*>(memchr(area, '\n', textChars));
    size_t statusLineChars = static_cast<size_t>(statusLineEnd - area) + 1;

    // A value too long for its field makes the head malformed: it is never cut, since a cut
    // number reads as another number. A malformed head gets an empty status code (status 0),
    // so that every reader fails the reply instead of guessing at it.
    bool malformed = false;

    size_t versionEnd = TokenEnd(area, 0, textChars);
    const char* slash = static_cast<const char*>(memchr(area, '/', versionEnd));
    if (slash == nullptr) {
        CopyText(head->httpVersion, sizeof head->httpVersion, "1.1");
    } else {
        size_t after = versionEnd - static_cast<size_t>(slash + 1 - area);
        CopyTextN(head->httpVersion, sizeof head->httpVersion, slash + 1, after < 3 ? after : 3);
    }

    size_t codeStart = versionEnd < textChars ? versionEnd + 1 : textChars;
    size_t codeEnd = TokenEnd(area, codeStart, textChars);
    if (!CopyTextN(head->statusCode, sizeof head->statusCode, area + codeStart,
                   codeEnd - codeStart)) {
        malformed = true;
    }

    // The record describes this head alone: a Content-Length of an interim reply read before
    // must not frame the body of the final one.
    head->contentLength[0] = '\0';

    size_t pos = statusLineChars;
    while (!(area[pos] == '\r' && area[pos + 1] == '\n')) {
        const char* lineEnd = static_cast<const char*>(memchr(area + pos, '\n', textChars - pos));
        if (lineEnd == nullptr) {
            return 0;
        }
        size_t lineChars = static_cast<size_t>(lineEnd - (area + pos)) + 1;
        if (lineChars > CONTENT_LENGTH_NAME_CHARS &&
            CompareNoCaseN(area + pos, CONTENT_LENGTH_NAME, CONTENT_LENGTH_NAME_CHARS) == 0) {
            size_t valueStart = pos + CONTENT_LENGTH_NAME_CHARS;
            while (area[valueStart] == ' ' || area[valueStart] == '\t') {
                ++valueStart;
            }
            size_t valueEnd = valueStart;
            while (area[valueEnd] != '\r' && area[valueEnd] != '\n') {
                ++valueEnd;
            }
            if (!CopyTextN(head->contentLength, sizeof head->contentLength, area + valueStart,
                           valueEnd - valueStart)) {
                malformed = true;
            }
        }
        pos += lineChars;
    }

    if (malformed) {
        head->statusCode[0] = '\0';
        head->contentLength[0] = '\0';
    }
    return pos + 2;
}

// Removes `count` bytes (at most all of them) from the front of the area.
static void DropFront(char* area, size_t* used, size_t count) {
    if (count >= *used) {
        *used = 0;
        return;
    }
    memmove(area, area + count, *used - count);
    *used -= count;
}

// One receive into the free part of the area. False when the source yields nothing, claims more
// than it was offered, or the area is full (a head that does not end within the area).
static bool ReceiveMore(const ReplySource* source, char* area, size_t* used, DWORD timeoutMs) {
    size_t room = REPLY_BUFFER_SIZE - *used;
    if (room == 0) {
        return false;
    }
    int count = source->receive(source->context, area + *used, static_cast<int>(room), timeoutMs);
    if (count <= 0 || static_cast<size_t>(count) > room) {
        return false;
    }
    *used += static_cast<size_t>(count);
    return true;
}

// Body bytes 2 and 3 as the signed 16-bit IPP status-code.
static LONG IppStatusOf(const char* body) {
    LONG value = (static_cast<LONG>(static_cast<unsigned char>(body[2])) << 8) |
                 static_cast<LONG>(static_cast<unsigned char>(body[3]));
    return value >= 0x8000 ? value - 0x10000 : value;
}

int ReadHttpReplyFrom(const ReplySource* source, LONG* ippStatus, DWORD timeoutMs) {
    LONG ignored = 0;
    if (ippStatus == nullptr) {
        ippStatus = &ignored;
    }
    *ippStatus = 0;
    if (source == nullptr || source->receive == nullptr) {
        return HTTP_STATUS_NO_REPLY;
    }

    char area[REPLY_BUFFER_SIZE + 1];
    HttpReplyHead head;
    memset(&head, 0, sizeof head);
    size_t used = 0;
    // Body bytes of an interim reply that were announced but had not arrived when it was
    // dropped: they are dropped as they come, so that they are never taken for a head.
    size_t skip = 0;

    for (;;) {
        if (!ReceiveMore(source, area, &used, timeoutMs)) {
            return HTTP_STATUS_NO_REPLY;
        }
        if (skip > 0) {
            size_t drop = skip < used ? skip : used;
            DropFront(area, &used, drop);
            skip -= drop;
            if (skip > 0) {
                continue;
            }
            if (used == 0) {
                return HTTP_STATUS_CONTINUE;
            }
        }

        for (;;) {
            size_t headBytes = ParseReplyHead(area, used, &head);
            if (headBytes == 0) {
                break;
            }
            LONG status = ReadDecimal(head.statusCode);
            // A negative length is no number of bytes: it counts as none, as text does.
            LONG announced = ReadDecimal(head.contentLength);
            size_t bodyBytes = announced > 0 ? static_cast<size_t>(announced) : 0;

            if (status == HTTP_STATUS_CONTINUE) {
                size_t interimBytes = headBytes + bodyBytes;
                if (interimBytes > used) {
                    skip = interimBytes - used;
                    used = 0;
                    break;
                }
                DropFront(area, &used, interimBytes);
                if (used == 0) {
                    return HTTP_STATUS_CONTINUE;
                }
                continue;
            }
            if (status != HTTP_STATUS_OK) {
                SetLastError(ERROR_CONNECTION_UNAVAIL);
                return static_cast<int>(status);
            }

            // A reply that fits the area is read whole; a larger one is not waited for.
            size_t replyBytes = headBytes + bodyBytes;
            if (bodyBytes > 0 && replyBytes <= REPLY_BUFFER_SIZE) {
                while (used < replyBytes) {
                    if (!ReceiveMore(source, area, &used, timeoutMs)) {
                        return HTTP_STATUS_NO_REPLY;
                    }
                }
            }
            if (replyBytes <= used && bodyBytes >= 4) {
                *ippStatus = IppStatusOf(area + headBytes);
            }
            return HTTP_STATUS_OK;
        }
    }
}
