// One print job from StartDocPort to EndDocPort against the scripted fake printer over loopback,
// in both modes: streaming to a printer that answers with HTTP/1.1, and the spool file for one
// that answers with HTTP/1.0. The port is opened with OpenPort and closed with ClosePort; its
// status thread is held in its wait, so every request the fake printer records is the job's own.
// Waits run in virtual time; the fake spooler records what the monitor tells the spooler, and a
// counting socket layer shows that every connection made is closed again.
#include "monitor/core/job_flow.h"
#include "monitor/core/job_list.h"
#include "monitor/core/port_entries.h"
#include "monitor/transport/socket_ops.h"
#include "tests/support/fake_spooler.h"
#include "tests/support/virtual_clock.h"
#include "tests/win/printer_port.h"

#include <string>
#include <vector>

namespace {

testing::Environment* const g_winsock = testing::AddGlobalTestEnvironment(new WinsockEnvironment);

// Real time a receive may wait for the fake printer, and the bound of every condition waited on.
const DWORD PEER_ANSWER_MS = 15000;
const DWORD CONDITION_MS = 30000;

const DWORD UNTOUCHED = 0xdeadbeef;
const DWORD JOB_ID = 42;
const TCHAR PRINTER[] = TEXT("Nimbrel Test Printer");
const TCHAR DOCUMENT[] = TEXT("report.ps");
const TCHAR TEMP_DIR[] = TEXT("C:\\nimbrel-job-temp");
const TCHAR SPOOL_FILE_42[] = TEXT("C:\\nimbrel-job-temp\\ipp0x2a.prn");

const char IDLE[] = R"({"ipp": {"printer_state": 3, "printer_state_reasons": ["none"]}})";

#ifdef NIMBREL_9X
const SpoolerCall::Kind STATUS_REPORT = SpoolerCall::SET_PRINTER;
#else
const SpoolerCall::Kind STATUS_REPORT = SpoolerCall::SET_PORT;
#endif

// --- Sockets the monitor makes and closes -----------------------------------------------------

const SocketOps* g_realSockets = nullptr;
SocketOps g_countingSockets;
LONG g_openSockets = 0;

SOCKET WSAAPI CountingSocket(int family, int type, int protocol) {
    SOCKET s = g_realSockets->socket(family, type, protocol);
    if (s != INVALID_SOCKET) {
        InterlockedIncrement(&g_openSockets);
    }
    return s;
}

int WSAAPI CountingClosesocket(SOCKET s) {
    int result = g_realSockets->closesocket(s);
    if (result == 0) {
        InterlockedDecrement(&g_openSockets);
    }
    return result;
}

LONG OpenSockets() {
    return InterlockedCompareExchange(&g_openSockets, 0, 0);
}

// While set, every send fails as on a connection the printer has reset.
LONG g_failSends = 0;

int WSAAPI FailableSend(SOCKET s, const char* data, int length, int flags) {
    if (InterlockedCompareExchange(&g_failSends, 0, 0) != 0) {
        WSASetLastError(WSAECONNRESET);
        return SOCKET_ERROR;
    }
    return g_realSockets->send(s, data, length, flags);
}

// --- A look for an early answer that waits for it ----------------------------------------------

// The monitor only asks whether the printer has answered yet (a 0 ms look). Where a test needs
// the monitor to see an answer that is on its way, this clock lets each look wait for it.
const ClockOps* g_lookingClock = nullptr;
ClockOps g_patientLook;
const DWORD PATIENT_LOOK_MS = 1000;

int PatientWaitReadable(SOCKET s, DWORD ms) {
    return g_lookingClock->waitReadable(s, ms == 0 ? PATIENT_LOOK_MS : ms);
}

class PatientLookScope {
  public:
    PatientLookScope() {
        g_lookingClock = ClockInstall(nullptr);
        g_patientLook = *g_lookingClock;
        g_patientLook.waitReadable = PatientWaitReadable;
        ClockInstall(&g_patientLook);
    }
    ~PatientLookScope() { ClockInstall(g_lookingClock); }
    PatientLookScope(const PatientLookScope&) = delete;
    PatientLookScope& operator=(const PatientLookScope&) = delete;
};

// --- Documents and what the printer received ----------------------------------------------------

enum Mode { STREAMING, SPOOL_FILE };

const char* ModeName(Mode mode) {
    return mode == STREAMING ? "streaming" : "spool file";
}

// Bytes of every value, different for each seed.
std::string Pattern(size_t bytes, unsigned seed) {
    std::string data(bytes, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (size_t i = 0; i < bytes; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<char>(x >> 16);
    }
    return data;
}

// A chunked body split into its chunks; wellFormed only when every size line is lower-case
// hexadecimal without leading zeros, every chunk ends in CR LF and the last chunk ends the body.
struct ChunkedBody {
    bool wellFormed = false;
    std::vector<size_t> sizes; // without the last chunk
    std::vector<std::string> chunks;
};

ChunkedBody SplitChunks(const std::string& raw) {
    ChunkedBody body;
    size_t at = 0;
    for (;;) {
        size_t lineEnd = raw.find("\r\n", at);
        if (lineEnd == std::string::npos || lineEnd == at) {
            return body;
        }
        std::string line = raw.substr(at, lineEnd - at);
        if (line.size() > 1 && line[0] == '0') {
            return body; // a leading zero
        }
        size_t size = 0;
        for (char c : line) {
            int digit = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                 : -1;
            if (digit < 0) {
                return body;
            }
            size = size * 16 + static_cast<size_t>(digit);
        }
        at = lineEnd + 2;
        if (size == 0) {
            body.wellFormed = raw.compare(at, std::string::npos, "\r\n") == 0;
            return body;
        }
        if (raw.size() < at + size + 2 || raw.compare(at + size, 2, "\r\n") != 0) {
            return body;
        }
        body.sizes.push_back(size);
        body.chunks.push_back(raw.substr(at, size));
        at += size + 2;
    }
}

// The value of a header line of a raw request head ("" when absent).
std::string HeaderValue(const std::string& head, const std::string& name) {
    size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) {
        return std::string();
    }
    at += name.size() + 4;
    return head.substr(at, head.find("\r\n", at) - at);
}

std::string RequestLine(const std::string& head) {
    return head.substr(0, head.find("\r\n"));
}

// The IPP operation of a recorded request body.
int OperationOf(const std::string& body) {
    if (body.size() < 4) {
        return -1;
    }
    return (static_cast<unsigned char>(body[2]) << 8) | static_cast<unsigned char>(body[3]);
}

// Numbers of the records of one operation, waiting until `total` records are there.
std::vector<int> RecordsOf(int operation, int total) {
    if (total > 0) {
        peers::Records(total, CONDITION_MS);
    }
    std::vector<int> numbers;
    int count = peers::RecordCount();
    for (int n = 1; n <= count; ++n) {
        if (OperationOf(peers::RecordPart(n, "body")) == operation) {
            numbers.push_back(n);
        }
    }
    return numbers;
}

bool FileExists(const TCHAR* path) {
    return GetFileAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

std::string FileContent(const TCHAR* path) {
    std::string content;
    HANDLE file = CreateFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return content;
    }
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        content.append(buffer, n);
    }
    CloseHandle(file);
    return content;
}

// The fake printer's script: HTTP/1.0 answers in spool-file mode, `printJob` for every
// Print-Job and `query` for every Get-Printer-Attributes.
std::string Script(Mode mode, const std::string& printJob = "{}", const std::string& query = IDLE) {
    std::string common = mode == SPOOL_FILE ? R"({"http_version": "HTTP/1.0"})" : "{}";
    return "{\"common\": " + common +
           ", \"operations\": {\"print-job\": {\"default\": " + printJob +
           "}, \"get-printer-attributes\": {\"default\": " + query + "}}}";
}

// --- The fixture --------------------------------------------------------------------------------

class JobFlowTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(0, peers::FakePrinterPort()) << "run under tests/tools/with-peers --fake";
        RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
        virtual_clock::SetReadableRealSlice(PEER_ANSWER_MS);
        virtual_clock::SetSocketTimeout(PEER_ANSWER_MS);
        virtual_clock::HoldObjectWaits(true);

        g_realSockets = Sockets();
        g_countingSockets = *g_realSockets;
        g_countingSockets.socket = CountingSocket;
        g_countingSockets.closesocket = CountingClosesocket;
        g_countingSockets.send = FailableSend;
        g_openSockets = 0;
        g_failSends = 0;
        SocketsInstall(&g_countingSockets);

        TCHAR temp[MAX_PATH] = {};
        hadTemp_ = GetEnvironmentVariable(TEXT("TEMP"), temp, MAX_PATH) > 0;
        savedTemp_ = temp;
        GetCurrentDirectory(MAX_PATH, temp);
        savedDirectory_ = temp;
        CreateDirectory(TEMP_DIR, nullptr);
        SetEnvironmentVariable(TEXT("TEMP"), TEMP_DIR);
        DeleteFile(SPOOL_FILE_42);

        setup_.uri = peers::FakePrinterUri();
        setup_.checkInTime = 0; // the status thread makes no query of its own
    }

    void TearDown() override {
        if (port_ != nullptr) {
            ClosePort(port_);
        }
        SocketsInstall(g_realSockets);
        SetEnvironmentVariable(TEXT("TEMP"), hadTemp_ ? savedTemp_.c_str() : nullptr);
        SetCurrentDirectory(savedDirectory_.c_str());
        RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
    }

    // Stores the port, opens it and waits until its status thread waits.
    void Open() {
        SavePort(setup_);
        size_t waits = virtual_clock::ObjectWaits().size();
        tstring name = TextOf(setup_.uri);
        HANDLE handle = nullptr;
        ASSERT_TRUE(OpenPort(&name[0], &handle));
        port_ = static_cast<PortContext*>(handle);
        ASSERT_TRUE(virtual_clock::WaitForObjectWaits(waits + 1, CONDITION_MS));
    }

    void OpenWith(const std::string& script) {
        ASSERT_TRUE(peers::SetScript(script)) << script;
        Open();
    }

    BOOL Start(DWORD jobId = JOB_ID, const TCHAR* printer = PRINTER,
               const TCHAR* document = DOCUMENT) {
        DOC_INFO_1 info{};
        info.pDocName = const_cast<LPTSTR>(document);
        SetLastError(UNTOUCHED);
        return StartDocPort(port_, const_cast<LPTSTR>(printer), jobId, 1,
                            reinterpret_cast<LPBYTE>(&info));
    }

    // One WritePort; *written starts as `before`.
    BOOL Write(const std::string& data, DWORD* written, DWORD before = UNTOUCHED) {
        *written = before;
        SetLastError(UNTOUCHED);
        return WritePort(port_, reinterpret_cast<LPBYTE>(const_cast<char*>(data.data())),
                         static_cast<DWORD>(data.size()), written);
    }

    BOOL End() {
        SetLastError(UNTOUCHED);
        return EndDocPort(port_);
    }

    // Writes each piece, expecting every write to take all of it; returns the document.
    std::string WriteAll(const std::vector<size_t>& pieces) {
        std::string document;
        unsigned seed = 1;
        for (size_t bytes : pieces) {
            std::string piece = Pattern(bytes, seed++);
            DWORD written = 0;
            EXPECT_TRUE(Write(piece, &written)) << bytes;
            EXPECT_EQ(0u, GetLastError());
            EXPECT_EQ(bytes, written);
            document += piece;
        }
        return document;
    }

    // The Print-Job request the monitor sends for the port's current job.
    std::string ExpectedPrintJob(DWORD jobId) {
        std::unique_ptr<JobContext> job(new JobContext());
        PrepareIppRequest(job.get(), port_);
        BYTE out[PRINT_JOB_REQUEST_BYTES];
        size_t n = BuildPrintJobRequest(jobId, job.get(), out, sizeof out);
        return std::string(reinterpret_cast<const char*>(out), n);
    }

    bool DocumentActive() const { return (PortFlags(port_) & PORT_FLAG_DOC_ACTIVE) != 0; }

    // The printer handle the fake spooler gave out for the job (null when none was opened).
    HANDLE JobPrinter() const {
        std::vector<SpoolerCall> opened = fake_spooler::CallsOf(SpoolerCall::OPEN_PRINTER);
        return opened.empty() ? nullptr : opened.back().handle;
    }

    // Everything the job held is given back: record, printer handle, connection, spool file.
    void ExpectReleased(const TCHAR* spoolFile = SPOOL_FILE_42) {
        EXPECT_EQ(nullptr, port_->jobs);
        EXPECT_EQ(nullptr, port_->printerHandle);
        EXPECT_EQ(0, fake_spooler::OpenHandles());
        EXPECT_EQ(0, OpenSockets());
        EXPECT_FALSE(FileExists(spoolFile));
    }

    // JOB_CONTROL_CANCEL (or another command) once for the job on its printer, then the printer
    // closed.
    void ExpectJobControlled(DWORD command, DWORD jobId = JOB_ID) {
        std::vector<SpoolerCall> calls = fake_spooler::Calls();
        int setJob = -1, closed = -1;
        for (size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].kind == SpoolerCall::SET_JOB) {
                EXPECT_EQ(-1, setJob) << "a second SetJob";
                setJob = static_cast<int>(i);
                EXPECT_EQ(command, calls[i].command);
                EXPECT_EQ(jobId, calls[i].jobId);
                EXPECT_EQ(0u, calls[i].level);
                EXPECT_EQ(JobPrinter(), calls[i].handle);
            } else if (calls[i].kind == SpoolerCall::CLOSE_PRINTER) {
                closed = static_cast<int>(i);
                EXPECT_EQ(JobPrinter(), calls[i].handle);
            }
        }
        EXPECT_NE(-1, setJob);
        EXPECT_GT(closed, setJob);
    }

    VirtualClockScope clock_;
    FakeSpoolerScope spooler_;
    PortSetup setup_;
    PortContext* port_ = nullptr;
    bool hadTemp_ = false;
    tstring savedTemp_;
    tstring savedDirectory_;
};

class JobFlowModeTest : public JobFlowTest, public testing::WithParamInterface<Mode> {};

// Waits until the printer's answer to the request under way has arrived on the job's connection.
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

} // namespace

// --- A job that goes through ---------------------------------------------------------------------

TEST_P(JobFlowModeTest, TheDocumentReachesThePrinterByteForByte) {
    const Mode mode = GetParam();
    OpenWith(Script(mode));

    ASSERT_TRUE(Start());
    EXPECT_EQ(0u, GetLastError());
    EXPECT_TRUE(DocumentActive());
    EXPECT_EQ(JOB_ID, port_->currentJobId);
    JobContext* job = JobListFind(port_, JOB_ID);
    ASSERT_NE(nullptr, job);
    EXPECT_EQ(mode == STREAMING ? 1u : 0u, job->chunked);

    // OpenPrinter with the printer's name for reading; then the printer's status, which is none.
    std::vector<SpoolerCall> opened = fake_spooler::CallsOf(SpoolerCall::OPEN_PRINTER);
    ASSERT_EQ(1u, opened.size());
    EXPECT_EQ(tstring(PRINTER), opened[0].printerName);
    EXPECT_EQ(static_cast<DWORD>(PRINTER_READ), opened[0].access);
    EXPECT_EQ(tstring(PRINTER), tstring(port_->printerName));
    for (const SpoolerCall& report : fake_spooler::CallsOf(STATUS_REPORT)) {
        EXPECT_EQ(0u, report.status);
    }
    if (mode == SPOOL_FILE) {
        EXPECT_EQ(tstring(SPOOL_FILE_42), tstring(job->spoolFileName));
        EXPECT_TRUE(FileExists(SPOOL_FILE_42));
    }

    // 4096-byte pieces as Wine's spooler writes them, a piece of 48 bytes, an empty one, and
    // pieces whose remainders are 48 bytes and 1 byte.
    size_t looks = virtual_clock::ReadableWaits().size();
    std::string document = WriteAll({4096, 48, 0, 1072, 2049, 1});
    // Streaming, the writes look whether the printer has answered (the first one at least),
    // without waiting; the spool file is only written.
    std::vector<DWORD> waits = virtual_clock::ReadableWaits();
    std::vector<DWORD> writeLooks(waits.begin() + looks, waits.end());
    EXPECT_EQ(mode == STREAMING, !writeLooks.empty());
    EXPECT_EQ(std::vector<DWORD>(writeLooks.size(), 0), writeLooks);
    if (mode == SPOOL_FILE) {
        EXPECT_EQ(document, FileContent(SPOOL_FILE_42)); // exactly the bytes written, in order
        EXPECT_EQ(document.size(), job->bytesWritten);
    }
    const std::string ipp = ExpectedPrintJob(JOB_ID);

    ASSERT_TRUE(End());
    EXPECT_EQ(0u, GetLastError());
    EXPECT_FALSE(DocumentActive());
    ExpectJobControlled(JOB_CONTROL_CANCEL);
    ExpectReleased();

    std::vector<int> queries = RecordsOf(IPP_OP_GET_PRINTER_ATTRIBUTES, 2);
    std::vector<int> jobs = RecordsOf(IPP_OP_PRINT_JOB, 2);
    EXPECT_EQ(1u, queries.size());
    ASSERT_EQ(1u, jobs.size());
    const std::string head = peers::RecordPart(jobs[0], "head");
    const std::string raw = peers::RecordPart(jobs[0], "bin");
    EXPECT_EQ(document, peers::RecordPart(jobs[0], "doc"));
    EXPECT_EQ(ipp + document, peers::RecordPart(jobs[0], "body"));

    if (mode == STREAMING) {
        EXPECT_EQ("POST /ipp/print HTTP/1.1", RequestLine(head));
        EXPECT_EQ("chunked", HeaderValue(head, "Transfer-Encoding"));
        EXPECT_EQ("", HeaderValue(head, "Content-Length"));
        ChunkedBody chunks = SplitChunks(raw);
        ASSERT_TRUE(chunks.wellFormed) << HexOf(raw.substr(0, 64));
        // The Print-Job request is the first chunk; each write is cut into chunks of 1024 bytes,
        // a piece of 48 goes as 24 and 24, and an empty write sends nothing.
        std::vector<size_t> expected = {ipp.size(), 1024, 1024, 1024, 1024, 24, 24,
                                        1024,       24,   24,   1024, 1024, 1,  1};
        EXPECT_EQ(expected, chunks.sizes);
        ASSERT_FALSE(chunks.chunks.empty());
        EXPECT_EQ(ipp, chunks.chunks[0]);
    } else {
        EXPECT_EQ("POST /ipp/print HTTP/1.0", RequestLine(head));
        EXPECT_EQ("", HeaderValue(head, "Transfer-Encoding"));
        EXPECT_EQ(std::to_string(ipp.size() + document.size()),
                  HeaderValue(head, "Content-Length"));
        EXPECT_EQ(ipp + document, raw);
    }
}

// Wine's spooler passes no printer name and job id 0: the job goes through without a printer
// handle, and the spool file is ipp0x0.prn.
TEST_P(JobFlowModeTest, NoPrinterNameAndJobIdZeroStillPrint) {
    const Mode mode = GetParam();
    OpenWith(Script(mode));
    ASSERT_TRUE(Start(0, nullptr));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_TRUE(fake_spooler::CallsOf(SpoolerCall::OPEN_PRINTER).empty());
    if (mode == SPOOL_FILE) {
        EXPECT_TRUE(FileExists(TEXT("C:\\nimbrel-job-temp\\ipp0x0.prn")));
    }
    std::string document = WriteAll({4096, 100});
    const std::string ipp = ExpectedPrintJob(0);
    ASSERT_TRUE(End());
    EXPECT_EQ(0u, GetLastError());
    ExpectReleased(TEXT("C:\\nimbrel-job-temp\\ipp0x0.prn"));

    std::vector<int> jobs = RecordsOf(IPP_OP_PRINT_JOB, 2);
    ASSERT_EQ(1u, jobs.size());
    EXPECT_EQ(ipp + document, peers::RecordPart(jobs[0], "body"));
    EXPECT_NE(std::string::npos, ipp.find("ORVIK_IppJob_0"));
}

// The printer's final answer decides; every way out cancels the spooler's job, closes the printer
// and gives back the connection and the spool file.
struct VerdictCase {
    const char* name;
    const char* printJob; // the fake printer's step for the Print-Job
    BOOL result;
    DWORD error;
};

const VerdictCase kVerdicts[] = {
    {"client-error-not-found", R"({"ipp": {"status": 1030}})", FALSE, ERROR_BAD_DEVICE},
    // A status-code without a code of its own still fails the job.
    {"attributes-or-values-not-supported", R"({"ipp": {"status": 1035}})", FALSE, 0xC000},
    {"server-error-busy", R"({"ipp": {"status": 1287}})", FALSE, ERROR_BUSY},
    {"HTTP 404", R"({"status": 404})", FALSE, ERROR_CONNECTION_UNAVAIL},
    // An interim answer after the whole document is not the verdict: the final answer is read.
    {"interim, then client-error-not-found",
     R"({"continue": 1, "pieces": [25], "piece_pause_ms": 500, "ipp": {"status": 1030}})", FALSE,
     ERROR_BAD_DEVICE},
    {"interim, then successful-ok", R"({"continue": 1, "pieces": [25], "piece_pause_ms": 500})",
     TRUE, 0},
    {"three interims at once, then successful-ok", R"({"continue": 3})", TRUE, 0},
    // A printer that keeps sending interim answers is not waited for without end.
    {"endless interims", R"({"continue": "forever", "continue_every_ms": 2, "hold_ms": 20000})",
     FALSE, ERROR_CONNECTION_UNAVAIL},
};

TEST_P(JobFlowModeTest, ThePrintersFinalAnswerDecidesAndTheJobIsAlwaysCancelled) {
    const Mode mode = GetParam();
    Open();
    for (const VerdictCase& c : kVerdicts) {
        SCOPED_TRACE(std::string(c.name) + ", " + ModeName(mode));
        ASSERT_TRUE(peers::SetScript(Script(mode, c.printJob)));
        fake_spooler::Clear();
        ASSERT_TRUE(Start());
        std::string document = WriteAll({4096, 300});
        EXPECT_EQ(c.result, End());
        EXPECT_EQ(c.error, GetLastError());
        EXPECT_FALSE(DocumentActive());
        ExpectJobControlled(JOB_CONTROL_CANCEL);
        ExpectReleased();
        std::vector<int> jobs = RecordsOf(IPP_OP_PRINT_JOB, 2);
        ASSERT_EQ(1u, jobs.size());
        EXPECT_EQ(document, peers::RecordPart(jobs[0], "doc"));
    }
}

TEST_P(JobFlowModeTest, ClosePortGivesBackAJobThatNoEndDocPortFinished) {
    const Mode mode = GetParam();
    OpenWith(Script(mode));
    ASSERT_TRUE(Start());
    WriteAll({4096});
    ASSERT_NE(nullptr, port_->jobs);
    EXPECT_TRUE(ClosePort(port_));
    port_ = nullptr;
    EXPECT_EQ(0, fake_spooler::OpenHandles());
    EXPECT_EQ(0, OpenSockets());
    EXPECT_FALSE(FileExists(SPOOL_FILE_42));
}

INSTANTIATE_TEST_SUITE_P(BothModes, JobFlowModeTest, testing::Values(STREAMING, SPOOL_FILE),
                         [](const testing::TestParamInfo<Mode>& info) {
                             return std::string(info.param == STREAMING ? "Streaming"
                                                                        : "SpoolFile");
                         });

// --- The printer's state before the job -------------------------------------------------------

TEST_F(JobFlowTest, ABusyPrinterIsAskedOnceASecondUntilItIsIdle) {
    OpenWith(Script(STREAMING, "{}",
                    R"({"ipp": {"printer_state": 3}, "sequence": [{"count": 3, "ipp":
                       {"printer_state": 4}}, {}]})"));
    ASSERT_TRUE(Start());
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(std::vector<DWORD>({1000, 1000, 1000}), virtual_clock::Sleeps());
    EXPECT_EQ(4u, RecordsOf(IPP_OP_GET_PRINTER_ATTRIBUTES, 4).size());
    std::string document = WriteAll({500});
    ASSERT_TRUE(End());
    std::vector<int> jobs = RecordsOf(IPP_OP_PRINT_JOB, 5);
    ASSERT_EQ(1u, jobs.size());
    EXPECT_EQ(document, peers::RecordPart(jobs[0], "doc"));
}

TEST_F(JobFlowTest, APrinterThatStaysBusyFailsTheJobAfter150Seconds) {
    OpenWith(Script(STREAMING, "{}", R"({"ipp": {"printer_state": 4}})"));
    EXPECT_FALSE(Start());
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), GetLastError());
    EXPECT_EQ(std::vector<DWORD>(150, 1000), virtual_clock::Sleeps());
    EXPECT_EQ(150000u, virtual_clock::NowMs());
    EXPECT_EQ(150u, RecordsOf(IPP_OP_GET_PRINTER_ATTRIBUTES, 150).size());
    EXPECT_FALSE(DocumentActive());
    EXPECT_TRUE(fake_spooler::CallsOf(SpoolerCall::SET_JOB).empty());
    EXPECT_EQ(1u, fake_spooler::CallsOf(SpoolerCall::CLOSE_PRINTER).size());
    ExpectReleased();
}

// A stopped printer fails the job with the error its state maps to (21 when it maps to none),
// and the port shows the printer's status.
TEST_F(JobFlowTest, AStoppedPrinterFailsTheJobAndShowsItsStatus) {
    struct Case {
        const char* reason;
        DWORD ntStatus;
        DWORD status9x;
        DWORD error;
    } cases[] = {
        {"door-open", 7, 0x400000, ERROR_NOT_READY},
        {"media-empty-error", 3, 0x10, ERROR_OUT_OF_PAPER},
        {"media-jam-error", 2, 0x8, ERROR_NOT_READY},
        {"none", 0, 0, ERROR_NOT_READY},
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        ASSERT_TRUE(peers::SetScript(
            Script(SPOOL_FILE, "{}",
                   std::string(R"({"ipp": {"printer_state": 5, "printer_state_reasons": [")") +
                       c.reason + "\"]}}")));
        fake_spooler::Clear();
        EXPECT_FALSE(Start());
        EXPECT_EQ(c.error, GetLastError());
        EXPECT_FALSE(DocumentActive());
        ExpectReleased();
        EXPECT_TRUE(fake_spooler::CallsOf(SpoolerCall::SET_JOB).empty());
        std::vector<SpoolerCall> reports = fake_spooler::CallsOf(STATUS_REPORT);
        ASSERT_FALSE(reports.empty());
#ifdef NIMBREL_9X
        // Reported on the job's printer while it is open; the close-printer step clears it.
        EXPECT_EQ(c.status9x, reports[0].status);
        EXPECT_EQ(JobPrinter(), reports[0].handle);
        EXPECT_EQ(0u, reports.back().status);
#else
        EXPECT_EQ(c.ntStatus, reports[0].status);
        EXPECT_EQ(c.ntStatus != 0 ? 2u : 0u, reports[0].severity);
        EXPECT_EQ(TextOf(setup_.uri),
                  tstring(reports[0].portName.begin(), reports[0].portName.end()));
#endif
        EXPECT_TRUE(RecordsOf(IPP_OP_PRINT_JOB, 1).empty());
    }
}

TEST_F(JobFlowTest, AnUnreachablePrinterFailsTheJobBeforeAnySpoolFileIsMade) {
    ASSERT_TRUE(peers::SetScript(Script(STREAMING))); // forgets earlier records
    setup_.uri = "http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/ipp/print";
    Open();
    EXPECT_FALSE(Start());
    EXPECT_EQ(static_cast<DWORD>(ERROR_NETWORK_UNREACHABLE), GetLastError());
    // The connection was refused 19 times, 10 s apart.
    EXPECT_EQ(std::vector<DWORD>(18, 10000), virtual_clock::Sleeps());
    EXPECT_FALSE(DocumentActive());
    EXPECT_EQ(1u, fake_spooler::CallsOf(SpoolerCall::CLOSE_PRINTER).size());
    ExpectReleased();
    EXPECT_EQ(0, peers::RecordCount());
}

// --- Writes that fail ---------------------------------------------------------------------------

// A printer that answers while the document still streams ends the attempt: the spooler is
// asked to restart the job after a pause, and the document state lasts until EndDocPort.
TEST_F(JobFlowTest, AnEarlyAnswerOtherThanContinueFailsTheWriteAndRestartsTheJob) {
    struct Case {
        const char* name;
        const char* printJob;
    } cases[] = {
        {"bad request", R"({"answer_at": "head", "ipp": {"status": 1024}})"},
        {"HTTP 500", R"({"answer_at": "head", "status": 500})"},
        {"successful-ok before the document", R"({"answer_at": "head"})"},
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(peers::SetScript(Script(STREAMING, c.printJob)));
        fake_spooler::Clear();
        size_t sleeps = virtual_clock::Sleeps().size();
        ASSERT_TRUE(Start());
        ASSERT_TRUE(AnswerArrived(port_));

        DWORD written = 0;
        EXPECT_FALSE(Write(Pattern(4096, 7), &written, 0));
        EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), GetLastError());
        EXPECT_EQ(0u, written);
        ExpectJobControlled(JOB_CONTROL_RESTART);
        std::vector<DWORD> pauses = virtual_clock::Sleeps();
        EXPECT_EQ(std::vector<DWORD>({5000}),
                  std::vector<DWORD>(pauses.begin() + sleeps, pauses.end()));
        EXPECT_TRUE(DocumentActive());
        ExpectReleased();

        // The rest of the document finds no job; EndDocPort ends the document state.
#ifdef NIMBREL_9X
        const DWORD expectedWritten = UNTOUCHED; // nimmon9x leaves the caller's count alone
#else
        const DWORD expectedWritten = 0;
#endif
        EXPECT_TRUE(Write(Pattern(4096, 8), &written));
        EXPECT_EQ(0u, GetLastError());
        EXPECT_EQ(expectedWritten, written);
        EXPECT_TRUE(End());
        EXPECT_EQ(0u, GetLastError());
        EXPECT_FALSE(DocumentActive());
        EXPECT_EQ(1u, fake_spooler::CallsOf(SpoolerCall::CLOSE_PRINTER).size());
    }
}

// An interim answer that has arrived does not make up for data that did not go out.
TEST_F(JobFlowTest, AWriteThatCannotBeSentFailsEvenWhenAContinueHasArrived) {
    OpenWith(Script(STREAMING, R"({"continue": 1, "continue_at": "head"})"));
    ASSERT_TRUE(Start());
    ASSERT_TRUE(AnswerArrived(port_));
    InterlockedExchange(&g_failSends, 1);
    DWORD written = 0;
    EXPECT_FALSE(Write(Pattern(4096, 5), &written, 0));
    InterlockedExchange(&g_failSends, 0);
    EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), GetLastError());
    EXPECT_EQ(0u, written);
    ExpectJobControlled(JOB_CONTROL_RESTART);
    EXPECT_EQ(std::vector<DWORD>({5000}), virtual_clock::Sleeps());
    ExpectReleased();
    EXPECT_TRUE(End());
    EXPECT_FALSE(DocumentActive());
}

// A printer that gives a successful verdict before it has the whole spool file has not printed
// the document: the job fails rather than pass as printed with its end missing.
TEST_F(JobFlowTest, ASuccessfulAnswerBeforeTheWholeSpoolFileFailsTheJob) {
    OpenWith(Script(SPOOL_FILE, R"({"answer_at": 1000})"));
    ASSERT_TRUE(Start());
    WriteAll({65536, 65536, 65536});
    PatientLookScope look;
    EXPECT_FALSE(End());
    EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), GetLastError());
    ExpectJobControlled(JOB_CONTROL_CANCEL);
    ExpectReleased();
}

// A verdict that comes right after the last of the file is the printer's answer on the whole
// document.
TEST_F(JobFlowTest, AnAnswerRightAfterTheLastOfTheSpoolFileIsTheVerdict) {
    OpenWith(Script(SPOOL_FILE));
    ASSERT_TRUE(Start());
    std::string document = WriteAll({65536, 1000});
    PatientLookScope look;
    EXPECT_TRUE(End());
    EXPECT_EQ(0u, GetLastError());
    ExpectReleased();
    std::vector<int> jobs = RecordsOf(IPP_OP_PRINT_JOB, 2);
    ASSERT_EQ(1u, jobs.size());
    EXPECT_EQ(document, peers::RecordPart(jobs[0], "doc"));
}

TEST_F(JobFlowTest, AnEarlyContinueLetsTheDocumentGoOn) {
    OpenWith(Script(STREAMING, R"({"continue": 1, "continue_at": "head"})"));
    ASSERT_TRUE(Start());
    ASSERT_TRUE(AnswerArrived(port_));
    std::string document = WriteAll({4096, 4096});
    ASSERT_TRUE(End());
    EXPECT_EQ(0u, GetLastError());
    ExpectReleased();
    std::vector<int> jobs = RecordsOf(IPP_OP_PRINT_JOB, 2);
    ASSERT_EQ(1u, jobs.size());
    EXPECT_EQ(document, peers::RecordPart(jobs[0], "doc"));
}

// A port opened before its settings were stored keeps its name, and its first document finds
// the settings stored meanwhile.
TEST_F(JobFlowTest, APortOpenedBeforeItsSettingsWereStoredPrintsOnceTheyAre) {
    ASSERT_TRUE(peers::SetScript(Script(STREAMING)));
    tstring name = TextOf(setup_.uri);
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPort(&name[0], &handle));
    port_ = static_cast<PortContext*>(handle);
    EXPECT_EQ(name, tstring(port_->portName));
    SavePort(setup_);

    ASSERT_TRUE(Start());
    std::string document = WriteAll({1000});
    ASSERT_TRUE(End());
    std::vector<int> jobs = RecordsOf(IPP_OP_PRINT_JOB, 2);
    ASSERT_EQ(1u, jobs.size());
    EXPECT_EQ(document, peers::RecordPart(jobs[0], "doc"));
}

// --- Documents that are not sent -----------------------------------------------------------------

// A document without a name is dropped: every call succeeds, nothing reaches the printer, and the
// spooler's job is cancelled at the end.
TEST_F(JobFlowTest, ADocumentWithoutANameIsDropped) {
    struct Case {
        const char* name;
        bool withInfo;
        const TCHAR* document;
    } cases[] = {{"empty name", true, TEXT("")},
                 {"no name", true, nullptr},
                 {"no document information", false, nullptr}};
    OpenWith(Script(STREAMING));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_spooler::Clear();
        DOC_INFO_1 info{};
        info.pDocName = const_cast<LPTSTR>(c.document);
        SetLastError(UNTOUCHED);
        ASSERT_TRUE(StartDocPort(port_, const_cast<LPTSTR>(PRINTER), JOB_ID, 1,
                                 c.withInfo ? reinterpret_cast<LPBYTE>(&info) : nullptr));
        EXPECT_EQ(0u, GetLastError());
        EXPECT_TRUE(DocumentActive());
        EXPECT_EQ(nullptr, port_->jobs);

        DWORD written = 0;
        EXPECT_TRUE(Write(Pattern(4096, 3), &written, 1234));
        EXPECT_EQ(0u, GetLastError());
#ifdef NIMBREL_9X
        EXPECT_EQ(1234u, written);
#else
        EXPECT_EQ(0u, written);
#endif
        EXPECT_TRUE(End());
        EXPECT_EQ(0u, GetLastError());
        EXPECT_FALSE(DocumentActive());
        ExpectJobControlled(JOB_CONTROL_CANCEL);
        ExpectReleased();
    }
    EXPECT_EQ(0, peers::RecordCount());
}

TEST_F(JobFlowTest, ASecondStartDocPortChangesNothing) {
    OpenWith(Script(STREAMING));
    ASSERT_TRUE(Start());
    JobContext* job = port_->jobs;
    ASSERT_NE(nullptr, job);

    BOOL again = Start(JOB_ID + 1, TEXT("Another Printer"), TEXT("other.ps"));
#ifdef NIMBREL_9X
    EXPECT_FALSE(again);
    EXPECT_EQ(static_cast<DWORD>(ERROR_BUSY), GetLastError());
#else
    EXPECT_TRUE(again);
    EXPECT_EQ(UNTOUCHED, GetLastError());
#endif
    EXPECT_EQ(JOB_ID, port_->currentJobId);
    EXPECT_EQ(job, port_->jobs);
    EXPECT_EQ(nullptr, job->next);
    EXPECT_EQ(1u, fake_spooler::CallsOf(SpoolerCall::OPEN_PRINTER).size());
    EXPECT_TRUE(DocumentActive());

    // The first document goes on undisturbed.
    std::string document = WriteAll({2000});
    ASSERT_TRUE(End());
    ExpectReleased();
    std::vector<int> jobs = RecordsOf(IPP_OP_PRINT_JOB, 2);
    ASSERT_EQ(1u, jobs.size());
    EXPECT_EQ(document, peers::RecordPart(jobs[0], "doc"));
    EXPECT_EQ(1u, RecordsOf(IPP_OP_GET_PRINTER_ATTRIBUTES, 2).size());
}

// Nothing written in spool-file mode: nothing is sent, the last error stays, and the empty
// spool file is left in TEMP.
TEST_F(JobFlowTest, AnEmptySpoolFileIsNotSentAndStays) {
    OpenWith(Script(SPOOL_FILE));
    ASSERT_TRUE(Start());
    DWORD written = 5;
    EXPECT_TRUE(Write(std::string(), &written));
    SetLastError(UNTOUCHED);
    EXPECT_TRUE(EndDocPort(port_));
    EXPECT_EQ(UNTOUCHED, GetLastError());
    EXPECT_FALSE(DocumentActive());
    ExpectJobControlled(JOB_CONTROL_CANCEL);
    EXPECT_TRUE(FileExists(SPOOL_FILE_42));
    EXPECT_EQ(std::string(), FileContent(SPOOL_FILE_42));
    EXPECT_TRUE(RecordsOf(IPP_OP_PRINT_JOB, 1).empty());
    EXPECT_EQ(0, OpenSockets());
    DeleteFile(SPOOL_FILE_42);
}

// A spool file left by an earlier job of the same id is emptied before the new document.
TEST_F(JobFlowTest, AnOldSpoolFileOfTheSameJobIdIsEmptied) {
    HANDLE old = CreateFile(SPOOL_FILE_42, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, old);
    DWORD n = 0;
    WriteFile(old, "left over from before", 21, &n, nullptr);
    CloseHandle(old);

    OpenWith(Script(SPOOL_FILE));
    ASSERT_TRUE(Start());
    EXPECT_EQ(std::string(), FileContent(SPOOL_FILE_42));
    std::string document = WriteAll({10});
    ASSERT_TRUE(End());
    std::vector<int> jobs = RecordsOf(IPP_OP_PRINT_JOB, 2);
    ASSERT_EQ(1u, jobs.size());
    EXPECT_EQ(document, peers::RecordPart(jobs[0], "doc"));
}

// --- TEMP ---------------------------------------------------------------------------------------

TEST_F(JobFlowTest, WithoutTempTheSpoolFileIsInTheRootOfTheCurrentDrive) {
    OpenWith(Script(SPOOL_FILE));
    SetEnvironmentVariable(TEXT("TEMP"), nullptr);
    ASSERT_TRUE(SetCurrentDirectory(TEXT("C:\\windows")));
    ASSERT_TRUE(Start());
    JobContext* job = JobListFind(port_, JOB_ID);
    ASSERT_NE(nullptr, job);
    EXPECT_EQ(tstring(TEXT("\\ipp0x2a.prn")), tstring(job->spoolFileName));
    EXPECT_TRUE(FileExists(TEXT("C:\\ipp0x2a.prn")));
    std::string document = WriteAll({300});
    ASSERT_TRUE(End());
    ExpectReleased(TEXT("C:\\ipp0x2a.prn"));
    std::vector<int> jobs = RecordsOf(IPP_OP_PRINT_JOB, 2);
    ASSERT_EQ(1u, jobs.size());
    EXPECT_EQ(document, peers::RecordPart(jobs[0], "doc"));
}

// A TEMP too long for the 260 characters it is read into gives no spool file rather than one in
// a cut path.
TEST_F(JobFlowTest, ATempTooLongToHoldFailsTheJob) {
    OpenWith(Script(SPOOL_FILE));
    tstring longTemp = TEXT("C:\\") + tstring(300, TEXT('t'));
    SetEnvironmentVariable(TEXT("TEMP"), longTemp.c_str());
    EXPECT_FALSE(Start());
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPEN_FAILED), GetLastError());
    EXPECT_FALSE(DocumentActive());
    EXPECT_EQ(1u, fake_spooler::CallsOf(SpoolerCall::CLOSE_PRINTER).size());
    ExpectReleased();
}

// --- The spooler's printer ----------------------------------------------------------------------

TEST_F(JobFlowTest, APrinterTheSpoolerCannotOpen) {
    OpenWith(Script(STREAMING));
    fake_spooler::FailOpenPrinter(ERROR_INVALID_PRINTER_NAME);
    BOOL started = Start();
#ifdef NIMBREL_9X
    // nimmon9x gives up with the spooler's own error, before it asks the printer.
    EXPECT_FALSE(started);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME), GetLastError());
    EXPECT_FALSE(DocumentActive());
    EXPECT_EQ(tstring(), tstring(port_->printerName));
    ExpectReleased();
    EXPECT_EQ(0, peers::RecordCount());
#else
    // nimmonnt prints without the handle.
    ASSERT_TRUE(started);
    EXPECT_EQ(nullptr, port_->printerHandle);
    std::string document = WriteAll({100});
    EXPECT_TRUE(End());
    ExpectReleased();
    EXPECT_TRUE(fake_spooler::CallsOf(SpoolerCall::SET_JOB).empty());
    std::vector<int> jobs = RecordsOf(IPP_OP_PRINT_JOB, 2);
    ASSERT_EQ(1u, jobs.size());
    EXPECT_EQ(document, peers::RecordPart(jobs[0], "doc"));
#endif
}
