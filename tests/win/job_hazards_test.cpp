// A print job against what can go wrong around it: other local users who plant links or files
// under the spool file's predictable name, or reach into the file while the job holds it;
// registry values that try to add header lines or do not fit; printers that break off, reset,
// stall or answer nonsense; a TEMP that cannot take the spool file; the port's settings removed
// under a running job. Each time the job must end with the right code, the spooler's job must be
// cancelled or restarted, nothing may pass as printed that was not, and nothing may be left
// held. Against the scripted fake printer, in virtual time, with the fake spooler.
#include "monitor/core/handles.h"
#include "monitor/core/job_flow.h"
#include "monitor/core/job_list.h"
#include "monitor/core/port_entries.h"
#include "monitor/transport/socket_ops.h"
#include "tests/support/fake_spooler.h"
#include "tests/support/virtual_clock.h"
#include "tests/win/printer_port.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

testing::Environment* const g_winsock = testing::AddGlobalTestEnvironment(new WinsockEnvironment);

const DWORD PEER_ANSWER_MS = 15000;
const DWORD CONDITION_MS = 30000;
const DWORD UNTOUCHED = 0xdeadbeef;
const DWORD JOB_ID = 42;
const TCHAR PRINTER[] = TEXT("Nimbrel Test Printer");
const TCHAR DOCUMENT[] = TEXT("hazard.ps");

const wchar_t TEMP_DIR[] = L"C:\\nimbrel-hazard-temp";
const wchar_t SPOOL_FILE[] = L"C:\\nimbrel-hazard-temp\\ipp0x2a.prn";
// Another user's file somewhere else, which a link at the spool file's name points to.
const wchar_t VICTIM[] = L"C:\\nimbrel-hazard-victim.txt";
const char VICTIM_CONTENT[] = "VICTIM: private text that must neither change nor be printed";

const char IDLE[] = R"({"ipp": {"printer_state": 3, "printer_state_reasons": ["none"]}})";

enum Mode { STREAMING, SPOOL_FILE_MODE };

std::string Script(Mode mode, const std::string& printJob = "{}") {
    std::string common = mode == SPOOL_FILE_MODE ? R"({"http_version": "HTTP/1.0"})" : "{}";
    return "{\"common\": " + common +
           ", \"operations\": {\"print-job\": {\"default\": " + printJob +
           "}, \"get-printer-attributes\": {\"default\": " + IDLE + "}}}";
}

std::string Pattern(size_t bytes, unsigned seed) {
    std::string data(bytes, '\0');
    unsigned x = seed * 2654435761u + 7;
    for (size_t i = 0; i < bytes; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<char>('a' + (x >> 16) % 26); // never the victim's text
    }
    return data;
}

bool Exists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// Finds a name also when it is a link that leads nowhere.
bool NamePresent(const wchar_t* path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(path, &data);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(find);
    return true;
}

std::string ContentOf(const wchar_t* path) {
    std::string content;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return content;
    }
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        content.append(buffer, n);
    }
    CloseHandle(file);
    return content;
}

bool WriteWholeFile(const wchar_t* path, const std::string& content) {
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD n = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &n, nullptr);
    CloseHandle(file);
    return ok && n == content.size();
}

// The document of every Print-Job the printer received.
std::vector<std::string> PrintedDocuments(int waitForRecords) {
    if (waitForRecords > 0) {
        peers::Records(waitForRecords, CONDITION_MS);
    }
    std::vector<std::string> documents;
    int count = peers::RecordCount();
    for (int n = 1; n <= count; ++n) {
        std::string body = peers::RecordPart(n, "body");
        if (body.size() >= 4 && body[2] == 0 && body[3] == IPP_OP_PRINT_JOB) {
            documents.push_back(peers::RecordPart(n, "doc"));
        }
    }
    return documents;
}

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

// --- The fixture --------------------------------------------------------------------------------

class JobHazardTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(0, peers::FakePrinterPort()) << "run under tests/tools/with-peers --fake";
        RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
        virtual_clock::SetReadableRealSlice(PEER_ANSWER_MS);
        virtual_clock::SetSocketTimeout(PEER_ANSWER_MS);
        virtual_clock::HoldObjectWaits(true);

        wchar_t temp[MAX_PATH] = {};
        hadTemp_ = GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH) > 0;
        savedTemp_ = temp;
        CreateDirectoryW(TEMP_DIR, nullptr);
        SetEnvironmentVariableW(L"TEMP", TEMP_DIR);
        RemoveName(SPOOL_FILE);
        ASSERT_TRUE(WriteWholeFile(VICTIM, VICTIM_CONTENT));

        g_realSockets = Sockets();
        g_countingSockets = *g_realSockets;
        g_countingSockets.socket = CountingSocket;
        g_countingSockets.closesocket = CountingClosesocket;
        g_openSockets = 0;
        SocketsInstall(&g_countingSockets);

        setup_.uri = peers::FakePrinterUri();
        setup_.checkInTime = 0; // the status thread makes no query of its own
    }

    void TearDown() override {
        if (port_ != nullptr) {
            ClosePort(port_);
        }
        SocketsInstall(g_realSockets);
        SetEnvironmentVariableW(L"TEMP", hadTemp_ ? savedTemp_.c_str() : nullptr);
        RemoveName(SPOOL_FILE);
        DeleteFileW(VICTIM);
        RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
    }

    static void RemoveName(const wchar_t* path) {
        if (!DeleteFileW(path)) {
            RemoveDirectoryW(path);
        }
    }

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

    BOOL Start() {
        DOC_INFO_1 info{};
        info.pDocName = const_cast<LPTSTR>(DOCUMENT);
        SetLastError(UNTOUCHED);
        return StartDocPort(port_, const_cast<LPTSTR>(PRINTER), JOB_ID, 1,
                            reinterpret_cast<LPBYTE>(&info));
    }

    BOOL Write(const std::string& data, DWORD* written) {
        *written = UNTOUCHED;
        SetLastError(UNTOUCHED);
        return WritePort(port_, reinterpret_cast<LPBYTE>(const_cast<char*>(data.data())),
                         static_cast<DWORD>(data.size()), written);
    }

    BOOL End() {
        SetLastError(UNTOUCHED);
        return EndDocPort(port_);
    }

    std::string WriteAll(const std::vector<size_t>& pieces) {
        std::string document;
        unsigned seed = 1;
        for (size_t bytes : pieces) {
            std::string piece = Pattern(bytes, seed++);
            DWORD written = 0;
            EXPECT_TRUE(Write(piece, &written)) << bytes;
            EXPECT_EQ(bytes, written);
            document += piece;
        }
        return document;
    }

    bool DocumentActive() const { return (PortFlags(port_) & PORT_FLAG_DOC_ACTIVE) != 0; }

    // Everything the job held is given back: record, printer handle, connections.
    void ExpectReleased() {
        EXPECT_EQ(0, InterlockedCompareExchange(&g_openSockets, 0, 0));
        EXPECT_EQ(nullptr, port_->jobs);
        EXPECT_EQ(nullptr, port_->printerHandle);
        EXPECT_EQ(0, fake_spooler::OpenHandles());
        EXPECT_FALSE(DocumentActive());
    }

    // The spooler heard `command` about the job once, or nothing at all when command is 0.
    void ExpectSpoolerTold(DWORD command) {
        std::vector<SpoolerCall> calls = fake_spooler::CallsOf(SpoolerCall::SET_JOB);
        if (command == 0) {
            EXPECT_TRUE(calls.empty());
            return;
        }
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(command, calls[0].command);
        EXPECT_EQ(JOB_ID, calls[0].jobId);
    }

    void ExpectVictimUntouched() { EXPECT_EQ(std::string(VICTIM_CONTENT), ContentOf(VICTIM)); }

    VirtualClockScope clock_;
    FakeSpoolerScope spooler_;
    PortSetup setup_;
    PortContext* port_ = nullptr;
    bool hadTemp_ = false;
    std::wstring savedTemp_;
};

} // namespace

// --- The spool file's name in a shared TEMP ------------------------------------------------------

// Whatever another user planted under the name the next job's spool file will have, the job
// writes into a new file of its own: a link is removed, never followed, so no file elsewhere is
// emptied or overwritten, and the printer gets the document and nothing else. (Wine makes no
// symbolic links for Windows programs, so the links planted here are hard links; a symbolic link
// takes the same way: DeleteFile removes the link itself, and the new file is made with
// CREATE_NEW without following a reparse point.)
TEST_F(JobHazardTest, ALinkPlantedUnderTheSpoolFilesNameIsNeitherFollowedNorSent) {
    struct Case {
        const char* name;
        bool (*plant)();
    } cases[] = {
        {"hard link to another file",
         [] { return CreateHardLinkW(SPOOL_FILE, VICTIM, nullptr) != FALSE; }},
        {"a file of another user with other content",
         [] { return WriteWholeFile(SPOOL_FILE, VICTIM_CONTENT); }},
    };
    OpenWith(Script(SPOOL_FILE_MODE));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(peers::SetScript(Script(SPOOL_FILE_MODE))); // forgets earlier records
        fake_spooler::Clear();
        ASSERT_TRUE(c.plant());

        ASSERT_TRUE(Start());
        EXPECT_EQ(0u, GetLastError());
        ExpectVictimUntouched();
        std::string document = WriteAll({4096, 1000});
        ExpectVictimUntouched();
        EXPECT_EQ(document, ContentOf(SPOOL_FILE));
        ASSERT_TRUE(End());
        EXPECT_EQ(0u, GetLastError());

        ExpectVictimUntouched();
        EXPECT_FALSE(NamePresent(SPOOL_FILE));
        std::vector<std::string> printed = PrintedDocuments(2);
        ASSERT_EQ(1u, printed.size());
        EXPECT_EQ(document, printed[0]);
        EXPECT_EQ(std::string::npos, printed[0].find("VICTIM"));
        ExpectSpoolerTold(JOB_CONTROL_CANCEL);
        ExpectReleased();
    }
}

// While the job holds its spool file nobody else can write into it, delete it, rename it or put
// something else in its place: the printer gets exactly what the spooler wrote.
TEST_F(JobHazardTest, NobodyElseCanChangeTheSpoolFileWhileTheJobHoldsIt) {
    OpenWith(Script(SPOOL_FILE_MODE));
    ASSERT_TRUE(Start());
    std::string document = WriteAll({3000});

    HANDLE writer = CreateFileW(SPOOL_FILE, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
    }
    EXPECT_FALSE(DeleteFileW(SPOOL_FILE));
    const wchar_t moved[] = L"C:\\nimbrel-hazard-temp\\moved.prn";
    EXPECT_FALSE(MoveFileW(SPOOL_FILE, moved));
    EXPECT_FALSE(Exists(moved));
    DeleteFileW(moved);
    // Reading it stays possible (the job's own pieces can be looked at).
    EXPECT_EQ(document, ContentOf(SPOOL_FILE));

    document += WriteAll({500});
    ASSERT_TRUE(End());
    EXPECT_EQ(0u, GetLastError());
    std::vector<std::string> printed = PrintedDocuments(2);
    ASSERT_EQ(1u, printed.size());
    EXPECT_EQ(document, printed[0]);
    EXPECT_FALSE(NamePresent(SPOOL_FILE));
    ExpectReleased();
}

// A name that cannot be cleared (a folder, or a link that is planted again in between) leaves
// the job without a spool file: StartDocPort fails with 110, before anything reaches the printer,
// and what has the name is left alone.
TEST_F(JobHazardTest, ANameThatCannotBeClearedFailsTheJobWith110) {
    OpenWith(Script(SPOOL_FILE_MODE));
    ASSERT_TRUE(CreateDirectoryW(SPOOL_FILE, nullptr));
    EXPECT_FALSE(Start());
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPEN_FAILED), GetLastError());
    EXPECT_NE(0u, GetFileAttributesW(SPOOL_FILE) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(Exists(SPOOL_FILE));
    EXPECT_TRUE(PrintedDocuments(0).empty());
    ExpectSpoolerTold(0);
    EXPECT_EQ(1u, fake_spooler::CallsOf(SpoolerCall::CLOSE_PRINTER).size());
    ExpectReleased();
}

// A TEMP where no file can be made fails the job with 110 at StartDocPort; nothing is sent.
TEST_F(JobHazardTest, ATempWhereNoFileCanBeMadeFailsTheJobWith110) {
    OpenWith(Script(SPOOL_FILE_MODE));
    SetEnvironmentVariableW(L"TEMP", L"C:\\nimbrel-no-such-folder\\below");
    EXPECT_FALSE(Start());
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPEN_FAILED), GetLastError());
    EXPECT_TRUE(PrintedDocuments(0).empty());
    ExpectSpoolerTold(0);
    ExpectReleased();
    // The port is usable again once TEMP is.
    SetEnvironmentVariableW(L"TEMP", TEMP_DIR);
    ASSERT_TRUE(Start());
    std::string document = WriteAll({100});
    ASSERT_TRUE(End());
    std::vector<std::string> printed = PrintedDocuments(2);
    ASSERT_EQ(1u, printed.size());
    EXPECT_EQ(document, printed[0]);
}

// --- Port settings that are hostile or do not fit ------------------------------------------------

namespace {

tstring Widen(const std::string& narrow) {
    return tstring(narrow.begin(), narrow.end()); // ASCII only
}

// Stores a PrinterURI value of any length as it is, past what SavePortSettings would write.
void StorePrinterUri(const std::string& portName, const std::string& value) {
    tstring path = tstring(PORTS_KEY_PATH) + TEXT("\\") + Widen(portName);
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, key.put()));
    tstring text = Widen(value);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueEx(key.get(), TEXT("PrinterURI"), 0, REG_SZ,
                                           reinterpret_cast<const BYTE*>(text.c_str()),
                                           static_cast<DWORD>((text.size() + 1) * sizeof(TCHAR))));
}

// Every header line of every request the printer received.
std::vector<std::string> ReceivedHeaderLines() {
    std::vector<std::string> lines;
    int count = peers::RecordCount();
    for (int n = 1; n <= count; ++n) {
        std::string head = peers::RecordPart(n, "head");
        size_t at = 0;
        while (at < head.size()) {
            size_t end = head.find("\r\n", at);
            if (end == std::string::npos) {
                end = head.size();
            }
            lines.push_back(head.substr(at, end - at));
            at = end + 2;
        }
    }
    return lines;
}

bool HasInjectedHeader() {
    for (const std::string& line : ReceivedHeaderLines()) {
        if (line.compare(0, 10, "X-Injected") == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

// A line break stored in a port's PrinterURI cannot add a header line to any request: in the
// host part, which gives the Host line, the request is not sent at all and the job fails with
// 1231 before anything reaches the printer.
TEST_F(JobHazardTest, ALineBreakInTheStoredUriAddsNoHeaderLine) {
    struct Case {
        const char* name;
        std::string printerUri;
        BOOL started;
        DWORD error;
    } cases[] = {
        {"in the host",
         "http://127.0.0.1\r\nX-Injected: host:" + std::to_string(peers::FakePrinterPort()) +
             "/ipp/print",
         FALSE, ERROR_NETWORK_UNREACHABLE},
        {"LF alone in the host",
         "http://127.0.0.1\nX-Injected: lf:" + std::to_string(peers::FakePrinterPort()) +
             "/ipp/print",
         FALSE, ERROR_NETWORK_UNREACHABLE},
    };
    for (Mode mode : {STREAMING, SPOOL_FILE_MODE}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (mode == STREAMING ? ", streaming" : ", spool"));
            ASSERT_TRUE(peers::SetScript(Script(mode)));
            if (port_ == nullptr) {
                Open();
            }
            StorePrinterUri(setup_.uri, c.printerUri);
            fake_spooler::Clear();
            EXPECT_EQ(c.started, Start());
            EXPECT_EQ(c.error, GetLastError());
            std::string document;
            if (c.started) {
                document = WriteAll({2000});
                EXPECT_TRUE(End());
                EXPECT_EQ(0u, GetLastError());
                std::vector<std::string> printed = PrintedDocuments(2);
                ASSERT_EQ(1u, printed.size());
                EXPECT_EQ(document, printed[0]);
            } else {
                EXPECT_TRUE(PrintedDocuments(0).empty());
            }
            EXPECT_FALSE(HasInjectedHeader());
            ExpectReleased();
        }
    }
}

// PrinterURI values around the 1024 bytes the record holds. One of 1,023 characters loads, but
// no request can carry it: the job fails with 1231 before anything is sent. Longer ones are not
// taken: nimmonnt reads a value longer than its read buffer as empty (the printer then refuses
// the job's state query, and the job fails with the error that maps to); nimmon9x refuses the
// load, so the port keeps the settings it had and the job prints with them. No request ever
// carries a cut URI.
TEST_F(JobHazardTest, LongStoredUrisAreNeverCut) {
    const std::string base = peers::FakePrinterUri() + "?";
    const DWORD ANY_ERROR = UNTOUCHED;
    struct Case {
        size_t length;
        BOOL started;
        DWORD error;
    } cases[] = {
        {1023, FALSE, ERROR_NETWORK_UNREACHABLE},
#ifdef NIMBREL_9X
        {1024, TRUE, 0},
        {2000, TRUE, 0},
#else
        {1024, FALSE, ANY_ERROR},
        {2000, FALSE, ANY_ERROR},
#endif
    };
    for (Mode mode : {STREAMING, SPOOL_FILE_MODE}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.length) +
                         (mode == STREAMING ? ", streaming" : ", spool"));
            ASSERT_TRUE(peers::SetScript(Script(mode)));
            if (port_ == nullptr) {
                Open();
            }
            const std::string uri = base + std::string(c.length - base.size(), 'u');
            StorePrinterUri(setup_.uri, uri);
            // The record holds what the last load that succeeded gave it.
            StorePrinterUri(setup_.uri, setup_.uri);
            ASSERT_TRUE(LoadPortSettings(port_->portName, port_));
            StorePrinterUri(setup_.uri, uri);
            fake_spooler::Clear();
            EXPECT_EQ(c.started, Start());
            if (c.error == ANY_ERROR) {
                EXPECT_NE(0u, GetLastError());
                EXPECT_NE(ANY_ERROR, GetLastError());
            } else {
                EXPECT_EQ(c.error, GetLastError());
            }
            if (c.started) {
                EXPECT_STREQ(setup_.uri.c_str(), port_->printerUri);
                std::string document = WriteAll({2000});
                EXPECT_TRUE(End());
                EXPECT_EQ(0u, GetLastError());
                std::vector<std::string> printed = PrintedDocuments(2);
                ASSERT_EQ(1u, printed.size());
                EXPECT_EQ(document, printed[0]);
            } else {
                EXPECT_TRUE(PrintedDocuments(0).empty());
            }
            for (int n = 1; n <= peers::RecordCount(); ++n) {
                std::string body = peers::RecordPart(n, "body");
                EXPECT_EQ(body.find(uri.substr(0, 200)) != std::string::npos,
                          body.find(uri) != std::string::npos);
            }
            ExpectReleased();
        }
    }
}

// A document name longer than the 511 characters the job record holds is cut there: it is only a
// label for the printer, and the document itself goes through whole.
TEST_F(JobHazardTest, ADocumentNameOver511CharactersIsCutAndTheJobPrints) {
    OpenWith(Script(SPOOL_FILE_MODE));
    const tstring name(2000, TEXT('d'));
    DOC_INFO_1 info{};
    info.pDocName = const_cast<LPTSTR>(name.c_str());
    ASSERT_TRUE(StartDocPort(port_, const_cast<LPTSTR>(PRINTER), JOB_ID, 1,
                             reinterpret_cast<LPBYTE>(&info)));
    JobContext* job = JobListFind(port_, JOB_ID);
    ASSERT_NE(nullptr, job);
    EXPECT_EQ(tstring(511, TEXT('d')), tstring(job->documentName));
    std::string document = WriteAll({3000});
    ASSERT_TRUE(End());
    std::vector<std::string> printed = PrintedDocuments(2);
    ASSERT_EQ(1u, printed.size());
    EXPECT_EQ(document, printed[0]);
    ExpectReleased();
}

// --- Printers and proxies that fail the job ------------------------------------------------------

namespace {

// The fake printer's raw_text: a head that goes on with header lines and never ends.
std::string EndlessHeadStep() {
    std::string text = "HTTP/1.1 200 OK\\r\\n";
    for (int i = 0; i < 2000; ++i) {
        text += "X-Pad-" + std::to_string(i) + ": " + std::string(60, 'p') + "\\r\\n";
    }
    return "{\"raw_text\": \"" + text + "\"}";
}

struct FaultCase {
    const char* name;
    std::string printJob;         // the fake printer's step for the Print-Job
    std::vector<DWORD> endErrors; // the codes EndDocPort may fail with
};

} // namespace

// Whatever the printer does instead of taking the document and answering, the job does not pass
// as printed: either a write fails with 29 and the spooler is asked to restart the job, or
// EndDocPort fails with the code of what happened and the spooler's job is cancelled. Everything
// the job held is given back.
TEST_F(JobHazardTest, APrinterThatBreaksOffOrAnswersNonsenseFailsTheJob) {
    const std::vector<DWORD> broken = {ERROR_CONNECTION_UNAVAIL, WSAECONNRESET, WSAECONNABORTED,
                                       WSAESHUTDOWN};
    const FaultCase cases[] = {
        {"closes the connection during the upload", R"({"answer_at": 3000, "close_after": 0})",
         broken},
        {"resets the connection during the upload", R"({"answer_at": 3000, "reset_after": 0})",
         broken},
        {"answers garbage",
         R"({"raw_text": "garbage that is no reply\r\n\r\n"})",
         {ERROR_CONNECTION_UNAVAIL}},
        {"sends a head that never ends", EndlessHeadStep(), {ERROR_CONNECTION_UNAVAIL}},
        {"closes without a word", R"({"close_after": 0})", {ERROR_CONNECTION_UNAVAIL}},
        {"answers 502", R"({"status": 502})", {ERROR_CONNECTION_UNAVAIL}},
    };
    for (Mode mode : {STREAMING, SPOOL_FILE_MODE}) {
        for (const FaultCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (mode == STREAMING ? ", streaming" : ", spool"));
            ASSERT_TRUE(peers::SetScript(Script(mode, c.printJob)));
            if (port_ == nullptr) {
                Open();
            }
            fake_spooler::Clear();
            ASSERT_TRUE(Start());
            BOOL writeFailed = FALSE;
            for (int i = 0; i < 64 && !writeFailed; ++i) {
                DWORD written = 0;
                if (!Write(Pattern(4096, static_cast<unsigned>(i)), &written)) {
                    writeFailed = TRUE;
                    EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), GetLastError());
                }
            }
            if (writeFailed) {
                EXPECT_EQ(STREAMING, mode); // the spool file takes every write
                ExpectSpoolerTold(JOB_CONTROL_RESTART);
                EXPECT_TRUE(End()); // the document state ends; the job was handed back
            } else {
                EXPECT_FALSE(End());
                DWORD error = GetLastError();
                EXPECT_NE(c.endErrors.end(),
                          std::find(c.endErrors.begin(), c.endErrors.end(), error))
                    << error;
                ExpectSpoolerTold(JOB_CONTROL_CANCEL);
            }
            ExpectReleased();
            EXPECT_FALSE(NamePresent(SPOOL_FILE));
        }
    }
}

// A proxy that refuses the connection fails the job at StartDocPort with 1231 (after the
// connection retries, in virtual time); one that answers the job with 502 fails it at EndDocPort
// with 1201. A port with a proxy always sends from the spool file.
TEST_F(JobHazardTest, AProxyThatRefusesOrAnswers502FailsTheJob) {
    ASSERT_TRUE(peers::SetScript(Script(STREAMING, R"({"status": 502})")));
    setup_.useProxy = 1;
    setup_.proxyServer = "127.0.0.1";
    setup_.proxyPort = static_cast<DWORD>(peers::FakePrinterPort());
    Open();
    ASSERT_TRUE(Start());
    JobContext* job = JobListFind(port_, JOB_ID);
    ASSERT_NE(nullptr, job);
    EXPECT_EQ(0u, job->chunked);
    WriteAll({5000});
    EXPECT_FALSE(End());
    EXPECT_EQ(static_cast<DWORD>(ERROR_CONNECTION_UNAVAIL), GetLastError());
    ExpectSpoolerTold(JOB_CONTROL_CANCEL);
    ExpectReleased();
    EXPECT_FALSE(NamePresent(SPOOL_FILE));

    port_->proxyPort = ClosedLoopbackPort();
    setup_.proxyPort = static_cast<DWORD>(port_->proxyPort);
    SavePort(setup_);
    fake_spooler::Clear();
    EXPECT_FALSE(Start());
    EXPECT_EQ(static_cast<DWORD>(ERROR_NETWORK_UNREACHABLE), GetLastError());
    ExpectSpoolerTold(0);
    ExpectReleased();
    EXPECT_FALSE(NamePresent(SPOOL_FILE));
}

// The port's settings removed from the registry while the port is open, or while a job runs: the
// open port keeps the settings it loaded, and the job goes through.
TEST_F(JobHazardTest, SettingsRemovedUnderAnOpenPortOrARunningJob) {
    for (Mode mode : {STREAMING, SPOOL_FILE_MODE}) {
        for (bool duringJob : {false, true}) {
            SCOPED_TRACE(std::string(duringJob ? "during the job" : "before the job") +
                         (mode == STREAMING ? ", streaming" : ", spool"));
            ASSERT_TRUE(peers::SetScript(Script(mode)));
            if (port_ == nullptr) {
                Open();
            }
            SavePort(setup_);
            fake_spooler::Clear();
            if (!duringJob) {
                ASSERT_EQ(ERROR_SUCCESS, RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH));
            }
            ASSERT_TRUE(Start());
            if (duringJob) {
                ASSERT_EQ(ERROR_SUCCESS, RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH));
            }
            std::string document = WriteAll({4096, 100});
            EXPECT_TRUE(End());
            EXPECT_EQ(0u, GetLastError());
            std::vector<std::string> printed = PrintedDocuments(2);
            ASSERT_EQ(1u, printed.size());
            EXPECT_EQ(document, printed[0]);
            ExpectSpoolerTold(JOB_CONTROL_CANCEL);
            ExpectReleased();
        }
    }
}

// A printer that stops reading the document: once its buffers are full a send times out, and
// with the printer not known to answer its status queries that ends the attempt (a write fails
// with 29 and the spooler restarts the job; from the spool file EndDocPort fails with the
// time-out). A printer that takes the document and then says nothing fails the job with 1201 once
// the five-minute wait for its answer has passed (in virtual time).
TEST_F(JobHazardTest, APrinterThatStopsReadingOrNeverAnswersFailsTheJob) {
    virtual_clock::SetSocketTimeout(300);
    struct Case {
        const char* name;
        Mode mode;
        const char* printJob;
        BOOL writeFails;
        DWORD endError;
    } cases[] = {
        {"stops reading, streaming", STREAMING,
         R"({"read_body": 1000, "answer_at": "never", "hold_ms": 30000})", TRUE, 0},
        {"stops reading, spool file", SPOOL_FILE_MODE,
         R"({"read_body": 1000, "answer_at": "never", "hold_ms": 30000})", FALSE, WSAETIMEDOUT},
        {"never answers, streaming", STREAMING, R"({"answer_at": "never", "hold_ms": 30000})",
         FALSE, ERROR_CONNECTION_UNAVAIL},
        {"never answers, spool file", SPOOL_FILE_MODE,
         R"({"answer_at": "never", "hold_ms": 30000})", FALSE, ERROR_CONNECTION_UNAVAIL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(peers::SetScript(Script(c.mode, c.printJob)));
        if (port_ == nullptr) {
            Open();
        }
        EXPECT_EQ(0u, LoadShared(&port_->printerReachable));
        fake_spooler::Clear();
        ASSERT_TRUE(Start());
        BOOL writeFailed = FALSE;
        const std::string piece = Pattern(65536, 3);
        for (int i = 0; i < 256 && !writeFailed; ++i) { // 16 MiB, more than any socket buffers
            DWORD written = 0;
            writeFailed = !Write(piece, &written);
        }
        EXPECT_EQ(c.writeFails, writeFailed);
        if (writeFailed) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), GetLastError());
            ExpectSpoolerTold(JOB_CONTROL_RESTART);
            EXPECT_TRUE(End());
        } else {
            // No answer is on its way: the wait for it need not really block for long.
            virtual_clock::SetReadableRealSlice(300);
            EXPECT_FALSE(End());
            virtual_clock::SetReadableRealSlice(PEER_ANSWER_MS);
            EXPECT_EQ(c.endError, GetLastError());
            ExpectSpoolerTold(JOB_CONTROL_CANCEL);
        }
        ExpectReleased();
        EXPECT_FALSE(NamePresent(SPOOL_FILE));
    }
}
