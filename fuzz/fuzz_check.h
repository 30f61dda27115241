// What every fuzz target shares: a check that stops the run with a message, so that libFuzzer
// keeps the input as a finding, and a cursor over the fuzzer's bytes.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);          \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// Takes the fuzzer's bytes from the front; past the end every byte reads as 0.
struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t at;

    uint8_t Byte() { return at < size ? data[at++] : 0; }
    // The next field: the bytes up to the next NUL (not included) or the end.
    size_t Field(const uint8_t** start) {
        *start = data + at;
        size_t length = 0;
        while (at < size && data[at] != 0) {
            ++at;
            ++length;
        }
        if (at < size) {
            ++at; // the NUL
        }
        return length;
    }
};
