// The status thread of an open port, stepped through its waits in virtual time while the fake
// printer answers its queries over loopback and the fake spooler records what it reports.
// Ports are opened with OpenPort and closed with ClosePort, settings live in the registry.
#include "monitor/core/port_entries.h"
#include "monitor/core/port_open.h"
#include "monitor/ipp/port_status.h"
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

// Status values as each build reports them.
#ifdef NIMBREL_9X
const DWORD OFFLINE = 0x80;
const DWORD PAPER_JAM = 0x8;
const DWORD DOOR_OPEN = 0x400000;
#else
const DWORD OFFLINE = 1;
const DWORD PAPER_JAM = 2;
const DWORD DOOR_OPEN = 7;
#endif

// A printer handle as StartDocPort would leave it while a job runs (nimmon9x reports on it).
HANDLE const JOB_PRINTER = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5150));

const char IDLE[] = R"({"ipp": {"printer_state": 3, "printer_state_reasons": ["none"]}})";
const char JAMMED[] =
    R"({"ipp": {"printer_state": 3, "printer_state_reasons": ["media-jam-error"]}})";
const char DOOR[] = R"({"ipp": {"printer_state": 3, "printer_state_reasons": ["door-open"]}})";

// --- What the spooler sees ---------------------------------------------------------------------

// Every status report goes to the fake spooler through this layer, which notes whether the
// port's wake event was still held at that moment (the thread must report before releasing it).
CRITICAL_SECTION g_watchLock;
const SpoolerServices* g_fake = nullptr;
PortContext* g_watched = nullptr;
std::vector<bool> g_eventHeld;

void NoteReport() {
    PortContext* port = __atomic_load_n(&g_watched, __ATOMIC_SEQ_CST);
    bool held = false;
    if (port != nullptr) {
        HANDLE event = LoadSharedHandle(&port->wakeEvent);
        DWORD flags = 0;
        held = event != nullptr && GetHandleInformation(event, &flags) != FALSE;
    }
    g_eventHeld.push_back(held);
}

BOOL WINAPI WatchSetPortW(LPWSTR server, LPWSTR port, DWORD level, LPBYTE info) {
    EnterCriticalSection(&g_watchLock);
    NoteReport();
    BOOL result = g_fake->setPortW(server, port, level, info);
    LeaveCriticalSection(&g_watchLock);
    return result;
}

BOOL WINAPI WatchSetPrinterA(HANDLE printer, DWORD level, LPBYTE info, DWORD command) {
    EnterCriticalSection(&g_watchLock);
    NoteReport();
    BOOL result = g_fake->setPrinterA(printer, level, info, command);
    LeaveCriticalSection(&g_watchLock);
    return result;
}

BOOL WINAPI PassOpenPrinter(LPTSTR name, LPHANDLE printer, LPPRINTER_DEFAULTS defaults) {
    return g_fake->openPrinter(name, printer, defaults);
}
BOOL WINAPI PassSetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command) {
    return g_fake->setJob(printer, jobId, level, job, command);
}
BOOL WINAPI PassClosePrinter(HANDLE printer) {
    return g_fake->closePrinter(printer);
}

const SpoolerServices kWatch = {PassOpenPrinter, PassSetJob, PassClosePrinter, WatchSetPortW,
                                WatchSetPrinterA};

#ifdef NIMBREL_9X
const SpoolerCall::Kind REPORT = SpoolerCall::SET_PRINTER;
#else
const SpoolerCall::Kind REPORT = SpoolerCall::SET_PORT;
#endif

// --- How the thread is started -----------------------------------------------------------------

bool g_attachPrinter = false;

// Starts the thread as OpenPort asks, after noting the port (and, when the test wants it, giving
// the port a job's printer handle, so nimmon9x reports from the first poll on).
HANDLE WINAPI WatchingCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                   LPTHREAD_START_ROUTINE routine, LPVOID argument, DWORD flags,
                                   LPDWORD id) {
    auto* port = static_cast<PortContext*>(argument);
    if (g_attachPrinter) {
        port->printerHandle = JOB_PRINTER;
    }
    __atomic_store_n(&g_watched, port, __ATOMIC_SEQ_CST);
    return CreateThread(security, stack, routine, argument, flags, id);
}

HANDLE WINAPI FailingCreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                  DWORD, LPDWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

class StatusThreadTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { InitializeCriticalSection(&g_watchLock); }

    void SetUp() override {
        ASSERT_NE(0, peers::FakePrinterPort()) << "run under tests/tools/with-peers --fake";
        RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
        virtual_clock::SetReadableRealSlice(PEER_ANSWER_MS);
        virtual_clock::HoldObjectWaits(true);
        g_fake = SpoolerInstall(&kWatch);
        g_eventHeld.clear();
        g_watched = nullptr;
        StatusThreadCreatorInstall(WatchingCreateThread);
        setup_.uri = peers::FakePrinterUri();
        ASSERT_TRUE(peers::SetScript(std::string("{\"default\": ") + IDLE + "}"));
    }

    void TearDown() override {
        if (port_ != nullptr) {
            ClosePort(port_); // a failed test leaves no thread behind
        }
        StatusThreadCreatorInstall(nullptr);
        SpoolerInstall(g_fake);
        __atomic_store_n(&g_watched, nullptr, __ATOMIC_SEQ_CST);
        RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
    }

    // Every Get-Printer-Attributes from now on gets `step`; the records made so far stay.
    static void Answer(const std::string& step) {
        std::string reply;
        ASSERT_EQ(200,
                  peers::Control("PUT", "/_control/script", "{\"default\": " + step + "}", &reply))
            << step << reply;
    }

    // Opens the port and waits until its thread made its first pass and waits.
    void Open(bool attachPrinter = true) {
        g_attachPrinter = attachPrinter;
        size_t waits = virtual_clock::ObjectWaits().size();
        HANDLE handle = nullptr;
        tstring name = TextOf(setup_.uri);
        ASSERT_TRUE(OpenPort(&name[0], &handle));
        port_ = static_cast<PortContext*>(handle);
        ASSERT_TRUE(virtual_clock::WaitForObjectWaits(waits + 1, CONDITION_MS));
    }

    void Close() {
        PortContext* port = port_;
        port_ = nullptr;
        EXPECT_TRUE(ClosePort(port));
    }

    // Lets the thread's wait time out and waits until it waits again.
    void Step() {
        size_t waits = virtual_clock::ObjectWaits().size();
        virtual_clock::ReleaseObjectWaits(1);
        ASSERT_TRUE(virtual_clock::WaitForObjectWaits(waits + 1, CONDITION_MS));
    }

    void Save() { SavePort(setup_); }

    // Status values reported to the spooler so far.
    static std::vector<DWORD> Reports() {
        std::vector<DWORD> statuses;
        for (const SpoolerCall& call : fake_spooler::CallsOf(REPORT)) {
            statuses.push_back(call.status);
        }
        return statuses;
    }

    static std::vector<DWORD> RequestIds() {
        std::vector<DWORD> ids;
        for (int n = 1, count = peers::RecordCount(); n <= count; ++n) {
            ids.push_back(IppRequestId(peers::RecordPart(n, "body")));
        }
        return ids;
    }

    VirtualClockScope clock_;
    FakeSpoolerScope spooler_;
    PortSetup setup_;
    PortContext* port_ = nullptr;
};

// --- Pace ----------------------------------------------------------------------------------------

TEST_F(StatusThreadTest, PollsAtOnceThenEveryTwentySecondsAndEveryFiveWhileADocumentIsActive) {
    Save();
    Open();
    // The first query came before any waiting.
    EXPECT_EQ(1, peers::RecordCount());
    EXPECT_EQ(0u, virtual_clock::NowMs());

    Step();
    EXPECT_EQ(2, peers::RecordCount());
    EXPECT_EQ(20000u, virtual_clock::NowMs());

    PortSetFlags(port_, PORT_FLAG_DOC_ACTIVE); // StartDocPort
    Step();
    Step();
    EXPECT_EQ(4, peers::RecordCount());
    PortClearFlags(port_, PORT_FLAG_DOC_ACTIVE); // EndDocPort
    Step();
    EXPECT_EQ(5, peers::RecordCount());

    EXPECT_EQ((std::vector<DWORD>{20000, 20000, 5000, 5000, 20000}), virtual_clock::ObjectWaits());
    EXPECT_EQ(50000u, virtual_clock::NowMs());
    // Each query carries the thread's next request id.
    EXPECT_EQ((std::vector<DWORD>{1, 2, 3, 4, 5}), RequestIds());
    Close();
}

TEST_F(StatusThreadTest, WithoutPollingAndDocumentNoQueryIsMadeAndAnOldStatusIsClearedOnce) {
    Answer(JAMMED);
    Save();
    Open();
    EXPECT_EQ((std::vector<DWORD>{PAPER_JAM}), Reports());

    setup_.checkInTime = 0; // the user turns polling off
    Save();
    Step();
    Step();
    EXPECT_EQ(1, peers::RecordCount());
    EXPECT_EQ((std::vector<DWORD>{PAPER_JAM, 0}), Reports());

    // A document makes the thread poll again, every five seconds, whatever the setting says.
    PortSetFlags(port_, PORT_FLAG_DOC_ACTIVE);
    Step();
    EXPECT_EQ(2, peers::RecordCount());
    EXPECT_EQ((std::vector<DWORD>{PAPER_JAM, 0, PAPER_JAM}), Reports());
    EXPECT_EQ((std::vector<DWORD>{20000, 20000, 20000, 5000}), virtual_clock::ObjectWaits());
    EXPECT_EQ((std::vector<DWORD>{1, 2}), RequestIds());
    Close();
}

// --- What is reported ----------------------------------------------------------------------------

TEST_F(StatusThreadTest, SameAnswerTwiceIsReportedOnce) {
    Answer(JAMMED);
    Save();
    Open();
    Step();
    EXPECT_EQ(2, peers::RecordCount());
    EXPECT_EQ((std::vector<DWORD>{PAPER_JAM}), Reports());

    Answer(DOOR);
    Step();
    Step();
    Answer(IDLE);
    Step();
    Step();
    EXPECT_EQ(6, peers::RecordCount());
    EXPECT_EQ((std::vector<DWORD>{PAPER_JAM, DOOR_OPEN, 0}), Reports());
    Close();
}

#ifdef NIMBREL_9X

TEST_F(StatusThreadTest, SetPrinterIsCalledOnlyWhileAJobsPrinterHandleIsSet) {
    Answer(JAMMED);
    Save();
    Open(false);
    EXPECT_TRUE(Reports().empty());

    port_->printerHandle = JOB_PRINTER; // a job starts
    Answer(DOOR);
    Step();
    std::vector<SpoolerCall> calls = fake_spooler::CallsOf(SpoolerCall::SET_PRINTER);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(JOB_PRINTER, calls[0].handle);
    EXPECT_EQ(0u, calls[0].level);
    EXPECT_EQ(DOOR_OPEN, calls[0].status);
    EXPECT_EQ(static_cast<DWORD>(PRINTER_CONTROL_SET_STATUS), calls[0].command);

    port_->printerHandle = nullptr; // the job ended
    Answer(JAMMED);
    Step();
    EXPECT_EQ(3, peers::RecordCount());
    EXPECT_EQ(1u, fake_spooler::CallsOf(SpoolerCall::SET_PRINTER).size());
    EXPECT_TRUE(fake_spooler::CallsOf(SpoolerCall::SET_PORT).empty());
    Close();
}

#else

TEST_F(StatusThreadTest, SetPortNamesThePortAtLevelThreeWithAWarningForAnyStatus) {
    Answer(JAMMED);
    Save();
    Open(false); // no job: nimmonnt reports all the same
    Answer(IDLE);
    Step();
    std::vector<SpoolerCall> calls = fake_spooler::CallsOf(SpoolerCall::SET_PORT);
    ASSERT_EQ(2u, calls.size());
    for (const SpoolerCall& call : calls) {
        EXPECT_EQ(std::wstring(setup_.uri.begin(), setup_.uri.end()), call.portName);
        EXPECT_EQ(3u, call.level);
    }
    EXPECT_EQ(PAPER_JAM, calls[0].status);
    EXPECT_EQ(static_cast<DWORD>(PORT_STATUS_TYPE_WARNING), calls[0].severity);
    EXPECT_EQ(0u, calls[1].status);
    EXPECT_EQ(0u, calls[1].severity);
    EXPECT_TRUE(fake_spooler::CallsOf(SpoolerCall::SET_PRINTER).empty());
    Close();
}

#endif

// One poll after an idle first one; what it reports, and what it leaves in the port record.
struct OfflineCase {
    const char* name;
    const char* answer; // the fake printer's step; nullptr: the printer refuses connections
    std::vector<DWORD> reports;
    DWORD reachable;   // printerReachable after the poll
    DWORD checkInTime; // the record's checkInTime after the poll
};

TEST_F(StatusThreadTest, FailedPollsReportOfflineAndSuspendPollingUntilTheNextReload) {
    const OfflineCase cases[] = {
        // No answer: offline at once, again for the HTTP status, again as the new status.
        {"HTTP 404", R"({"status": 404})", {OFFLINE, OFFLINE, OFFLINE}, 0, 0},
        {"HTTP 503", R"({"status": 503})", {OFFLINE, OFFLINE, OFFLINE}, 0, 0},
        // Unreachable: offline at once; the empty words map to offline too.
        {"connection refused", nullptr, {OFFLINE, OFFLINE}, 0, 0},
        // Answered, but the IPP status fails its check: offline once, then the mapped state.
        {"IPP not-found, printer idle",
         R"({"ipp": {"status": 1030, "printer_state": 3, "printer_state_reasons": ["none"]}})",
         {OFFLINE},
         1,
         0},
        {"IPP not-found, paper jam",
         R"({"ipp": {"status": 1030, "printer_state": 3,
                     "printer_state_reasons": ["media-jam-error"]}})",
         {OFFLINE, PAPER_JAM},
         1,
         0},
        // IPP statuses whose error is not among the failing ones pass.
        {"IPP forbidden",
         R"({"ipp": {"status": 1025, "printer_state": 3, "printer_state_reasons": ["none"]}})",
         {},
         1,
         1},
        // A stopped printer is offline as a state, not as a failed poll.
        {"printer stopped", R"({"ipp": {"printer_state": 5}})", {OFFLINE}, 1, 1},
    };
    for (const OfflineCase& c : cases) {
        SCOPED_TRACE(c.name);
        setup_.printerUri.clear();
        Answer(IDLE);
        Save();
        Open();
        fake_spooler::Clear();
        if (c.answer != nullptr) {
            Answer(c.answer);
        } else {
            setup_.printerUri =
                "http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/ipp/print";
            Save(); // read at the next pass
        }
        size_t sleeps = virtual_clock::Sleeps().size();
        Step();
        EXPECT_EQ(c.reports, Reports());
        EXPECT_EQ(c.reachable, LoadShared(&port_->printerReachable));
        EXPECT_EQ(c.checkInTime, LoadShared(&port_->checkInTime));
        // A refused connection was retried 18 times, 10 s apart, within the one poll.
        EXPECT_EQ(c.answer == nullptr ? 18u : 0u, virtual_clock::Sleeps().size() - sleeps);
        Close();
    }
}

TEST_F(StatusThreadTest, PollingResumesAfterAFailureWhenTheSettingIsReadAgain) {
    Save();
    Open();
    Answer(R"({"status": 404})");
    Step();
    EXPECT_EQ(0u, LoadShared(&port_->checkInTime));

    // The setting in the registry was never changed: the next pass polls again.
    Answer(IDLE);
    Step();
    EXPECT_EQ(3, peers::RecordCount());
    EXPECT_EQ(1u, LoadShared(&port_->checkInTime));
    EXPECT_EQ(1u, LoadShared(&port_->printerReachable));
    EXPECT_EQ((std::vector<DWORD>{OFFLINE, OFFLINE, OFFLINE, 0}), Reports());
    Close();
}

#ifdef NIMBREL_9X

TEST_F(StatusThreadTest, ThreadEndsItselfWhenThePortsKeyIsRemoved) {
    Save();
    Open();
    ASSERT_TRUE(DeletePortSettings(TextOf(setup_.uri).c_str()));
    virtual_clock::ReleaseObjectWaits(1);

    // It clears the status and releases the event: the record stays for ClosePort.
    ULONGLONG deadline = GetTickCount64() + CONDITION_MS;
    while (LoadSharedHandle(&port_->wakeEvent) != nullptr && GetTickCount64() < deadline) {
        Sleep(5);
    }
    ASSERT_EQ(nullptr, LoadSharedHandle(&port_->wakeEvent));
    EXPECT_EQ((std::vector<DWORD>{0}), Reports());
    EXPECT_EQ((std::vector<bool>{true}), g_eventHeld); // reported before the release
    EXPECT_EQ(1, peers::RecordCount());
    EXPECT_EQ(1u, virtual_clock::ObjectWaits().size());
    Close();
}

#else

TEST_F(StatusThreadTest, ThreadKeepsPollingWithTheLastSettingsWhenThePortsKeyIsRemoved) {
    Save();
    Open();
    ASSERT_TRUE(DeletePortSettings(TextOf(setup_.uri).c_str()));
    Step();
    Step();
    EXPECT_EQ(3, peers::RecordCount());

    // Until a failed poll clears the setting, which no reload restores any more; the status it
    // left is then cleared once.
    Answer(R"({"status": 404})");
    Step();
    Step();
    Step();
    EXPECT_EQ(4, peers::RecordCount());
    EXPECT_EQ((std::vector<DWORD>{OFFLINE, OFFLINE, OFFLINE, 0}), Reports());
    Close();
}

#endif

TEST_F(StatusThreadTest, PollsThroughTheConfiguredProxy) {
    if (peers::ProxyPort() == 0) {
        GTEST_SKIP() << "no proxy: run under tests/tools/with-peers --proxy";
    }
    setup_.useProxy = 1;
    setup_.proxyServer = "127.0.0.1";
    setup_.proxyPort = static_cast<DWORD>(peers::ProxyPort());
    Answer(JAMMED);
    Save();
    Open();
    EXPECT_EQ((std::vector<DWORD>{PAPER_JAM}), Reports());
    EXPECT_NE(std::string::npos, peers::RecordPart(1, "head").find("tinyproxy"));
    EXPECT_EQ(1u, LoadShared(&port_->printerReachable));
    Close();
}

// --- Hand-over with ClosePort --------------------------------------------------------------------

TEST_F(StatusThreadTest, ClosePortDuringTheWaitEndsTheThreadAtOnce) {
    Save();
    Open();
    fake_spooler::Clear();
    g_eventHeld.clear();
    Close(); // no wait was let time out: only the signal can have ended it

    EXPECT_EQ(1, peers::RecordCount());
    EXPECT_EQ(1u, virtual_clock::ObjectWaits().size());
    EXPECT_EQ((std::vector<DWORD>{0, 0}), Reports());
#ifndef NIMBREL_9X
    // ClosePort's own clearing, then the thread's last act before it lets go of the event.
    EXPECT_EQ((std::vector<bool>{true, true}), g_eventHeld);
#else
    // ClosePort clears the status on the job's printer and closes it; the thread, left without
    // a printer handle, has nothing more to report on.
#endif
}

TEST_F(StatusThreadTest, ClosePortWaitsForAQueryUnderWay) {
    // The first answer comes late; ClosePort is called while the thread waits for it.
    ASSERT_TRUE(peers::SetScript(std::string("{\"steps\": [") +
                                 R"({"delay_ms": 3000, "ipp": {"printer_state": 3,
                                     "printer_state_reasons": ["media-jam-error"]}}],
                                     "default": )" +
                                 IDLE + "}"));
    Save();
    g_attachPrinter = true;
    HANDLE handle = nullptr;
    tstring name = TextOf(setup_.uri);
    ASSERT_TRUE(OpenPort(&name[0], &handle));
    ASSERT_NE(std::string::npos, peers::Records(1, CONDITION_MS).find("request_line"));
    EXPECT_TRUE(virtual_clock::ObjectWaits().empty());
    EXPECT_TRUE(ClosePort(handle));

    // The query ran to its end, its answer was read whole, and the thread then went to its
    // wait, which the pending signal ended at once.
    EXPECT_EQ(1u, virtual_clock::ObjectWaits().size());
    std::string records = peers::Records();
    ULONGLONG deadline = GetTickCount64() + CONDITION_MS;
    while (records.find("\"reply_done\": true") == std::string::npos &&
           GetTickCount64() < deadline) {
        Sleep(20);
        records = peers::Records();
    }
    EXPECT_NE(std::string::npos, records.find("\"outcome\": \"closed\"")) << records;
#ifndef NIMBREL_9X
    // ClosePort's clearing, the answer's paper jam, the thread's clearing at its end.
    EXPECT_EQ((std::vector<DWORD>{0, PAPER_JAM, 0}), Reports());
#endif
}

#ifndef NIMBREL_9X

TEST_F(StatusThreadTest, PortWithoutRegistryEntryOpensAndClosesAfterItsThreadEnded) {
    Open(false); // nothing saved
    // nimmonnt goes on with empty settings: no polling, status 0, nothing to report.
    EXPECT_EQ(0, peers::RecordCount());
    EXPECT_TRUE(Reports().empty());
    Close();
    EXPECT_EQ(0, peers::RecordCount());
    std::vector<SpoolerCall> calls = fake_spooler::CallsOf(SpoolerCall::SET_PORT);
    ASSERT_EQ(2u, calls.size()); // ClosePort's clearing and the thread's
    for (const SpoolerCall& call : calls) {
        EXPECT_EQ(std::wstring(setup_.uri.begin(), setup_.uri.end()), call.portName);
        EXPECT_EQ(0u, call.status);
    }
}

#else

// nimmon9x's thread ends at its first pass: the settings cannot be read.
TEST_F(StatusThreadTest, PortWithoutRegistryEntryEndsItsThreadAtOnceIn9x) {
    g_attachPrinter = false;
    HANDLE handle = nullptr;
    tstring name = TextOf(setup_.uri);
    ASSERT_TRUE(OpenPort(&name[0], &handle));
    auto* port = static_cast<PortContext*>(handle);
    ULONGLONG deadline = GetTickCount64() + CONDITION_MS;
    while (LoadSharedHandle(&port->wakeEvent) != nullptr && GetTickCount64() < deadline) {
        Sleep(5);
    }
    EXPECT_EQ(nullptr, LoadSharedHandle(&port->wakeEvent));
    EXPECT_TRUE(virtual_clock::ObjectWaits().empty());
    EXPECT_TRUE(ClosePort(handle));
    EXPECT_EQ(0, peers::RecordCount());
}
#endif

DWORD WINAPI CloseOnOtherThread(LPVOID handle) {
    return ClosePort(handle) ? 1 : 0;
}

TEST_F(StatusThreadTest, PortWhoseThreadCannotStartStillOpensAndCloses) {
    Save();
    StatusThreadCreatorInstall(FailingCreateThread);
    HANDLE handle = nullptr;
    tstring name = TextOf(setup_.uri);
    ASSERT_TRUE(OpenPort(&name[0], &handle));
    EXPECT_EQ(nullptr, LoadSharedHandle(&static_cast<PortContext*>(handle)->wakeEvent));

    // ClosePort must not wait for a thread that never ran; on a thread of its own, so a hang
    // shows as a failure here.
    HANDLE closer = CreateThread(nullptr, 0, CloseOnOtherThread, handle, 0, nullptr);
    ASSERT_NE(nullptr, closer);
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(closer, CONDITION_MS));
    DWORD closed = 0;
    GetExitCodeThread(closer, &closed);
    CloseHandle(closer);
    EXPECT_EQ(1u, closed);
    EXPECT_EQ(0, peers::RecordCount());
    EXPECT_TRUE(virtual_clock::ObjectWaits().empty());
}

} // namespace
