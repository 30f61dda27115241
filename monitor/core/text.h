// Bounded text copies. Every text the monitor receives (from a printer, the registry, a dialog
// or the spooler) goes into a fixed-size field through one of these: nothing is ever written
// past a destination, and the caller learns whether the whole text fitted.
#pragma once

#include <stddef.h>

#include "monitor/core/portable.h"

// Copies src into dst (capacity in characters, terminator included). Always terminates dst when
// capacity > 0. Returns TRUE when the whole of src fitted, FALSE when it was cut.
BOOL CopyText(char* dst, size_t capacity, const char* src);

// Copies exactly `count` bytes of src (which need not be terminated) and terminates. Returns
// FALSE, and cuts, when count + 1 exceeds the capacity.
BOOL CopyTextN(char* dst, size_t capacity, const char* src, size_t count);

// Appends src to the terminated text in dst. Returns FALSE when it had to cut.
BOOL AppendText(char* dst, size_t capacity, const char* src);

// Length of a text, looking at no more than `capacity` characters.
size_t BoundedLength(const char* text, size_t capacity);

// printf into dst; returns the length written, or -1 (dst cut but terminated) when the result
// did not fit.
int FormatText(char* dst, size_t capacity, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Compares the first n characters without regard to ASCII letter case; texts shorter than n
// compare by their terminators.
int CompareNoCaseN(const char* a, const char* b, size_t n);

// Reads a decimal number the way atol does: leading white space, one optional sign, digits up to
// the first non-digit, 0 when there are none. Unlike atol it never overflows: a value beyond the
// range of LONG gives LONG_MAX (or LONG_MIN), so a long digit string never passes for a small
// number.
LONG ReadDecimal(const char* text);

#ifdef _WIN32
BOOL CopyText(wchar_t* dst, size_t capacity, const wchar_t* src);
size_t BoundedLength(const wchar_t* text, size_t capacity);
#endif
