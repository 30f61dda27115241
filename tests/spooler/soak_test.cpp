// A long run through Wine's spooler: nimmonnt.dll installed as an administrator installs it, one
// printer on a port to the fake printer, and many jobs one after another, each a document of its
// own (its number is in it) that must arrive byte for byte. Most jobs stream to a printer that
// answers with HTTP/1.1; the last ones go from the spool file to a printer answering HTTP/1.0.
//
// The program cannot see its own descriptors and memory (under Wine GetProcessHandleCount answers
// 0, and the descriptors of handles are the wineserver's). tests/tools/watch-resources measures
// them from outside, in /proc: at the sample points named below this program asks it to (a file
// "sample-NAME.ask" in NIMBREL_SOAK_DIR) and waits until it has ("sample-NAME.done"). Without
// NIMBREL_SOAK_DIR it only prints.
//
// Arguments: nimmonnt.dll, the number of jobs (default 1000), how many of them go from the spool
// file (default 100). Peers: tests/tools/with-peers --fake.
#include "tests/support/peer_client.h"
#include "tests/support/port_registry.h"
#include "tests/support/spooler_install.h"

#include <winspool.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

namespace {

const char* g_ntDll = nullptr;
int g_jobs = 1000;
int g_spoolFileJobs = 100;

const wchar_t STREAM_PRINTER[] = L"Nimbrel Soak Streaming";
const wchar_t SPOOL_PRINTER[] = L"Nimbrel Soak Spool File";

// When the watcher is asked to measure: the start (monitor loaded, one job done), after this
// many jobs, and at the end.
const int WARM_JOBS = 100;
// How long a sample may take before the run goes on without it (the watcher then fails the run).
const DWORD SAMPLE_WAIT_MS = 20000;

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string StreamUri() {
    return peers::FakePrinterUri("http", "/ipp/soak-stream");
}
std::string SpoolUri() {
    return peers::FakePrinterUri("http", "/ipp/soak-spool");
}

// Document n: a PostScript header naming n, then bytes that differ from job to job; sizes vary
// from 1 KiB to about 65 KiB.
std::string Document(int n) {
    char head[64];
    snprintf(head, sizeof head, "%%!PS-Adobe-3.0\n%% nimbrel soak job %d\n", n);
    std::string data = head;
    size_t bytes = 1024 + static_cast<size_t>(n % 64) * 1021;
    unsigned x = static_cast<unsigned>(n) * 2654435761u + 7;
    for (size_t i = 0; i < bytes; ++i) {
        x = x * 1103515245u + 12345u;
        data += static_cast<char>(x >> 16);
    }
    return data;
}

// Asks the watcher to measure now and waits until it has.
void Sample(const char* name) {
    printf("[ soak ] sample %s\n", name);
    fflush(stdout);
    const char* dir = getenv("NIMBREL_SOAK_DIR");
    if (dir == nullptr || dir[0] == 0) {
        return;
    }
    std::wstring base = WindowsPathOf(dir) + L"\\sample-" + Wide(name);
    HANDLE ask = CreateFileW((base + L".ask").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, ask) << "error " << GetLastError();
    CloseHandle(ask);
    ULONGLONG deadline = GetTickCount64() + SAMPLE_WAIT_MS;
    while (GetFileAttributesW((base + L".done").c_str()) == INVALID_FILE_ATTRIBUTES) {
        ASSERT_LT(GetTickCount64(), deadline) << "the watcher did not take sample " << name;
        Sleep(50);
    }
}

bool AddPrinterOn(const wchar_t* printerName, const std::string& portName) {
    std::wstring port = Wide(portName);
    PRINTER_INFO_2W info{};
    info.pPrinterName = const_cast<LPWSTR>(printerName);
    info.pPortName = const_cast<LPWSTR>(port.c_str());
    info.pPrintProcessor = const_cast<LPWSTR>(L"winprint");
    info.pDatatype = const_cast<LPWSTR>(L"RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (printer == nullptr) {
        return false;
    }
    ClosePrinter(printer);
    return true;
}

// Ports polled by their status threads (every port opened for a job makes a query at once).
bool StorePort(const std::string& uri) {
    port_registry::StoredPort port;
    port.portName = Wide(uri);
    port.printerUri = Wide(uri);
    port.checkInTime = 1;
    return port_registry::Write(port.portName, port);
}

// One job through the spooler; empty when the spooler took it and reported it done.
std::string Print(const wchar_t* printerName, const std::string& data, int n) {
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(printerName), &printer, nullptr)) {
        return "OpenPrinter failed, error " + std::to_string(GetLastError());
    }
    std::wstring name = L"soak-" + std::to_wstring(n) + L".ps";
    DOC_INFO_1W doc{};
    doc.pDocName = &name[0];
    doc.pDatatype = const_cast<LPWSTR>(L"RAW");
    std::string failure;
    if (StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&doc)) == 0) {
        failure = "StartDocPrinter failed, error " + std::to_string(GetLastError());
    } else {
        DWORD done = 0;
        if (!WritePrinter(printer, const_cast<char*>(data.data()), static_cast<DWORD>(data.size()),
                          &done) ||
            done != data.size()) {
            failure = "WritePrinter failed, error " + std::to_string(GetLastError());
        }
        // Wine's spooler hands the job to the monitor here, in this thread.
        if (!EndDocPrinter(printer) && failure.empty()) {
            failure = "the job failed, error " + std::to_string(GetLastError());
        }
    }
    ClosePrinter(printer);
    return failure;
}

// The document of the fake printer's only Print-Job record since its records were last cleared.
std::string ReceivedDocument(std::string* problem) {
    std::string doc;
    int found = 0;
    for (int n = 1, count = peers::RecordCount(); n <= count; ++n) {
        std::string body = peers::RecordPart(n, "body");
        if (body.size() >= 4 && body[2] == 0 && body[3] == 2) {
            ++found;
            doc = peers::RecordPart(n, "doc");
        }
    }
    if (found != 1) {
        *problem = std::to_string(found) + " Print-Job requests";
    }
    return doc;
}

} // namespace

TEST(SpoolerSoak, ThousandsOfJobsArriveIntactOneAfterAnother) {
    ASSERT_NE(nullptr, g_ntDll) << "pass the path of nimmonnt.dll";
    ASSERT_NE(0, peers::FakePrinterPort()) << "run under with-peers --fake";
    std::wstring dll = CopyIntoSystemDirectory(g_ntDll);
    ASSERT_FALSE(dll.empty()) << "copy failed, error " << GetLastError();
    ASSERT_TRUE(RegisterMonitor(dll)) << "AddMonitorW failed, error " << GetLastError();
    ASSERT_TRUE(StorePort(StreamUri()));
    ASSERT_TRUE(StorePort(SpoolUri()));
    ASSERT_TRUE(AddPrinterOn(STREAM_PRINTER, StreamUri())) << GetLastError();
    ASSERT_TRUE(AddPrinterOn(SPOOL_PRINTER, SpoolUri())) << GetLastError();

    const std::string streaming = "{}";
    const std::string http10 = R"({"common": {"http_version": "HTTP/1.0"}})";
    const int firstSpoolFileJob = g_jobs - g_spoolFileJobs + 1;
    int failed = 0;
    ULONGLONG start = GetTickCount64();
    for (int n = 1; n <= g_jobs; ++n) {
        bool spoolFile = n >= firstSpoolFileJob;
        // A fresh script also clears the records: each job's request is the only Print-Job.
        ASSERT_TRUE(peers::SetScript(spoolFile ? http10 : streaming));
        std::string data = Document(n);
        std::string failure = Print(spoolFile ? SPOOL_PRINTER : STREAM_PRINTER, data, n);
        std::string problem;
        std::string doc = failure.empty() ? ReceivedDocument(&problem) : std::string();
        if (failure.empty() && problem.empty() && doc != data) {
            problem = "the document differs (" + std::to_string(doc.size()) + " bytes received, " +
                      std::to_string(data.size()) + " printed)";
        }
        if (!failure.empty() || !problem.empty()) {
            ADD_FAILURE() << "job " << n << ": " << failure << problem;
            if (++failed >= 10) {
                FAIL() << "stopped after 10 failed jobs";
            }
        }
        if (n == 1) {
            Sample("start");
        } else if (n == WARM_JOBS) {
            Sample("warm");
        }
    }
    Sample("end");
    printf("[ soak ] %d jobs (%d from the spool file) in %llu s, %d failed\n", g_jobs,
           g_spoolFileJobs, (GetTickCount64() - start + 500) / 1000, failed);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    g_ntDll = argc > 1 ? argv[1] : nullptr;
    if (argc > 2) {
        g_jobs = atoi(argv[2]);
    }
    if (argc > 3) {
        g_spoolFileJobs = atoi(argv[3]);
    }
    return RUN_ALL_TESTS();
}
