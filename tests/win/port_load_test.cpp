// Eight ports under load at once: each opened with OpenPort and polled by its status thread, each
// printing several documents from a thread of its own through StartDocPort, WritePort and
// EndDocPort to the scripted fake printer, in both modes (streaming, and the spool file for a
// printer that answers with HTTP/1.0). Between jobs each port's registry entry is removed with
// the DeletePort entry and then written again as ConfigurePort writes it, while the port stays
// open. Every document must reach the printer byte for byte, every thread must finish (a hang is a
// deadlock), and after ClosePort no connection or printer handle may be left.
//
// ClosePort while a status query is under way: tests/win/status_thread_test.cpp
// (ClosePortWaitsForAQueryUnderWay).
//
// Waits run in real time, so that the status threads poll while the jobs run.
#include "monitor/core/job_flow.h"
#include "monitor/core/port_entries.h"
#include "monitor/transport/socket_ops.h"
#include "tests/support/fake_spooler.h"
#include "tests/win/printer_port.h"

#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

namespace {

testing::Environment* const g_winsock = testing::AddGlobalTestEnvironment(new WinsockEnvironment);

const int PORTS = 8;
const int DOCUMENTS_PER_PORT = 4;
// The bound within which all jobs and all ClosePort calls must be done; passing it means a
// thread hangs, and the program ends at once (the ports cannot be closed under a hung thread).
const DWORD HANG_BOUND_MS = 180000;
const TCHAR TEMP_DIR[] = TEXT("C:\\nimbrel-load-temp");

const char IDLE[] = R"({"ipp": {"printer_state": 3, "printer_state_reasons": ["none"]}})";

enum Mode { STREAMING, SPOOL_FILE };

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

// --- Documents ----------------------------------------------------------------------------------

// A document that names its port and number in its first line, so that the printer's records
// can be matched to it whatever order the jobs arrived in.
std::string Document(int port, int number) {
    char head[96];
    snprintf(head, sizeof head, "%%!PS-Adobe-3.0\n%% nimbrel load port %d document %d\n", port,
             number);
    std::string data = head;
    size_t bytes = 20000 + static_cast<size_t>(port) * 7919 + static_cast<size_t>(number) * 30011;
    unsigned x = static_cast<unsigned>(port * 131 + number) * 2654435761u + 1;
    for (size_t i = 0; i < bytes; ++i) {
        x = x * 1103515245u + 12345u;
        data += static_cast<char>(x >> 16);
    }
    return data;
}

// The name line of a received document ("" when it has none).
std::string NameLine(const std::string& doc) {
    size_t first = doc.find('\n');
    if (first == std::string::npos) {
        return std::string();
    }
    size_t second = doc.find('\n', first + 1);
    return second == std::string::npos ? std::string() : doc.substr(0, second);
}

int OperationOf(const std::string& body) {
    if (body.size() < 4) {
        return -1;
    }
    return (static_cast<unsigned char>(body[2]) << 8) | static_cast<unsigned char>(body[3]);
}

// The printer URI a port is given while it is open.
std::string ConfiguredUri(const std::string& uri) {
    return uri + "-configured";
}

// --- One port's thread --------------------------------------------------------------------------

struct PortWork {
    int index = 0;
    PortSetup setup;
    PortContext* port = nullptr;
    // What the thread did; checked by the main thread once all threads ended.
    std::vector<std::string> printed;
    std::vector<std::string> failures;
};

// One job from StartDocPort to EndDocPort; an empty result when it went through.
std::string PrintOne(PortWork* work, DWORD jobId, const std::string& data) {
    TCHAR document[] = TEXT("load.ps");
    TCHAR printer[] = TEXT("Nimbrel Load Printer");
    DOC_INFO_1 info{};
    info.pDocName = document;
    if (!StartDocPort(work->port, printer, jobId, 1, reinterpret_cast<LPBYTE>(&info))) {
        return "StartDocPort failed, error " + std::to_string(GetLastError());
    }
    // Pieces of the size the spooler hands over, the last one shorter.
    for (size_t at = 0; at < data.size(); at += 4096) {
        DWORD piece = static_cast<DWORD>(data.size() - at < 4096 ? data.size() - at : 4096);
        DWORD written = 0;
        if (!WritePort(work->port, reinterpret_cast<LPBYTE>(const_cast<char*>(data.data() + at)),
                       piece, &written) ||
            written != piece) {
            std::string failure = "WritePort failed at " + std::to_string(at) + ", error " +
                                  std::to_string(GetLastError());
            EndDocPort(work->port);
            return failure;
        }
    }
    if (!EndDocPort(work->port)) {
        return "EndDocPort failed, error " + std::to_string(GetLastError());
    }
    return std::string();
}

DWORD WINAPI PrintDocuments(LPVOID argument) {
    auto* work = static_cast<PortWork*>(argument);
    tstring name = TextOf(work->setup.uri);
    for (int number = 0; number < DOCUMENTS_PER_PORT; ++number) {
        if (number == 1) {
            // The port's entry goes while the port is open: the next job uses the settings
            // the port last loaded.
            if (!DeletePort(nullptr, nullptr, &name[0])) {
                work->failures.push_back("DeletePort failed");
            }
        } else if (number == 2) {
            // Written again as ConfigurePort writes it, removed, then saved whole, with a
            // printer URI of its own: from the next job on the requests name it.
            PortSetup configured = work->setup;
            configured.printerUri = ConfiguredUri(work->setup.uri);
            std::unique_ptr<PortContext> record = PortRecordFor(configured);
            DeletePortSettings(record->portName);
            if (!SavePortSettings(record.get())) {
                work->failures.push_back("SavePortSettings failed");
            }
        }
        std::string data = Document(work->index, number);
        DWORD jobId = static_cast<DWORD>(1000 + work->index * 100 + number);
        std::string failure = PrintOne(work, jobId, data);
        if (!failure.empty()) {
            work->failures.push_back("document " + std::to_string(number) + ": " + failure);
        } else {
            work->printed.push_back(data);
        }
    }
    return 0;
}

DWORD WINAPI ClosePorts(LPVOID argument) {
    auto* works = static_cast<std::vector<PortWork>*>(argument);
    for (PortWork& work : *works) {
        if (!ClosePort(work.port)) {
            work.failures.push_back("ClosePort failed, error " + std::to_string(GetLastError()));
        }
        work.port = nullptr;
    }
    return 0;
}

// Waits for the threads; ends the program when they do not end within the bound.
void JoinOrEnd(const std::vector<HANDLE>& threads, const char* what) {
    ULONGLONG deadline = GetTickCount64() + HANG_BOUND_MS;
    for (HANDLE thread : threads) {
        ULONGLONG now = GetTickCount64();
        DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (WaitForSingleObject(thread, left) != WAIT_OBJECT_0) {
            printf("%s: a thread did not end within %lu ms (deadlock)\n", what,
                   static_cast<unsigned long>(HANG_BOUND_MS));
            fflush(stdout);
            ExitProcess(3);
        }
        CloseHandle(thread);
    }
}

// --- The fixture --------------------------------------------------------------------------------

class PortLoadTest : public testing::TestWithParam<Mode> {
  protected:
    void SetUp() override {
        ASSERT_NE(0, peers::FakePrinterPort()) << "run under tests/tools/with-peers --fake";
        RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
        g_realSockets = Sockets();
        g_countingSockets = *g_realSockets;
        g_countingSockets.socket = CountingSocket;
        g_countingSockets.closesocket = CountingClosesocket;
        g_openSockets = 0;
        SocketsInstall(&g_countingSockets);
        TCHAR temp[MAX_PATH] = {};
        hadTemp_ = GetEnvironmentVariable(TEXT("TEMP"), temp, MAX_PATH) > 0;
        savedTemp_ = temp;
        CreateDirectory(TEMP_DIR, nullptr);
        SetEnvironmentVariable(TEXT("TEMP"), TEMP_DIR);
    }

    void TearDown() override {
        SocketsInstall(g_realSockets);
        SetEnvironmentVariable(TEXT("TEMP"), hadTemp_ ? savedTemp_.c_str() : nullptr);
        RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
    }

    FakeSpoolerScope spooler_;
    bool hadTemp_ = false;
    tstring savedTemp_;
};

} // namespace

TEST_P(PortLoadTest, EightPortsPrintAtOnceWhileTheirEntriesAreDeletedAndWrittenAgain) {
    const Mode mode = GetParam();
    std::string common = mode == SPOOL_FILE ? R"({"http_version": "HTTP/1.0"})" : "{}";
    ASSERT_TRUE(peers::SetScript(
        "{\"common\": " + common +
        ", \"operations\": {\"get-printer-attributes\": {\"default\": " + IDLE + "}}}"));

    // Eight ports on the one printer, each a name of its own; all polled.
    std::vector<PortWork> works(PORTS);
    for (int i = 0; i < PORTS; ++i) {
        works[i].index = i;
        works[i].setup.uri =
            peers::FakePrinterUri("http", ("/ipp/load" + std::to_string(i)).c_str());
        works[i].setup.checkInTime = 1;
        SavePort(works[i].setup);
        tstring name = TextOf(works[i].setup.uri);
        HANDLE handle = nullptr;
        ASSERT_TRUE(OpenPort(&name[0], &handle)) << works[i].setup.uri;
        works[i].port = static_cast<PortContext*>(handle);
    }

    std::vector<HANDLE> threads;
    for (PortWork& work : works) {
        HANDLE thread = CreateThread(nullptr, 0, PrintDocuments, &work, 0, nullptr);
        ASSERT_NE(nullptr, thread);
        threads.push_back(thread);
    }
    JoinOrEnd(threads, "printing");

    HANDLE closer = CreateThread(nullptr, 0, ClosePorts, &works, 0, nullptr);
    ASSERT_NE(nullptr, closer);
    JoinOrEnd(std::vector<HANDLE>{closer}, "ClosePort");

    std::map<std::string, std::string> expected;
    for (const PortWork& work : works) {
        for (const std::string& failure : work.failures) {
            ADD_FAILURE() << "port " << work.index << ": " << failure;
        }
        for (const std::string& data : work.printed) {
            expected[NameLine(data)] = data;
        }
    }
    EXPECT_EQ(static_cast<size_t>(PORTS * DOCUMENTS_PER_PORT), expected.size());

    // Every Print-Job the printer got carries one of the documents, byte for byte, once.
    std::map<std::string, int> received;
    int printJobs = 0;
    int queries = 0;
    for (int n = 1, count = peers::RecordCount(); n <= count; ++n) {
        int operation = OperationOf(peers::RecordPart(n, "body"));
        if (operation == 0x000B) {
            ++queries;
            continue;
        }
        ASSERT_EQ(0x0002, operation) << "record " << n;
        ++printJobs;
        std::string doc = peers::RecordPart(n, "doc");
        std::string name = NameLine(doc);
        ++received[name];
        // Documents 0 and 1 went with the URI the port was opened with (1 after the entry was
        // deleted), 2 and on with the one written while the port was open.
        int port = -1, number = -1;
        if (sscanf(name.c_str(), "%%!PS-Adobe-3.0\n%% nimbrel load port %d document %d", &port,
                   &number) == 2 &&
            port >= 0 && port < PORTS) {
            std::string body = peers::RecordPart(n, "body");
            std::string ipp = body.substr(0, body.size() - doc.size());
            EXPECT_EQ(number >= 2,
                      ipp.find(ConfiguredUri(works[port].setup.uri).substr(7)) != std::string::npos)
                << name;
        }
        auto found = expected.find(name);
        if (found == expected.end()) {
            ADD_FAILURE() << "record " << n << " carries no document printed: " << name;
        } else {
            EXPECT_EQ(found->second.size(), doc.size()) << name;
            EXPECT_TRUE(found->second == doc) << name << " differs from the one printed";
        }
    }
    EXPECT_EQ(PORTS * DOCUMENTS_PER_PORT, printJobs);
    for (const auto& entry : received) {
        EXPECT_EQ(1, entry.second) << entry.first;
    }
    // The status threads did poll while the jobs ran.
    EXPECT_GE(queries, PORTS);

    // Nothing the jobs and the threads held is left.
    EXPECT_EQ(0, InterlockedCompareExchange(&g_openSockets, 0, 0));
    EXPECT_EQ(0, fake_spooler::OpenHandles());
    printf("[ info ] %d documents on %d ports, %d status queries\n", printJobs, PORTS, queries);
}

INSTANTIATE_TEST_SUITE_P(Modes, PortLoadTest, testing::Values(STREAMING, SPOOL_FILE),
                         [](const testing::TestParamInfo<Mode>& info) {
                             return std::string(info.param == STREAMING ? "Streaming"
                                                                        : "SpoolFile");
                         });
