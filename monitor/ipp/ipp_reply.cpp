#include "monitor/ipp/ipp_reply.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "monitor/core/text.h"
#include "monitor/ipp/ipp_request.h"

namespace {

// version (2), status-code (2), request-id (4): the attribute groups start behind them.
const size_t IPP_REPLY_HEADER_BYTES = 8;

// Work buffers of the walk: names and text values up to 511 bytes are taken.
const size_t IPP_WORK_TEXT_BYTES = 512;

// The first and last tag of the range the encoding reserves for one-byte group delimiters, and
// the range of value tags (name-length, name, value-length, value).
const BYTE IPP_DELIMITER_TAG_LAST = 0x0F;
const BYTE IPP_VALUE_TAG_FIRST = 0x10;
const BYTE IPP_VALUE_TAG_LAST = 0x7F;

// The first status-code of the error classes (client errors, then server errors).
const LONG IPP_STATUS_CLIENT_ERROR_FIRST = 0x0400;

const LONG HTTP_STATUS_CONTINUE = 100;
const LONG HTTP_STATUS_OK = 200;

size_t ReadWord(const BYTE* at) {
    return (static_cast<size_t>(at[0]) << 8) | static_cast<size_t>(at[1]);
}

DWORD ReadDword(const BYTE* at) {
    return (static_cast<DWORD>(at[0]) << 24) | (static_cast<DWORD>(at[1]) << 16) |
           (static_cast<DWORD>(at[2]) << 8) | static_cast<DWORD>(at[3]);
}

// The name of the attribute the walk is in. A name too long for the work buffer is kept as
// "no name", so neither it nor the additional values that follow it match anything.
struct AttributeName {
    char text[IPP_WORK_TEXT_BYTES];
    size_t length;
};

bool NameIs(const AttributeName& name, const char* wanted) {
    size_t wantedLength = strlen(wanted);
    return name.length == wantedLength && memcmp(name.text, wanted, wantedLength) == 0;
}

void SetWord(char* word, const char* text) {
    if (word != nullptr) {
        CopyText(word, PRINTER_WORD_BYTES, text);
    }
}

void SetWordFromValue(char* word, const BYTE* value, size_t valueBytes) {
    // A longer text does not fit the work buffer: the value is passed over.
    if (word != nullptr && valueBytes < IPP_WORK_TEXT_BYTES) {
        CopyTextN(word, PRINTER_WORD_BYTES, reinterpret_cast<const char*>(value), valueBytes);
    }
}

const char* PrinterStateWord(DWORD state) {
    switch (state) {
    case 3:
        return "Idle";
    case 4:
        return "Processing";
    case 5:
        return "Stop";
    default:
        return nullptr;
    }
}

const char* JobStateWord(DWORD state) {
    switch (state) {
    case 3:
        return "pending";
    case 4:
        return "pending-hold";
    case 5:
        return "processing";
    case 6:
        return "processing-stopped";
    case 7:
        return "canceled";
    case 8:
        return "aborted";
    case 9:
        return "completed";
    default:
        return nullptr;
    }
}

void TakeValue(BYTE tag, const AttributeName& name, const BYTE* value, size_t valueBytes,
               char* stateWord, char* reasonWord, char* makeAndModel) {
    if (tag == IPP_TAG_ENUM) {
        // An enum is 4 bytes; any other length is a broken value and sets nothing.
        if (valueBytes != 4) {
            return;
        }
        DWORD number = ReadDword(value);
        const char* word = nullptr;
        if (NameIs(name, "printer-state")) {
            word = PrinterStateWord(number);
            if (word != nullptr) {
                SetWord(stateWord, word);
            }
        } else if (NameIs(name, "job-state")) {
            word = JobStateWord(number);
            if (word != nullptr) {
                SetWord(reasonWord, word);
            }
        }
    } else if (tag == IPP_TAG_KEYWORD) {
        if (NameIs(name, "printer-state-reasons")) {
            SetWordFromValue(reasonWord, value, valueBytes);
        }
    } else if (tag == IPP_TAG_TEXT) {
        if (NameIs(name, "printer-make-and-model")) {
            SetWordFromValue(makeAndModel, value, valueBytes);
        }
    }
}

// The receive area of one reply, on the heap so the status thread's small stack is spared. It
// starts at REPLY_BUFFER_SIZE and grows only to hold a body the head has announced; one more
// byte always follows the data room for the terminator ParseReplyHead writes.
class ReplyArea {
  public:
    ReplyArea() = default;
    ~ReplyArea() { free(data_); }
    ReplyArea(const ReplyArea&) = delete;
    ReplyArea& operator=(const ReplyArea&) = delete;

    // Makes room for `dataBytes` bytes of data, keeping what is there. FALSE when the memory
    // cannot be had (the area is left as it was).
    BOOL Reserve(size_t dataBytes) {
        if (dataBytes <= capacity_ && data_ != nullptr) {
            return TRUE;
        }
        void* grown = realloc(data_, dataBytes + 1);
        if (grown == nullptr) {
            return FALSE;
        }
        data_ = static_cast<char*>(grown);
        capacity_ = dataBytes;
        return TRUE;
    }

    char* Data() const { return data_; }
    size_t Capacity() const { return capacity_; }

    // Removes `count` bytes (at most `used`) from the front; returns the bytes that remain.
    size_t DropFront(size_t used, size_t count) {
        if (count >= used) {
            return 0;
        }
        memmove(data_, data_ + count, used - count);
        return used - count;
    }

  private:
    char* data_ = nullptr;
    size_t capacity_ = 0;
};

// One receive into the free room of the area. Returns the bytes received, 0 when the receive
// yields nothing (or a broken source claims more than it was offered).
size_t ReceiveInto(const ReplySource* source, ReplyArea* area, size_t used, DWORD timeoutMs) {
    size_t room = area->Capacity() - used;
    if (room == 0) {
        return 0;
    }
    int asked = room > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(room);
    int got = source->receive(source->context, area->Data() + used, asked, timeoutMs);
    if (got <= 0 || got > asked) {
        return 0;
    }
    return static_cast<size_t>(got);
}

} // namespace

void ParseIppReply(const BYTE* body, size_t bodyBytes, char* stateWord, char* reasonWord,
                   char* makeAndModel) {
    if (body == nullptr || bodyBytes <= IPP_REPLY_HEADER_BYTES) {
        return;
    }
    AttributeName name;
    name.text[0] = '\0';
    name.length = 0;

    size_t at = IPP_REPLY_HEADER_BYTES;
    while (at < bodyBytes) {
        BYTE tag = body[at];
        if (tag == IPP_TAG_END) {
            return;
        }
        if (tag != 0x00 && tag <= IPP_DELIMITER_TAG_LAST) {
            // A group delimiter: operation, job, printer, unsupported, or one of the groups
            // later IPP documents added (0x06 to 0x0F). Attributes are recognised by name in
            // any group, so the kind does not matter.
            ++at;
            continue;
        }
        if (tag < IPP_VALUE_TAG_FIRST || tag > IPP_VALUE_TAG_LAST) {
            // 0x00 is never valid and 0x80 to 0xFF are no tags the encoding defines: the walk
            // has lost its footing in the body, and nothing after this point can be trusted.
            return;
        }

        size_t left = bodyBytes - at;
        if (left < 3) {
            return;
        }
        size_t nameBytes = ReadWord(body + at + 1);
        if (left - 3 < nameBytes + 2) {
            return; // the name or the value-length runs past the body
        }
        size_t valueBytes = ReadWord(body + at + 3 + nameBytes);
        if (left - 5 - nameBytes < valueBytes) {
            return; // the value runs past the body
        }
        const BYTE* nameBytesAt = body + at + 3;
        const BYTE* value = body + at + 5 + nameBytes;

        // A name of length 0 marks another value of the attribute before it.
        if (nameBytes > 0) {
            if (nameBytes < IPP_WORK_TEXT_BYTES) {
                memcpy(name.text, nameBytesAt, nameBytes);
                name.text[nameBytes] = '\0';
                name.length = nameBytes;
            } else {
                name.text[0] = '\0';
                name.length = 0;
            }
        }
        TakeValue(tag, name, value, valueBytes, stateWord, reasonWord, makeAndModel);
        at += 5 + nameBytes + valueBytes;
    }
}

int ReadPrinterReply(const ReplySource* source, DWORD timeoutMs, BOOL useProxy, LONG* httpStatus,
                     PrinterWords* words, LONG* ippStatus, DWORD* chunked) {
    LONG httpOut = 0;
    LONG ippOut = 0;
    if (httpStatus != nullptr) {
        *httpStatus = 0;
    }
    if (ippStatus != nullptr) {
        *ippStatus = 0;
    }
    if (source == nullptr || source->receive == nullptr) {
        return 0;
    }

    ReplyArea area;
    if (!area.Reserve(REPLY_BUFFER_SIZE)) {
        SetLastError(ERROR_OUTOFMEMORY);
        return 0;
    }
    HttpReplyHead head;
    memset(&head, 0, sizeof head);

    // Receive until a final head is complete. The head must end within REPLY_BUFFER_SIZE
    // bytes: a full area with no head in it fails like a receive that yields nothing.
    size_t used = 0;
    size_t skip = 0; // body bytes of an interim reply that have not arrived yet
    size_t headBytes = 0;
    LONG bodyLength = 0;
    bool final = false;
    while (!final) {
        size_t got = ReceiveInto(source, &area, used, timeoutMs);
        if (got == 0) {
            if (httpStatus != nullptr) {
                *httpStatus = httpOut;
            }
            return 0;
        }
        used += got;
        if (skip > 0) {
            size_t dropped = skip < used ? skip : used;
            used = area.DropFront(used, dropped);
            skip -= dropped;
        }
        while (used > 0) {
            headBytes = ParseReplyHead(area.Data(), used, &head);
            if (headBytes == 0) {
                break;
            }
            // Read the way atol reads (white space of any kind first), as the Print-Job reader
            // reads them: both readers must frame a reply alike.
            httpOut = ReadDecimal(head.statusCode);
            bodyLength = ReadDecimal(head.contentLength);
            if (bodyLength < 0) {
                bodyLength = 0;
            }
            if (httpOut != HTTP_STATUS_CONTINUE) {
                final = true;
                break;
            }
            // An interim 100 reply: drop its head and the body it announces, also the part of
            // that body still to come.
            size_t interim = headBytes + static_cast<size_t>(bodyLength);
            if (interim <= used) {
                used = area.DropFront(used, interim);
            } else {
                skip = interim - used;
                used = 0;
            }
        }
    }
    if (httpStatus != nullptr) {
        *httpStatus = httpOut;
    }

    if (chunked != nullptr) {
        // Behind a proxy the job always goes as a spool file with a Content-Length.
        *chunked = !useProxy && strcmp(head.httpVersion, "1.1") == 0 ? 1 : 0;
    }
    if (httpOut != HTTP_STATUS_OK) {
        SetLastError(ERROR_CONNECTION_UNAVAIL);
        return 0;
    }

    // A reply without Content-Length has no body the monitor reads: a successful query with
    // empty outputs.
    if (bodyLength <= 0) {
        return 1;
    }
    size_t body = static_cast<size_t>(bodyLength);
    if (body > PRINTER_REPLY_MAX_BYTES - headBytes) {
        return 1; // larger than the monitor reads: nothing parsed, IPP status 0
    }
    size_t total = headBytes + body;
    // Printers answer "all" with tens of kilobytes; the area grows (doubling, never beyond the
    // announced size) as the body arrives, so memory follows what was really received.
    while (used < total) {
        if (used == area.Capacity()) {
            size_t grown = area.Capacity() * 2;
            if (grown > total) {
                grown = total;
            }
            if (!area.Reserve(grown)) {
                return 1; // no memory for the body: as a body that does not fit
            }
        }
        size_t got = ReceiveInto(source, &area, used, timeoutMs);
        if (got == 0) {
            return 1; // the body did not all arrive: nothing parsed
        }
        used += got;
    }

    const BYTE* bodyAt = reinterpret_cast<const BYTE*>(area.Data()) + headBytes;
    if (words != nullptr) {
        ParseIppReply(bodyAt, body, words->stateWord, words->reasonWord, words->makeAndModel);
    }
    if (body >= 4) {
        // The status-code is a 16-bit value; the reader widens it with its sign.
        ippOut = static_cast<short>(static_cast<WORD>(ReadWord(bodyAt + 2)));
        if (ippStatus != nullptr) {
            *ippStatus = ippOut;
        }
    }
    return 1;
}

DWORD IppStatusToError(LONG ippStatus) {
    switch (ippStatus) {
    case 0x0400: // client-error-bad-request
        return ERROR_INVALID_PRINTER_COMMAND;
    case 0x0401: // client-error-forbidden
    case 0x0402: // client-error-not-authenticated
    case 0x0403: // client-error-not-authorized
    case 0x0404: // client-error-not-possible
    case 0x0405: // client-error-timeout
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    case 0x0406: // client-error-not-found
        return ERROR_BAD_DEVICE;
    case 0x0407: // client-error-gone
    case 0x0408: // client-error-request-entity-too-large
    case 0x0409: // client-error-request-value-too-long
        return ERROR_MONITOR_IPP;
    case 0x040A: // client-error-document-format-not-supported
        return ERROR_BAD_FORMAT;
    case 0x0500: // server-error-internal-error
    case 0x0501: // server-error-operation-not-supported
        return ERROR_INVALID_PRINTER_COMMAND;
    case 0x0502: // server-error-service-unavailable
        return ERROR_CONNECTION_UNAVAIL;
    case 0x0503: // server-error-version-not-supported
    case 0x0504: // server-error-device-error
    case 0x0505: // server-error-temporary-error
    case 0x0506: // server-error-not-accepting-jobs
    case 0x0507: // server-error-busy
        return ERROR_BUSY;
    case 0x0508: // server-error-job-canceled
        return ERROR_MONITOR_IPP;
    default:
        break;
    }
    // The reader widens the 16-bit code with its sign: a negative value is a code of 0x8000 or
    // more. Successful, informational and redirection codes lie below the client errors.
    if (ippStatus >= 0 && ippStatus < IPP_STATUS_CLIENT_ERROR_FIRST) {
        return 0;
    }
    // Every other client or server error (a printer refusing a document's type answers
    // 0x040B, for one) must fail the job rather than pass as printed. Codes above the server
    // errors (0x0600 and up) belong to no class the standard defines; none of them says the
    // request succeeded, so they fail too.
    return ERROR_MONITOR_IPP;
}
