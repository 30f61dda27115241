// How a streamed document goes out in bulk: the framing of pieces of any size (small pieces are
// framed on the stack, larger ones in a heap buffer) and how soon a printer's early answer is
// noticed, now that a job looks for one once per 64 KiB instead of after every piece. Against the
// scripted fake printer over loopback, with the virtual clock and the fake spooler.
#include "monitor/core/job_flow.h"
#include "monitor/core/job_list.h"
#include "monitor/core/port_entries.h"
#include "tests/support/fake_spooler.h"
#include "tests/support/virtual_clock.h"
#include "tests/win/printer_port.h"

#include <stdlib.h>

#include <string>
#include <vector>

namespace {

testing::Environment* const g_winsock = testing::AddGlobalTestEnvironment(new WinsockEnvironment);

const DWORD PEER_ANSWER_MS = 15000;
const DWORD CONDITION_MS = 30000;
const DWORD JOB_ID = 7;
const TCHAR PRINTER[] = TEXT("Nimbrel Stream Printer");
const TCHAR DOCUMENT[] = TEXT("large.ps");
const size_t PIECE = 4096; // what the spooler hands over

std::string Pattern(size_t bytes, unsigned seed) {
    std::string data(bytes, '\0');
    unsigned x = seed * 2246822519u + 3;
    for (size_t i = 0; i < bytes; ++i) {
        x = x * 1664525u + 1013904223u;
        data[i] = static_cast<char>(x >> 24);
    }
    return data;
}

// The data sizes of a chunked body's chunks (the last chunk left out); empty when the framing is
// broken anywhere.
std::vector<size_t> ChunkSizes(const std::string& raw) {
    std::vector<size_t> sizes;
    size_t at = 0;
    for (;;) {
        size_t lineEnd = raw.find("\r\n", at);
        if (lineEnd == std::string::npos) {
            return {};
        }
        std::string line = raw.substr(at, lineEnd - at);
        char* end = nullptr;
        size_t size = strtoul(line.c_str(), &end, 16);
        if (line.empty() || *end != '\0') {
            return {};
        }
        at = lineEnd + 2;
        if (size == 0) {
            return raw.compare(at, std::string::npos, "\r\n") == 0 ? sizes : std::vector<size_t>{};
        }
        if (raw.size() < at + size + 2 || raw.compare(at + size, 2, "\r\n") != 0) {
            return {};
        }
        sizes.push_back(size);
        at += size + 2;
    }
}

int OperationOf(const std::string& body) {
    return body.size() < 4
               ? -1
               : (static_cast<unsigned char>(body[2]) << 8) | static_cast<unsigned char>(body[3]);
}

bool AnswerArrived(PortContext* port) {
    JobContext* job = JobListFind(port, port->currentJobId);
    if (job == nullptr || job->socket == INVALID_SOCKET) {
        return false;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(job->socket, &readable);
    timeval limit = {static_cast<long>(CONDITION_MS / 1000), 0};
    return select(0, &readable, nullptr, nullptr, &limit) == 1;
}

class JobStreamTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(0, peers::FakePrinterPort()) << "run under tests/tools/with-peers --fake";
        RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
        virtual_clock::SetReadableRealSlice(PEER_ANSWER_MS);
        virtual_clock::SetSocketTimeout(PEER_ANSWER_MS);
        virtual_clock::HoldObjectWaits(true); // the status thread stays in its first wait
        setup_.uri = peers::FakePrinterUri();
        setup_.checkInTime = 0;
    }

    void TearDown() override {
        if (port_ != nullptr) {
            ClosePort(port_);
        }
        RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
    }

    // An HTTP/1.1 printer (streaming) answering Print-Job with `printJob`.
    void OpenWith(const std::string& printJob) {
        ASSERT_TRUE(peers::SetScript(
            "{\"operations\": {\"print-job\": {\"default\": " + printJob +
            "}, \"get-printer-attributes\": {\"default\": {\"ipp\": {\"printer_state\": 3}}}}}"));
        SavePort(setup_);
        size_t waits = virtual_clock::ObjectWaits().size();
        tstring name = TextOf(setup_.uri);
        HANDLE handle = nullptr;
        ASSERT_TRUE(OpenPort(&name[0], &handle));
        port_ = static_cast<PortContext*>(handle);
        ASSERT_TRUE(virtual_clock::WaitForObjectWaits(waits + 1, CONDITION_MS));
        DOC_INFO_1 info{};
        info.pDocName = const_cast<LPTSTR>(DOCUMENT);
        ASSERT_TRUE(StartDocPort(port_, const_cast<LPTSTR>(PRINTER), JOB_ID, 1,
                                 reinterpret_cast<LPBYTE>(&info)));
        ASSERT_TRUE(job()->chunked);
    }

    JobContext* job() { return JobListFind(port_, port_->currentJobId); }

    BOOL Write(const std::string& data, DWORD* written) {
        *written = 0xdeadbeef;
        SetLastError(0xdeadbeef);
        return WritePort(port_, reinterpret_cast<LPBYTE>(const_cast<char*>(data.data())),
                         static_cast<DWORD>(data.size()), written);
    }

    // The recorded Print-Job, once the printer has it whole.
    int PrintJobRecord() {
        peers::Records(2, CONDITION_MS);
        for (int n = 1; n <= peers::RecordCount(); ++n) {
            if (OperationOf(peers::RecordPart(n, "body")) == 0x0002) {
                return n;
            }
        }
        return 0;
    }

    VirtualClockScope clock_;
    FakeSpoolerScope spooler_;
    PortSetup setup_;
    PortContext* port_ = nullptr;
};

// Pieces of the spooler's size, one much larger (framed in a buffer of its own) and small ones
// after it: every byte arrives, in chunks of at most 1024 bytes, and the printer is looked at for
// an answer on the first piece and then once per 64 KiB, without waiting.
TEST_F(JobStreamTest, PiecesOfAnySizeGoOutFramedAndThePrinterIsLookedAtOncePer64KiB) {
    OpenWith("{}");
    const std::vector<size_t> pieces = [] {
        std::vector<size_t> p(32, PIECE); // 128 KiB
        p.push_back(20000);               // framing larger than the stack buffer
        p.push_back(48);
        p.push_back(1);
        return p;
    }();
    size_t looks = virtual_clock::ReadableWaits().size();
    std::string document;
    unsigned seed = 1;
    for (size_t bytes : pieces) {
        std::string piece = Pattern(bytes, seed++);
        DWORD written = 0;
        ASSERT_TRUE(Write(piece, &written)) << document.size();
        EXPECT_EQ(0u, GetLastError());
        EXPECT_EQ(bytes, written);
        document += piece;
    }
    std::vector<DWORD> waits = virtual_clock::ReadableWaits();
    // Before the first piece, and before the pieces that complete 64 KiB and 128 KiB; the large
    // piece starts a new stretch and ends within it.
    EXPECT_EQ(std::vector<DWORD>(3, 0), std::vector<DWORD>(waits.begin() + looks, waits.end()));
    ASSERT_TRUE(EndDocPort(port_));

    int record = PrintJobRecord();
    ASSERT_NE(0, record);
    EXPECT_EQ(document, peers::RecordPart(record, "doc"));
    std::vector<size_t> sizes = ChunkSizes(peers::RecordPart(record, "bin"));
    ASSERT_FALSE(sizes.empty()) << "broken chunk framing";
    std::vector<size_t> expected(1, sizes[0]); // the Print-Job request
    expected.insert(expected.end(), 32 * 4, 1024);
    expected.insert(expected.end(), 19, 1024); // 20000 = 19 * 1024 + 544
    expected.push_back(544);
    expected.push_back(24); // a piece of 48 goes as 24 and 24
    expected.push_back(24);
    expected.push_back(1);
    EXPECT_EQ(expected, sizes);
}

// A printer that refuses the job while it streams is noticed at the latest on the piece that
// completes the 64 KiB stretch it answered in: that write fails and the spooler is asked to
// restart the job; the pieces before it went out into the connection as usual.
TEST_F(JobStreamTest, AnAnswerWhileTheDocumentStreamsIsNoticedWithin64KiB) {
    OpenWith(R"({"answer_at": 8192, "status": 500})");
    DWORD written = 0;
    size_t sent = 0;
    for (int i = 0; i < 3; ++i) { // past the 8192 raw bytes the printer answers at
        ASSERT_TRUE(Write(Pattern(PIECE, 10 + i), &written));
        sent += PIECE;
    }
    ASSERT_TRUE(AnswerArrived(port_));
    size_t failedAt = 0;
    for (int i = 3; i < 64 && failedAt == 0; ++i) {
        if (!Write(Pattern(PIECE, 10 + i), &written)) {
            failedAt = sent + PIECE;
            EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), GetLastError());
#ifndef NIMBREL_9X
            EXPECT_EQ(0u, written); // nimmon9x leaves the caller's count alone
#endif
        }
        sent += PIECE;
    }
    EXPECT_EQ(static_cast<size_t>(EARLY_REPLY_LOOK_BYTES), failedAt);
    EXPECT_EQ(nullptr, port_->jobs);
    std::vector<SpoolerCall> controls = fake_spooler::CallsOf(SpoolerCall::SET_JOB);
    ASSERT_EQ(1u, controls.size());
    EXPECT_EQ(static_cast<DWORD>(JOB_CONTROL_RESTART), controls[0].command);
    EXPECT_TRUE(EndDocPort(port_));
}

} // namespace
