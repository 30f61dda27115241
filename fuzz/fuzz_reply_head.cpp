// ParseReplyHead over arbitrary bytes, in an area exactly as large as the data plus the one byte
// the parser writes, so that AddressSanitizer sees any read or write beyond it.
//
// Checks: the head length lies within the data and ends in an empty line's LF; the fields are
// terminated within their capacity; the version holds at most three characters; and the head is
// the same whatever follows it: the shortest complete prefix of the data (up to its first
// CR LF CR LF) parses to the same length and fields as the whole, since the readers parse the
// area again after every receive and must not see the head change as the body arrives.
#include <string.h>

#include <vector>

#include "fuzz/fuzz_check.h"
#include "monitor/transport/http_reply.h"

namespace {

struct Parsed {
    size_t headBytes;
    HttpReplyHead head;
};

void CheckField(const char* field, size_t capacity) {
    FUZZ_CHECK(memchr(field, '\0', capacity) != nullptr);
}

Parsed Parse(const uint8_t* data, size_t size) {
    // A fresh area each time, one byte larger than the data: the terminator's place.
    std::vector<char> area(size + 1, 'T');
    if (size > 0) {
        memcpy(area.data(), data, size);
    }
    Parsed parsed;
    memset(&parsed.head, 0, sizeof parsed.head);
    parsed.headBytes = ParseReplyHead(area.data(), size, &parsed.head);

    FUZZ_CHECK(area[size] == '\0');
    FUZZ_CHECK(memcmp(area.data(), data, size) == 0); // the data itself is only read
    FUZZ_CHECK(parsed.headBytes <= size);
    if (parsed.headBytes > 0) {
        FUZZ_CHECK(parsed.headBytes >= 2);
        FUZZ_CHECK(area[parsed.headBytes - 2] == '\r' && area[parsed.headBytes - 1] == '\n');
        // A complete head never holds a NUL: the data is read as text.
        FUZZ_CHECK(memchr(area.data(), '\0', parsed.headBytes) == nullptr);
        CheckField(parsed.head.httpVersion, sizeof parsed.head.httpVersion);
        CheckField(parsed.head.statusCode, sizeof parsed.head.statusCode);
        CheckField(parsed.head.contentLength, sizeof parsed.head.contentLength);
        FUZZ_CHECK(strlen(parsed.head.httpVersion) <= 3);
    }
    return parsed;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Parsed whole = Parse(data, size);

    // The first CR LF CR LF of the text (up to the first NUL).
    size_t textChars = 0;
    while (textChars < size && data[textChars] != 0) {
        ++textChars;
    }
    const char* text = reinterpret_cast<const char*>(data);
    size_t complete = 0;
    for (size_t i = 0; i + 4 <= textChars; ++i) {
        if (memcmp(text + i, "\r\n\r\n", 4) == 0) {
            complete = i + 4;
            break;
        }
    }
    FUZZ_CHECK((whole.headBytes > 0) == (complete > 0));
    if (complete > 0 && complete < size) {
        Parsed prefix = Parse(data, complete);
        FUZZ_CHECK(prefix.headBytes == whole.headBytes);
        FUZZ_CHECK(strcmp(prefix.head.httpVersion, whole.head.httpVersion) == 0);
        FUZZ_CHECK(strcmp(prefix.head.statusCode, whole.head.statusCode) == 0);
        FUZZ_CHECK(strcmp(prefix.head.contentLength, whole.head.contentLength) == 0);
    }
    return 0;
}
