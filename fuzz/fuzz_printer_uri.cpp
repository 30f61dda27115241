// The texts the transport takes from the registry and the dialog and the texts it builds from
// them: SplitPrinterUri, the three validators, FormatProxyUrl, FormatAbsoluteRequestUri, the
// request head (InitPostRequestHead, FormatRequestHead) and the chunk framing of document data.
//
// Input: byte 0 flags, byte 1 destination sizes, then NUL-separated fields: printer URI, proxy
// server, proxy port text, and the raw head fields method, httpVersion, connection,
// contentLength, contentType, accept, requestUri, hostHeader. The whole input is also framed as
// document data.
//
// Every destination is a heap block of exactly its capacity, so AddressSanitizer sees any write
// past it. Each result is compared with what the behaviour described in the headers gives,
// worked out here independently: the split's parts, the validators' verdicts (from the rules
// the port dialog applies), the exact formatted texts, and the exact request head, which must
// come out whole or not at all, with no CR or LF but those that end its lines.
#include <ctype.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "monitor/core/records.h"
#include "monitor/core/text.h"
#include "monitor/transport/http_request.h"
#include "monitor/transport/printer_uri.h"

namespace {

const BYTE SENTINEL = 0xA5;

// A heap block of exactly `bytes` bytes, filled with SENTINEL.
struct Block {
    std::vector<char> memory;
    explicit Block(size_t bytes) : memory(bytes, static_cast<char>(SENTINEL)) {}
    char* Data() { return memory.data(); }
    size_t Size() const { return memory.size(); }
    bool Untouched() const {
        for (char c : memory) {
            if (static_cast<BYTE>(c) != SENTINEL) {
                return false;
            }
        }
        return true;
    }
    // The terminated text in the block; the check fails if there is no terminator.
    std::string Text() const {
        const void* end = memchr(memory.data(), '\0', memory.size());
        FUZZ_CHECK(end != nullptr);
        return std::string(memory.data(), static_cast<const char*>(end));
    }
};

// ---- The rules, worked out again ----

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Value of a digit string, or 65536 and more for anything larger.
unsigned long CappedValue(const std::string& digits, unsigned base) {
    unsigned long value = 0;
    for (char c : digits) {
        unsigned digit = IsDigit(c) ? static_cast<unsigned>(c - '0')
                                    : static_cast<unsigned>((c | 0x20) - 'a' + 10);
        value = value * base + digit;
        if (value > 65536) {
            return 65536;
        }
    }
    return value;
}

bool ExpectValidPort(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!IsDigit(c)) {
            return false;
        }
    }
    return CappedValue(text, 10) <= 65535;
}

bool ExpectValidPath(const std::string& text) {
    return !text.empty() && text.find_first_of(" \"#<>[\\]^`{|}") == std::string::npos;
}

bool ExpectValidHost(const std::string& text) {
    if (text.empty() || text.size() > 1023) {
        return false;
    }
    for (char c : text) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !IsDigit(c) && c != '-' && c != '.') {
            return false;
        }
    }
    int counted = 0;
    bool numbersOnly = true;
    size_t start = 0;
    while (start <= text.size()) {
        size_t dot = text.find('.', start);
        if (dot == std::string::npos) {
            dot = text.size();
        }
        std::string label = text.substr(start, dot - start);
        start = dot + 1;
        if (label.empty()) {
            continue;
        }
        if (label.size() >= 2 && label[0] == '0' && (label[1] == 'x' || label[1] == 'X')) {
            std::string hex;
            for (size_t i = 2; i < label.size() && isxdigit(static_cast<unsigned char>(label[i]));
                 ++i) {
                hex += label[i];
            }
            if (CappedValue(hex, 16) > 255) {
                return false;
            }
            ++counted;
        } else if (label.find_first_not_of("0123456789") == std::string::npos) {
            if (numbersOnly) {
                if (CappedValue(label, 10) > 255) {
                    return false;
                }
                ++counted;
            }
        } else {
            numbersOnly = false;
        }
        if (counted > 4) {
            return false;
        }
    }
    return true;
}

// What SplitPrinterUri gives, as its header describes it.
struct Split {
    BOOL result = FALSE;
    bool hostWritten = false;
    bool pathWritten = false;
    std::string host;
    LONG port = 0;
    std::string path;
};

Split ExpectSplit(const std::string& uri, size_t hostBytes, size_t pathBytes) {
    Split s;
    size_t slashes = uri.find("//");
    if (slashes == std::string::npos) {
        return s;
    }
    size_t authority = slashes + 2;
    size_t pathStart = uri.find('/', authority);
    s.result = TRUE;
    if (pathStart == std::string::npos) {
        return s;
    }
    size_t authorityChars = pathStart - authority;
    std::string path = uri.substr(pathStart);
    if (authorityChars > URI_AUTHORITY_MAX_CHARS || path.size() >= pathBytes) {
        s.result = FALSE;
        return s;
    }
    if (authorityChars == 0) {
        s.pathWritten = true;
        s.path = path;
        return s;
    }
    size_t hostStart = authority;
    while (hostStart < pathStart && uri[hostStart] == ':') {
        ++hostStart;
    }
    if (hostStart == pathStart) {
        s.result = FALSE;
        return s;
    }
    size_t hostEnd = uri.find(':', hostStart);
    if (hostEnd == std::string::npos || hostEnd > pathStart) {
        hostEnd = pathStart;
    }
    if (hostEnd - hostStart >= hostBytes) {
        s.result = FALSE;
        return s;
    }
    s.hostWritten = s.pathWritten = true;
    s.host = uri.substr(hostStart, hostEnd - hostStart);
    s.path = path;
    s.port = IPP_DEFAULT_PORT;
    if (hostEnd + 1 < pathStart) {
        s.port = ReadDecimal(uri.substr(hostEnd + 1, pathStart - hostEnd - 1).c_str());
    }
    return s;
}

// A field may go into the head when it is terminated within its capacity and holds no line
// break.
bool FieldText(const char* field, size_t capacity, std::string* text) {
    const void* end = memchr(field, '\0', capacity);
    if (end == nullptr) {
        return false;
    }
    *text = std::string(field, static_cast<const char*>(end));
    return text->find_first_of("\r\n") == std::string::npos;
}

// The head FormatRequestHead writes, or false when it must refuse it.
bool ExpectHead(const HttpRequestHead& head, size_t outBytes, std::string* text) {
    std::string version, connection, length, type, uri, method, host, accept;
    if (!FieldText(head.httpVersion, sizeof head.httpVersion, &version) ||
        !FieldText(head.connection, sizeof head.connection, &connection) ||
        !FieldText(head.contentLength, sizeof head.contentLength, &length) ||
        !FieldText(head.contentType, sizeof head.contentType, &type) ||
        !FieldText(head.requestUri, sizeof head.requestUri, &uri) ||
        !FieldText(head.method, sizeof head.method, &method) ||
        !FieldText(head.hostHeader, sizeof head.hostHeader, &host) ||
        !FieldText(head.accept, sizeof head.accept, &accept) || host.empty()) {
        return false;
    }
    bool http11 = version.compare(0, 3, "1.1") == 0;
    bool post = method.compare(0, 4, "POST") == 0;
    bool chunked = length == "chunked";
    std::vector<std::string> headers;
    headers.push_back("Connection: " + connection + "\r\n");
    if (http11 && chunked) {
        headers.push_back("Transfer-Encoding: chunked\r\n");
    }
    headers.push_back("Host: " + host + "\r\n");
    headers.push_back("Accept: " + accept + "\r\n");
    if (post) {
        headers.push_back("Content-Type: " + type + "\r\n");
    }
    if (post && !chunked) {
        headers.push_back("Content-Length: " + length + "\r\n");
    }
    *text = method + " " + uri + " HTTP/" + version + "\r\n";
    for (const std::string& line : headers) {
        if (line.size() + 1 > HTTP_LINE_BYTES) {
            return false;
        }
        if (line.compare(0, 6, "Host: ") == 0) {
            *text += USER_AGENT_LINE_NT;
        }
        *text += line;
    }
    *text += "\r\n";
    return text->size() + 1 <= outBytes;
}

// ---- The calls ----

void CheckValidators(const std::string& text) {
    FUZZ_CHECK((IsValidHostName(text.c_str()) != FALSE) == ExpectValidHost(text));
    FUZZ_CHECK((IsValidUriPath(text.c_str()) != FALSE) == ExpectValidPath(text));
    FUZZ_CHECK((IsValidPortText(text.c_str()) != FALSE) == ExpectValidPort(text));
}

const LONG PORT_BEFORE = -7777;

void CheckSplit(const std::string& uri, size_t hostBytes, size_t pathBytes) {
    Block host(hostBytes);
    Block path(pathBytes);
    LONG port = PORT_BEFORE;
    BOOL result =
        SplitPrinterUri(uri.c_str(), host.Data(), host.Size(), &port, path.Data(), path.Size());
    Split expected = ExpectSplit(uri, hostBytes, pathBytes);
    FUZZ_CHECK(result == expected.result);
    if (expected.hostWritten) {
        FUZZ_CHECK(host.Text() == expected.host);
        FUZZ_CHECK(port == expected.port);
    } else {
        FUZZ_CHECK(host.Untouched());
        FUZZ_CHECK(port == PORT_BEFORE);
    }
    if (expected.pathWritten) {
        FUZZ_CHECK(path.Text() == expected.path);
    } else {
        FUZZ_CHECK(path.Untouched());
    }
    if (expected.hostWritten) {
        CheckValidators(expected.host);
        CheckValidators(expected.path);
    }
}

// A formatted URI: the whole expected text, or -1 and an empty destination.
void CheckFormatted(int length, Block* dst, const std::string& expected) {
    if (expected.size() + 1 <= dst->Size()) {
        FUZZ_CHECK(length == static_cast<int>(expected.size()));
        FUZZ_CHECK(dst->Text() == expected);
    } else {
        FUZZ_CHECK(length == -1);
        FUZZ_CHECK(dst->Size() == 0 || dst->memory[0] == '\0');
    }
}

void CheckHead(const HttpRequestHead& head, size_t outBytes) {
    Block out(outBytes);
    int length = FormatRequestHead(&head, out.Data(), out.Size());
    std::string expected;
    if (ExpectHead(head, outBytes, &expected)) {
        FUZZ_CHECK(length == static_cast<int>(expected.size()));
        FUZZ_CHECK(out.Text() == expected);
        // Line breaks only where lines end, and the only empty line is the last one.
        for (size_t i = 0; i < expected.size(); ++i) {
            if (expected[i] == '\r') {
                FUZZ_CHECK(i + 1 < expected.size() && expected[i + 1] == '\n');
            }
            if (expected[i] == '\n') {
                FUZZ_CHECK(i > 0 && expected[i - 1] == '\r');
            }
        }
        FUZZ_CHECK(expected.find("\r\n\r\n") == expected.size() - 4);
    } else {
        FUZZ_CHECK(length == -1);
        FUZZ_CHECK(outBytes == 0 || out.memory[0] == '\0');
    }
}

// Puts a fuzzed value into a head field: terminated when it fits, else filling the whole field
// without a terminator (a value read from elsewhere without its end).
void SetRawField(char* field, size_t capacity, const uint8_t* bytes, size_t count) {
    if (count < capacity) {
        memcpy(field, bytes, count);
        field[count] = '\0';
    } else {
        memcpy(field, bytes, capacity);
    }
}

// Frames data as chunks and reads the chunks back.
void CheckChunks(const uint8_t* data, size_t size) {
    size_t room = ChunkFramingBytes(size);
    Block out(room);
    size_t written = FrameChunks(data, size, reinterpret_cast<BYTE*>(out.Data()), out.Size());
    if (size == 0) {
        FUZZ_CHECK(written == 0);
        return;
    }
    FUZZ_CHECK(written > size && written <= room);

    std::string framed(out.Data(), written);
    std::string decoded;
    size_t at = 0;
    while (at < framed.size()) {
        size_t lineEnd = framed.find("\r\n", at);
        FUZZ_CHECK(lineEnd != std::string::npos && lineEnd > at);
        std::string sizeLine = framed.substr(at, lineEnd - at);
        FUZZ_CHECK(sizeLine.find_first_not_of("0123456789abcdef") == std::string::npos);
        FUZZ_CHECK(sizeLine.size() == 1 || sizeLine[0] != '0');
        size_t piece = strtoul(sizeLine.c_str(), nullptr, 16);
        FUZZ_CHECK(piece > 0 && piece <= CHUNK_DATA_BYTES && piece != 48);
        at = lineEnd + 2;
        FUZZ_CHECK(at + piece + 2 <= framed.size());
        decoded.append(framed, at, piece);
        at += piece;
        FUZZ_CHECK(framed.compare(at, 2, "\r\n") == 0);
        at += 2;
    }
    FUZZ_CHECK(decoded.size() == size && memcmp(decoded.data(), data, size) == 0);

    // One byte less than the framing needs: nothing is written.
    Block tight(written - 1);
    FUZZ_CHECK(FrameChunks(data, size, reinterpret_cast<BYTE*>(tight.Data()), tight.Size()) == 0);
    FUZZ_CHECK(tight.Untouched());
}

std::string FieldString(FuzzInput* input) {
    const uint8_t* start = nullptr;
    size_t length = input->Field(&start);
    return std::string(reinterpret_cast<const char*>(start), length);
}

const size_t HOST_SIZES[] = {HOST_BYTES, 1, 16, 64};
const size_t PATH_SIZES[] = {PATH_BYTES, 1, 8, 128};
const size_t HEAD_SIZES[] = {4096, 1, 128, 512};
const size_t URI_SIZES[] = {PROXY_URL_BYTES, 1, 24, HTTP_REQUEST_URI_BYTES};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input{data, size, 0};
    uint8_t flags = input.Byte();
    uint8_t sizes = input.Byte();
    BOOL http11 = (flags & 1) != 0;
    bool useProxy = (flags & 2) != 0;
    bool chunked = (flags & 4) != 0;
    bool raw = (flags & 8) != 0;
    size_t hostBytes = HOST_SIZES[sizes & 3];
    size_t pathBytes = PATH_SIZES[(sizes >> 2) & 3];
    size_t headBytes = HEAD_SIZES[(sizes >> 4) & 3];
    size_t uriBytes = URI_SIZES[(sizes >> 6) & 3];

    std::string uri = FieldString(&input);
    std::string proxyServer = FieldString(&input);
    std::string proxyPortText = FieldString(&input);

    CheckValidators(uri);
    CheckValidators(proxyServer);
    CheckValidators(proxyPortText);
    CheckSplit(uri, hostBytes, pathBytes);
    CheckSplit(uri, HOST_BYTES, PATH_BYTES);

    // The proxy URI and the absolute request-URI.
    DWORD proxyPort = static_cast<DWORD>(ReadDecimal(proxyPortText.c_str()));
    Block proxyUrl(uriBytes);
    int length = FormatProxyUrl(proxyUrl.Data(), proxyUrl.Size(), proxyServer.c_str(), proxyPort);
    CheckFormatted(length, &proxyUrl,
                   "http://" + proxyServer + ":" + std::to_string(proxyPort) + "/");

    LONG printerPort = ReadDecimal(proxyPortText.c_str());
    Block absolute(uriBytes);
    length = FormatAbsoluteRequestUri(absolute.Data(), absolute.Size(), proxyServer.c_str(),
                                      printerPort, uri.c_str());
    CheckFormatted(length, &absolute,
                   "http://" + proxyServer + ":" + std::to_string(printerPort) + uri);

    // The request head, as the transport fills it from the printer URI, or with raw fields.
    HttpRequestHead* head = new HttpRequestHead;
    memset(head, 0, sizeof *head);
    if (!raw) {
        char host[HOST_BYTES] = "";
        LONG port = 0;
        char path[PATH_BYTES] = "/";
        SplitPrinterUri(uri.c_str(), nullptr, 0, nullptr, path, sizeof path);
        BOOL init = InitPostRequestHead(head, uri.c_str(), http11, host, sizeof host, &port);
        FUZZ_CHECK(memchr(host, '\0', sizeof host) != nullptr);
        if (!init) {
            FUZZ_CHECK(head->hostHeader[0] == '\0');
        }
        if (useProxy) {
            FormatAbsoluteRequestUri(head->requestUri, sizeof head->requestUri, host, port, path);
        } else {
            CopyText(head->requestUri, sizeof head->requestUri, path);
        }
        CopyText(head->contentLength, sizeof head->contentLength,
                 chunked ? "chunked" : proxyPortText.c_str());
    } else {
        struct Field {
            char* at;
            size_t capacity;
        } fields[] = {
            {head->method, sizeof head->method},
            {head->httpVersion, sizeof head->httpVersion},
            {head->connection, sizeof head->connection},
            {head->contentLength, sizeof head->contentLength},
            {head->contentType, sizeof head->contentType},
            {head->accept, sizeof head->accept},
            {head->requestUri, sizeof head->requestUri},
            {head->hostHeader, sizeof head->hostHeader},
        };
        for (const Field& field : fields) {
            const uint8_t* start = nullptr;
            size_t count = input.Field(&start);
            SetRawField(field.at, field.capacity, start, count);
        }
    }
    CheckHead(*head, headBytes);
    CheckHead(*head, 4096);
    delete head;

    CheckChunks(data, size);
    return 0;
}
