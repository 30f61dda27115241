#include "monitor/core/text.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

BOOL CopyText(char* dst, size_t capacity, const char* src) {
    if (capacity == 0) {
        return FALSE;
    }
    if (src == nullptr) {
        dst[0] = '\0';
        return TRUE;
    }
    size_t i = 0;
    for (; i + 1 < capacity && src[i] != '\0'; ++i) {
        dst[i] = src[i];
    }
    dst[i] = '\0';
    return src[i] == '\0';
}

BOOL CopyTextN(char* dst, size_t capacity, const char* src, size_t count) {
    if (capacity == 0) {
        return FALSE;
    }
    size_t n = count < capacity - 1 ? count : capacity - 1;
    if (n > 0) {
        memcpy(dst, src, n);
    }
    dst[n] = '\0';
    return n == count;
}

BOOL AppendText(char* dst, size_t capacity, const char* src) {
    size_t used = BoundedLength(dst, capacity);
    if (used >= capacity) {
        return FALSE;
    }
    return CopyText(dst + used, capacity - used, src);
}

size_t BoundedLength(const char* text, size_t capacity) {
    size_t n = 0;
    while (n < capacity && text[n] != '\0') {
        ++n;
    }
    return n;
}

int FormatText(char* dst, size_t capacity, const char* format, ...) {
    if (capacity == 0) {
        return -1;
    }
    va_list args;
    va_start(args, format);
    int n = vsnprintf(dst, capacity, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        dst[capacity - 1] = '\0';
        return -1;
    }
    return n;
}

int CompareNoCaseN(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z') {
            ca = static_cast<unsigned char>(ca - 'A' + 'a');
        }
        if (cb >= 'A' && cb <= 'Z') {
            cb = static_cast<unsigned char>(cb - 'A' + 'a');
        }
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        if (ca == '\0') {
            return 0;
        }
    }
    return 0;
}

LONG ReadDecimal(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Accumulate as a magnitude that stops growing once it passes the largest one LONG holds.
    const uint64_t limit = negative ? 2147483648u : 2147483647u;
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value <= limit) {
            value = value * 10 + static_cast<uint64_t>(*p - '0');
        }
    }
    if (value > limit) {
        value = limit;
    }
    return negative ? static_cast<LONG>(-static_cast<int64_t>(value)) : static_cast<LONG>(value);
}

#ifdef _WIN32
BOOL CopyText(wchar_t* dst, size_t capacity, const wchar_t* src) {
    if (capacity == 0) {
        return FALSE;
    }
    if (src == nullptr) {
        dst[0] = L'\0';
        return TRUE;
    }
    size_t i = 0;
    for (; i + 1 < capacity && src[i] != L'\0'; ++i) {
        dst[i] = src[i];
    }
    dst[i] = L'\0';
    return src[i] == L'\0';
}

size_t BoundedLength(const wchar_t* text, size_t capacity) {
    size_t n = 0;
    while (n < capacity && text[n] != L'\0') {
        ++n;
    }
    return n;
}
#else
static thread_local DWORD t_lastError;
void SetLastError(DWORD code) {
    t_lastError = code;
}
DWORD GetLastError(void) {
    return t_lastError;
}
#endif
