#include "monitor/transport/printer_uri.h"

#include <string.h>

#include "monitor/core/text.h"

// Labels of a dotted address hold at most this value, in decimal or in 0x-hexadecimal.
#define ADDRESS_PART_MAX 255u
// A dotted address has at most this many numeric parts.
#define ADDRESS_PARTS_MAX 4
// IsValidHostName handles the texts a 1,024-byte host area can hold.
#define HOST_TEXT_MAX_CHARS 1023
#define PORT_NUMBER_MAX 65535u

BOOL SplitPrinterUri(const char* uri, char* host, size_t hostBytes, LONG* port, char* path,
                     size_t pathBytes) {
    if (uri == nullptr) {
        return FALSE;
    }
    const char* slashes = strstr(uri, "//");
    if (slashes == nullptr) {
        return FALSE;
    }
    const char* authority = slashes + 2;
    const char* pathStart = strchr(authority, '/');
    if (pathStart == nullptr) {
        // No path after the authority: the authority is never taken, nothing is written.
        return TRUE;
    }

    // Everything is measured before anything is written, so that a refused URI leaves all
    // destinations as the caller had them.
    size_t authorityChars = static_cast<size_t>(pathStart - authority);
    if (authorityChars > URI_AUTHORITY_MAX_CHARS) {
        return FALSE;
    }
    size_t pathChars = strlen(pathStart);
    if (path != nullptr && pathChars >= pathBytes) {
        return FALSE;
    }
    if (authorityChars == 0) {
        // "scheme:///path": only the path is known.
        if (path != nullptr) {
            CopyText(path, pathBytes, pathStart);
        }
        return TRUE;
    }

    // The host is the first run of non-colons (leading colons skipped, as a token scan does).
    const char* hostStart = authority;
    while (hostStart < pathStart && *hostStart == ':') {
        ++hostStart;
    }
    if (hostStart == pathStart) {
        // Colons only: there is no host to connect to.
        return FALSE;
    }
    const char* hostEnd = hostStart;
    while (hostEnd < pathStart && *hostEnd != ':') {
        ++hostEnd;
    }
    size_t hostChars = static_cast<size_t>(hostEnd - hostStart);
    if (host != nullptr && hostChars >= hostBytes) {
        return FALSE;
    }

    // The port is what follows the colon after the host, further colons included; when nothing
    // follows, the default port.
    LONG portNumber = IPP_DEFAULT_PORT;
    if (hostEnd < pathStart && hostEnd + 1 < pathStart) {
        // The number is read in place: the "/" that ends the authority also ends the digits.
        portNumber = ReadDecimal(hostEnd + 1);
    }

    if (host != nullptr) {
        CopyTextN(host, hostBytes, hostStart, hostChars);
    }
    if (port != nullptr) {
        *port = portNumber;
    }
    if (path != nullptr) {
        CopyText(path, pathBytes, pathStart);
    }
    return TRUE;
}

static bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

static bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

static int HexDigitValue(char c) {
    if (IsAsciiDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Value of the hexadecimal digits at the start of text (0 when there are none); stops growing
// once it exceeds `cap`, so any longer digit string reads as "above cap".
static DWORD CappedHexValue(const char* text, const char* end, DWORD cap) {
    DWORD value = 0;
    for (const char* p = text; p < end && HexDigitValue(*p) >= 0; ++p) {
        if (value <= cap) {
            value = value * 16 + static_cast<DWORD>(HexDigitValue(*p));
        }
    }
    return value;
}

// Decimal value of an all-digit run; stops growing once it exceeds `cap` (leading zeros count
// for nothing, as they should).
static DWORD CappedDecimalValue(const char* text, const char* end, DWORD cap) {
    DWORD value = 0;
    for (const char* p = text; p < end; ++p) {
        if (value <= cap) {
            value = value * 10 + static_cast<DWORD>(*p - '0');
        }
    }
    return value;
}

BOOL IsValidHostName(const char* text) {
    if (text == nullptr || text[0] == '\0') {
        return FALSE;
    }
    size_t length = BoundedLength(text, HOST_TEXT_MAX_CHARS + 1);
    if (length > HOST_TEXT_MAX_CHARS) {
        return FALSE;
    }
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '-' && c != '.') {
            return FALSE;
        }
    }

    // Numeric labels are held to the limits of a dotted address: hexadecimal ones wherever they
    // stand, decimal ones only until the first label with a letter or "-" shows the text to be
    // a name.
    int countedParts = 0;
    bool numbersOnlySoFar = true;
    const char* end = text + length;
    const char* label = text;
    while (label < end) {
        const char* labelEnd = label;
        while (labelEnd < end && *labelEnd != '.') {
            ++labelEnd;
        }
        if (labelEnd > label) {
            size_t labelChars = static_cast<size_t>(labelEnd - label);
            bool allDigits = true;
            for (const char* p = label; p < labelEnd; ++p) {
                allDigits = allDigits && IsAsciiDigit(*p);
            }
            if (labelChars >= 2 && label[0] == '0' && (label[1] == 'x' || label[1] == 'X')) {
                if (CappedHexValue(label + 2, labelEnd, ADDRESS_PART_MAX) > ADDRESS_PART_MAX) {
                    return FALSE;
                }
                ++countedParts;
            } else if (allDigits) {
                if (numbersOnlySoFar) {
                    if (CappedDecimalValue(label, labelEnd, ADDRESS_PART_MAX) > ADDRESS_PART_MAX) {
                        return FALSE;
                    }
                    ++countedParts;
                }
            } else {
                numbersOnlySoFar = false;
            }
            if (countedParts > ADDRESS_PARTS_MAX) {
                return FALSE;
            }
        }
        label = labelEnd < end ? labelEnd + 1 : end;
    }
    return TRUE;
}

BOOL IsValidUriPath(const char* text) {
    if (text == nullptr || text[0] == '\0') {
        return FALSE;
    }
    // Characters a URI may not carry unescaped; "%" stays allowed so that escapes pass.
    static const char refused[] = " \"#<>[\\]^`{|}";
    for (const char* p = text; *p != '\0'; ++p) {
        if (strchr(refused, *p) != nullptr) {
            return FALSE;
        }
    }
    return TRUE;
}

BOOL IsValidPortText(const char* text) {
    if (text == nullptr || text[0] == '\0') {
        return FALSE;
    }
    const char* end = text;
    while (*end != '\0') {
        if (!IsAsciiDigit(*end)) {
            return FALSE;
        }
        ++end;
    }
    return CappedDecimalValue(text, end, PORT_NUMBER_MAX) <= PORT_NUMBER_MAX;
}

int FormatProxyUrl(char* dst, size_t dstBytes, const char* proxyServer, DWORD proxyPort) {
    if (dst == nullptr || dstBytes == 0) {
        return -1;
    }
    if (proxyServer == nullptr) {
        dst[0] = '\0';
        return -1;
    }
    int length = FormatText(dst, dstBytes, "http://%s:%lu/", proxyServer,
                            static_cast<unsigned long>(proxyPort));
    if (length < 0) {
        dst[0] = '\0';
    }
    return length;
}

int FormatAbsoluteRequestUri(char* dst, size_t dstBytes, const char* host, LONG port,
                             const char* path) {
    if (dst == nullptr || dstBytes == 0) {
        return -1;
    }
    if (host == nullptr || path == nullptr) {
        dst[0] = '\0';
        return -1;
    }
    // The scheme is always "http" (a proxy speaks HTTP, also for an "ipp" printer) and the port
    // is always written, 631 included.
    int length = FormatText(dst, dstBytes, "http://%s:%ld%s", host, static_cast<long>(port), path);
    if (length < 0) {
        dst[0] = '\0';
    }
    return length;
}
