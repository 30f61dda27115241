// The two reply readers, ReadHttpReplyFrom (the reply to a Print-Job) and ReadPrinterReply (the
// reply to a status query), over a source that hands out the fuzzer's reply bytes in pieces
// whose sizes come from the input itself, as a socket would.
//
// Input: byte 0 flags (bit 0: the port uses a proxy), byte 1 the length N of the read plan,
// N plan bytes, then the reply bytes. Each plan byte is the size of one receive: 0 is a receive
// that yields nothing (a time-out), 1 to 127 that many bytes, 128 to 255 (b - 127) * 256 bytes;
// the plan is used in a cycle, and after MAX_PLANNED_RECEIVES receives (or with an empty plan)
// every receive gets as much as it asks for. When the reply bytes are used up, every receive
// yields nothing (the printer closed the connection).
//
// Checks: every receive offers room (never 0 bytes, never more than the area); the outputs are
// consistent (IPP status only with HTTP 200, last error as documented, chunked flag, words
// terminated and the state word one of the three); and both readers agree: they parse the same
// heads from the same pieces, so a final status the Print-Job reader returns is the status the
// query reader reports, with the same IPP status when the first had a whole body.
#include <string.h>

#include <string>

#include "fuzz/fuzz_check.h"
#include "monitor/ipp/ipp_reply.h"
#include "monitor/transport/http_reply.h"

namespace {

const DWORD TIMEOUT_MS = 300000;
const DWORD UNTOUCHED = 0xdeadbeef;
// Every head is parsed again after each receive: unlimited one-byte receives would make single
// inputs slow without reaching anything new.
const size_t MAX_PLANNED_RECEIVES = 256;

class PlannedSource {
  public:
    PlannedSource(const uint8_t* plan, size_t planBytes, const uint8_t* reply, size_t replyBytes,
                  size_t largestAsk)
        : plan_(plan), planBytes_(planBytes), reply_(reply), replyBytes_(replyBytes),
          largestAsk_(largestAsk) {}

    ReplySource Source() { return ReplySource{&PlannedSource::Receive, this}; }

  private:
    static int Receive(void* context, char* buffer, int size, DWORD timeoutMs) {
        return static_cast<PlannedSource*>(context)->Next(buffer, size, timeoutMs);
    }

    int Next(char* buffer, int size, DWORD timeoutMs) {
        FUZZ_CHECK(timeoutMs == TIMEOUT_MS);
        FUZZ_CHECK(size > 0);
        FUZZ_CHECK(static_cast<size_t>(size) <= largestAsk_);
        size_t want = static_cast<size_t>(size);
        if (planBytes_ > 0 && receives_ < MAX_PLANNED_RECEIVES) {
            uint8_t step = plan_[receives_ % planBytes_];
            size_t planned = step < 128 ? step : static_cast<size_t>(step - 127) * 256;
            if (planned < want) {
                want = planned;
            }
        }
        ++receives_;
        size_t left = replyBytes_ - delivered_;
        if (want > left) {
            want = left;
        }
        if (want == 0) {
            return 0;
        }
        // The reader must own all the room it offered: writing it whole lets AddressSanitizer
        // see an offer beyond the area.
        memset(buffer, 0xEE, static_cast<size_t>(size));
        memcpy(buffer, reply_ + delivered_, want);
        delivered_ += want;
        return static_cast<int>(want);
    }

    const uint8_t* plan_;
    size_t planBytes_;
    const uint8_t* reply_;
    size_t replyBytes_;
    size_t largestAsk_;
    size_t delivered_ = 0;
    size_t receives_ = 0;
};

bool IsTerminated(const char* text, size_t capacity) {
    return memchr(text, '\0', capacity) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input{data, size, 0};
    BOOL useProxy = (input.Byte() & 1) != 0;
    size_t planBytes = input.Byte();
    if (planBytes > size - input.at) {
        planBytes = size > input.at ? size - input.at : 0;
    }
    const uint8_t* plan = data + input.at;
    const uint8_t* reply = plan + planBytes;
    size_t replyBytes = size - input.at - planBytes;

    // The Print-Job reader.
    PlannedSource jobSource(plan, planBytes, reply, replyBytes, REPLY_BUFFER_SIZE);
    ReplySource job = jobSource.Source();
    LONG jobIpp = 0x5555;
    SetLastError(UNTOUCHED);
    int jobResult = ReadHttpReplyFrom(&job, &jobIpp, TIMEOUT_MS);
    DWORD jobError = GetLastError();
    FUZZ_CHECK(jobIpp >= -32768 && jobIpp <= 32767);
    if (jobResult != 200) {
        FUZZ_CHECK(jobIpp == 0);
    }
    if (jobResult == 100 || jobResult == 200) {
        FUZZ_CHECK(jobError == UNTOUCHED);
    } else if (jobResult != HTTP_STATUS_NO_REPLY) {
        FUZZ_CHECK(jobError == ERROR_CONNECTION_UNAVAIL);
    }

    // The status query reader, over the same pieces.
    PlannedSource querySource(plan, planBytes, reply, replyBytes, PRINTER_REPLY_MAX_BYTES);
    ReplySource query = querySource.Source();
    LONG httpStatus = 0x5555;
    LONG queryIpp = 0x5555;
    DWORD chunked = 7;
    PrinterWords words;
    memset(&words, 0, sizeof words);
    SetLastError(UNTOUCHED);
    int queryResult =
        ReadPrinterReply(&query, TIMEOUT_MS, useProxy, &httpStatus, &words, &queryIpp, &chunked);
    DWORD queryError = GetLastError();

    FUZZ_CHECK(queryResult == 0 || queryResult == 1);
    FUZZ_CHECK((queryResult == 1) == (httpStatus == 200));
    FUZZ_CHECK(queryIpp >= -32768 && queryIpp <= 32767);
    if (queryResult == 1) {
        FUZZ_CHECK(queryError == UNTOUCHED);
        FUZZ_CHECK(chunked == 0 || chunked == 1);
    } else {
        FUZZ_CHECK(queryIpp == 0);
        FUZZ_CHECK(chunked == 7 || chunked == 0 || chunked == 1);
    }
    if (useProxy) {
        FUZZ_CHECK(chunked != 1);
    }
    FUZZ_CHECK(IsTerminated(words.stateWord, sizeof words.stateWord));
    FUZZ_CHECK(IsTerminated(words.reasonWord, sizeof words.reasonWord));
    FUZZ_CHECK(IsTerminated(words.makeAndModel, sizeof words.makeAndModel));
    std::string state = words.stateWord;
    FUZZ_CHECK(state.empty() || state == "Idle" || state == "Processing" || state == "Stop");

    // Both readers saw the same final head: 100 and 408 are left out, since the Print-Job reader
    // stops after an interim reply that ends the data and gives 408 for its own time-out too.
    if (jobResult != 100 && jobResult != HTTP_STATUS_NO_REPLY) {
        FUZZ_CHECK(httpStatus == jobResult);
        if (jobResult == 200 && jobIpp != 0) {
            FUZZ_CHECK(queryIpp == jobIpp);
        }
    }
    return 0;
}
