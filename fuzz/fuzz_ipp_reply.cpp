// ParseIppReply over an arbitrary response body, held in memory exactly as large as the body,
// with the three words in heap buffers of exactly their capacity: AddressSanitizer sees any
// read past the body and any write past a word.
//
// Checks: each word stays terminated within its 512 bytes; the state word is empty or one of
// "Idle", "Processing", "Stop"; the body is only read; the walk keeps no state between calls
// (a second walk gives the same words); and a walk without word buffers is safe.
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "monitor/ipp/ipp_reply.h"

namespace {

struct Words {
    std::vector<char> state = std::vector<char>(PRINTER_WORD_BYTES, '\0');
    std::vector<char> reason = std::vector<char>(PRINTER_WORD_BYTES, '\0');
    std::vector<char> model = std::vector<char>(PRINTER_WORD_BYTES, '\0');
};

void Walk(const BYTE* body, size_t size, Words* words) {
    ParseIppReply(body, size, words->state.data(), words->reason.data(), words->model.data());
    FUZZ_CHECK(memchr(words->state.data(), '\0', PRINTER_WORD_BYTES) != nullptr);
    FUZZ_CHECK(memchr(words->reason.data(), '\0', PRINTER_WORD_BYTES) != nullptr);
    FUZZ_CHECK(memchr(words->model.data(), '\0', PRINTER_WORD_BYTES) != nullptr);
    std::string state = words->state.data();
    FUZZ_CHECK(state.empty() || state == "Idle" || state == "Processing" || state == "Stop");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<BYTE> body(data, data + size);
    // An exact copy on the heap: the fuzzer's own buffer may have room after it.
    BYTE* exact = new BYTE[size > 0 ? size : 1];
    if (size > 0) {
        memcpy(exact, data, size);
    }

    Words first;
    Walk(exact, size, &first);
    FUZZ_CHECK(size == 0 || memcmp(exact, body.data(), size) == 0);

    Words second;
    Walk(exact, size, &second);
    FUZZ_CHECK(first.state == second.state);
    FUZZ_CHECK(first.reason == second.reason);
    FUZZ_CHECK(first.model == second.model);

    ParseIppReply(exact, size, nullptr, nullptr, nullptr);
    delete[] exact;
    return 0;
}
