// Printing for real: documents go from a Windows program through Wine's spooler and nimmonnt.dll
// (installed as an administrator would install it) to a real IPP printer (ippeveprinter, which
// keeps every document it accepts), directly, through a real HTTP proxy (tinyproxy), and to the
// scripted fake printer answering with HTTP/1.0. nimmon9x.dll prints to the same printers through
// our Windows 95/98 host.
//
// Arguments: the paths of nimmonnt.dll and nimmon9x.dll. Peers: tests/tools/with-peers --ippeve
// --fake --proxy.
#include "hosts/win9x/monitor9x_host.h"
#include "tests/support/peer_client.h"
#include "tests/support/port_registry.h"
#include "tests/support/spooler_install.h"

#include <winspool.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

const char* g_ntDll = nullptr;
const char* g_9xDll = nullptr;

const wchar_t DIRECT_PRINTER[] = L"Nimbrel Direct";
const wchar_t PROXIED_PRINTER[] = L"Nimbrel Through Proxy";
const wchar_t HTTP10_PRINTER[] = L"Nimbrel HTTP 1.0";

// How much WritePrinter is handed at a time; the spooler passes the monitor 4096-byte pieces.
const size_t WRITE_PIECE_BYTES = 65536;

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// Port names: the real printer directly, the same printer through the proxy (its own name, as a
// port is one registry key per name), and the fake printer.
std::string DirectUri() {
    return peers::IppPrinterUri();
}
std::string ProxiedUri() {
    return "http://127.0.0.1:" + std::to_string(peers::IppPrinterPort()) + "/ipp/print";
}
std::string Http10Uri() {
    return peers::FakePrinterUri();
}

// Random bytes, the same for the same seed.
std::string RandomBytes(size_t bytes, unsigned seed) {
    std::string data(bytes, '\0');
    unsigned long long x = 0x9E3779B97F4A7C15ull * (seed + 1);
    for (size_t i = 0; i < bytes; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        data[i] = static_cast<char>(x >> 24);
    }
    return data;
}

std::string SmallPostScript() {
    return "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 612 792\n%%Pages: 1\n%%EndComments\n"
           "/Helvetica findfont 24 scalefont setfont\n72 720 moveto (Nimbrel prints) show\n"
           "showpage\n%%EOF\n";
}

// A one-page PDF with a correct cross-reference table.
std::string MinimalPdf() {
    const std::string content = "BT /F1 24 Tf 72 720 Td (Nimbrel prints) Tj ET\n";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[32];
        snprintf(line, sizeof line, "%010u 00000 n \n", static_cast<unsigned>(offset));
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

// --- The real printer's kept documents --------------------------------------------------------

std::set<std::wstring> KeptFiles() {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((peers::IppSpoolDir() + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            names.insert(found.cFileName);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// The documents the printer kept since `before`.
std::vector<std::wstring> NewFiles(const std::set<std::wstring>& before) {
    std::vector<std::wstring> added;
    for (const std::wstring& name : KeptFiles()) {
        if (before.count(name) == 0) {
            added.push_back(name);
        }
    }
    return added;
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// The fake printer's last Print-Job record (0 when there is none); the port's status thread
// may have asked for the printer's state around it.
int LastPrintJobRecord() {
    for (int n = peers::RecordCount(); n >= 1; --n) {
        std::string body = peers::RecordPart(n, "body");
        if (body.size() >= 4 && body[2] == 0 && body[3] == 2) {
            return n;
        }
    }
    return 0;
}

// --- Printing through the spooler ---------------------------------------------------------------

struct PrintOutcome {
    DWORD jobId = 0;
    bool written = false;
    BOOL ended = FALSE;
    DWORD seconds = 0;
};

PrintOutcome PrintThroughSpooler(const wchar_t* printerName, const std::string& data,
                                 const wchar_t* documentName) {
    PrintOutcome outcome;
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(printerName), &printer, nullptr)) {
        ADD_FAILURE() << "OpenPrinter failed, error " << GetLastError();
        return outcome;
    }
    DOC_INFO_1W doc{};
    doc.pDocName = const_cast<LPWSTR>(documentName);
    doc.pDatatype = const_cast<LPWSTR>(L"RAW");
    ULONGLONG start = GetTickCount64();
    outcome.jobId = StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&doc));
    if (outcome.jobId == 0) {
        ADD_FAILURE() << "StartDocPrinter failed, error " << GetLastError();
        ClosePrinter(printer);
        return outcome;
    }
    outcome.written = true;
    for (size_t at = 0; at < data.size(); at += WRITE_PIECE_BYTES) {
        DWORD piece = static_cast<DWORD>(std::min(WRITE_PIECE_BYTES, data.size() - at));
        DWORD done = 0;
        if (!WritePrinter(printer, const_cast<char*>(data.data() + at), piece, &done) ||
            done != piece) {
            outcome.written = false;
            break;
        }
    }
    // Wine's spooler hands the job to the monitor here, in this thread.
    outcome.ended = EndDocPrinter(printer);
    outcome.seconds = static_cast<DWORD>((GetTickCount64() - start + 500) / 1000);
    ClosePrinter(printer);
    return outcome;
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

void StorePort(const std::string& uri, bool throughProxy) {
    port_registry::StoredPort port;
    port.portName = Wide(uri);
    port.printerUri = Wide(uri);
    if (throughProxy) {
        port.useProxy = 1;
        port.proxyServer = L"127.0.0.1";
        port.proxyPort = static_cast<DWORD>(peers::ProxyPort());
    }
    ASSERT_TRUE(port_registry::Write(port.portName, port)) << uri;
}

// Ports of EnumPortsW at a level: name -> (monitor name, description), or just the names.
struct ListedPort {
    std::wstring name;
    std::wstring monitor;
    std::wstring description;
    DWORD type = 0;
};

std::vector<ListedPort> SpoolerPorts(DWORD level) {
    DWORD needed = 0, count = 0;
    EnumPortsW(nullptr, level, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed ? needed : 1);
    std::vector<ListedPort> ports;
    if (!EnumPortsW(nullptr, level, buffer.data(), needed, &needed, &count)) {
        ADD_FAILURE() << "EnumPortsW level " << level << " failed, error " << GetLastError();
        return ports;
    }
    for (DWORD i = 0; i < count; ++i) {
        ListedPort port;
        if (level == 1) {
            port.name = reinterpret_cast<PORT_INFO_1W*>(buffer.data())[i].pName;
        } else {
            const PORT_INFO_2W& info = reinterpret_cast<PORT_INFO_2W*>(buffer.data())[i];
            port.name = info.pPortName;
            port.monitor = info.pMonitorName ? info.pMonitorName : L"";
            port.description = info.pDescription ? info.pDescription : L"";
            port.type = info.fPortType;
        }
        ports.push_back(port);
    }
    return ports;
}

const ListedPort* Find(const std::vector<ListedPort>& ports, const std::string& name) {
    for (const ListedPort& port : ports) {
        if (port.name == Wide(name)) {
            return &port;
        }
    }
    return nullptr;
}

// --- The set-up shared by all tests: monitor, ports and printers --------------------------------

class SpoolerPrinting : public testing::Test {
  protected:
    // Once for the program: the suites of both monitors share the spooler's set-up.
    static void SetUpTestSuite() {
        if (ready_) {
            return;
        }
        ASSERT_NE(nullptr, g_ntDll) << "pass the paths of nimmonnt.dll and nimmon9x.dll";
        ASSERT_NE(0, peers::IppPrinterPort()) << "run under with-peers --ippeve --fake --proxy";
        ASSERT_NE(0, peers::FakePrinterPort());
        ASSERT_NE(0, peers::ProxyPort());
        std::wstring dll = CopyIntoSystemDirectory(g_ntDll);
        ASSERT_FALSE(dll.empty()) << "copy failed, error " << GetLastError();
        ASSERT_TRUE(RegisterMonitor(dll)) << "AddMonitorW failed, error " << GetLastError();
        StorePort(DirectUri(), false);
        StorePort(ProxiedUri(), true);
        StorePort(Http10Uri(), false);
        ASSERT_TRUE(AddPrinterOn(DIRECT_PRINTER, DirectUri())) << GetLastError();
        ASSERT_TRUE(AddPrinterOn(PROXIED_PRINTER, ProxiedUri())) << GetLastError();
        ASSERT_TRUE(AddPrinterOn(HTTP10_PRINTER, Http10Uri())) << GetLastError();
        ready_ = true;
    }

    void SetUp() override { ASSERT_TRUE(ready_) << "the set-up failed"; }

    // Prints to the real printer and checks that it kept exactly the document.
    static void PrintAndCompare(const wchar_t* printer, const std::string& data,
                                const wchar_t* name, const char* extension) {
        std::set<std::wstring> before = KeptFiles();
        PrintOutcome outcome = PrintThroughSpooler(printer, data, name);
        EXPECT_TRUE(outcome.written);
        EXPECT_TRUE(outcome.ended) << "the job failed";
        std::vector<std::wstring> added = NewFiles(before);
        ASSERT_EQ(1u, added.size());
        EXPECT_NE(std::wstring::npos, added[0].find(Wide(extension))) << Narrow(added[0]);
        std::string kept = peers::ReadWholeFile(peers::IppSpoolDir() + L"\\" + added[0]);
        EXPECT_EQ(data.size(), kept.size());
        EXPECT_TRUE(data == kept) << "the kept document differs from the one printed";
        printf("[ info ] %zu bytes printed and kept as %s in %lu s\n", data.size(),
               Narrow(added[0]).c_str(), outcome.seconds);
    }

    static bool ready_;
};

bool SpoolerPrinting::ready_ = false;

// --- The Windows 95/98 monitor through our host -------------------------------------------------

// One document through nimmon9x's table: OpenPort, StartDocPort, WritePort in 4096-byte pieces,
// EndDocPort, ClosePort. Returns EndDocPort's result.
BOOL PrintThrough9xMonitor(const MonitorTable9x& table, const std::string& portName,
                           const char* printerName, DWORD jobId, const std::string& data) {
    std::string port = portName;
    HANDLE handle = nullptr;
    if (!table.pfnOpenPort(&port[0], &handle)) {
        ADD_FAILURE() << "OpenPort failed, error " << GetLastError();
        return FALSE;
    }
    char documentName[] = "nimbrel-9x.ps";
    DOC_INFO_1A doc{};
    doc.pDocName = documentName;
    std::string printer = printerName ? printerName : "";
    BOOL ended = FALSE;
    if (!table.pfnStartDocPort(handle, printerName ? &printer[0] : nullptr, jobId, 1,
                               reinterpret_cast<LPBYTE>(&doc))) {
        ADD_FAILURE() << "StartDocPort failed, error " << GetLastError();
    } else {
        for (size_t at = 0; at < data.size(); at += 4096) {
            DWORD piece = static_cast<DWORD>(std::min<size_t>(4096, data.size() - at));
            DWORD written = 0;
            if (!table.pfnWritePort(handle,
                                    reinterpret_cast<LPBYTE>(const_cast<char*>(data.data() + at)),
                                    piece, &written) ||
                written != piece) {
                ADD_FAILURE() << "WritePort failed at " << at << ", error " << GetLastError();
                break;
            }
        }
        ended = table.pfnEndDocPort(handle);
        if (!ended) {
            ADD_FAILURE() << "EndDocPort failed, error " << GetLastError();
        }
    }
    EXPECT_TRUE(table.pfnClosePort(handle));
    return ended;
}

class Host9xPrinting : public SpoolerPrinting {
  protected:
    void SetUp() override {
        SpoolerPrinting::SetUp();
        ASSERT_NE(nullptr, g_9xDll);
        ASSERT_TRUE(LoadMonitor9x(WindowsPathOf(g_9xDll).c_str(), &host_))
            << "error " << GetLastError();
        ASSERT_TRUE(host_.socketsStarted);
    }
    void TearDown() override { UnloadMonitor9x(&host_); }

    Monitor9xHost host_;
};

} // namespace

TEST_F(SpoolerPrinting, TheSpoolerListsTheMonitorsPorts) {
    std::vector<ListedPort> names = SpoolerPorts(1);
    std::vector<ListedPort> ports = SpoolerPorts(2);
    for (const std::string& uri : {DirectUri(), ProxiedUri(), Http10Uri()}) {
        EXPECT_NE(nullptr, Find(names, uri)) << uri;
        const ListedPort* port = Find(ports, uri);
        ASSERT_NE(nullptr, port) << uri;
        EXPECT_EQ(L"Nimbrel", port->monitor);
        EXPECT_EQ(L"ORVIK IPP Port", port->description);
        EXPECT_EQ(9u, port->type);
    }
}

// Data the printer does not recognise as a document it prints is refused (0x040B): the job
// fails, and the printer keeps nothing.
TEST_F(SpoolerPrinting, ADocumentThePrinterRefusesFailsTheJob) {
    std::string data = RandomBytes(65536, 1);
    data[0] = '\x1b'; // no PostScript or PDF header
    std::set<std::wstring> before = KeptFiles();
    PrintOutcome outcome = PrintThroughSpooler(DIRECT_PRINTER, data, L"refused.bin");
    EXPECT_TRUE(outcome.written);
    EXPECT_FALSE(outcome.ended);
    EXPECT_TRUE(NewFiles(before).empty());
}

// A printer that answers with HTTP/1.0 gets the job from the spool file, with a Content-Length.
TEST_F(SpoolerPrinting, AnHttp10PrinterGetsTheDocumentFromTheSpoolFile) {
    ASSERT_TRUE(peers::SetScript(R"({"common": {"http_version": "HTTP/1.0"}})"));
    std::string data = "%!PS-Adobe-3.0\n" + RandomBytes(300000, 2);
    PrintOutcome outcome = PrintThroughSpooler(HTTP10_PRINTER, data, L"http10.ps");
    EXPECT_TRUE(outcome.ended);
    int job = LastPrintJobRecord();
    ASSERT_NE(0, job);
    std::string head = peers::RecordPart(job, "head");
    EXPECT_EQ(0u, head.find("POST /ipp/print HTTP/1.0\r\n")) << head;
    EXPECT_NE(std::string::npos, head.find("\r\nContent-Length: ")) << head;
    EXPECT_EQ(std::string::npos, head.find("Transfer-Encoding")) << head;
    std::string doc = peers::RecordPart(job, "doc");
    EXPECT_EQ(data.size(), doc.size());
    EXPECT_TRUE(data == doc);
}

// An empty document: streamed, the Print-Job goes out without document data, which the real
// printer refuses (the monitor reports 0xC000), so the job fails and nothing is kept; from a spool
// file nothing is sent at all and the job ends as done.
TEST_F(SpoolerPrinting, AnEmptyDocument) {
    std::set<std::wstring> before = KeptFiles();
    PrintOutcome streamed = PrintThroughSpooler(DIRECT_PRINTER, std::string(), L"empty.ps");
    EXPECT_TRUE(streamed.written);
    EXPECT_FALSE(streamed.ended);
    EXPECT_TRUE(NewFiles(before).empty());

    ASSERT_TRUE(peers::SetScript(R"({"common": {"http_version": "HTTP/1.0"}})"));
    PrintOutcome spooled = PrintThroughSpooler(HTTP10_PRINTER, std::string(), L"empty.ps");
    EXPECT_TRUE(spooled.ended);
    EXPECT_EQ(0, LastPrintJobRecord());
}

TEST_F(SpoolerPrinting, ASmallPostScriptDocumentIsKeptByteForByte) {
    PrintAndCompare(DIRECT_PRINTER, SmallPostScript(), L"small.ps", ".ps");
}

TEST_F(SpoolerPrinting, APdfDocumentIsKeptByteForByte) {
    PrintAndCompare(DIRECT_PRINTER, MinimalPdf(), L"small.pdf", ".pdf");
}

TEST_F(SpoolerPrinting, TenMebibytesOfPostScriptAreKeptByteForByte) {
    std::string data = "%!PS-Adobe-3.0\n" + RandomBytes(10 * 1024 * 1024, 3);
    PrintAndCompare(DIRECT_PRINTER, data, L"large.ps", ".ps");
}

// Through the proxy the job goes as one HTTP/1.0 request from the spool file.
TEST_F(SpoolerPrinting, ThroughTheProxyTheDocumentIsKeptByteForByte) {
    std::string data = "%!PS-Adobe-3.0\n" + RandomBytes(200000, 4);
    PrintAndCompare(PROXIED_PRINTER, data, L"proxied.ps", ".ps");
    // The proxy saw the request for the printer, in absolute form.
    const char* state = getenv("NIMBREL_PEERS_STATE");
    ASSERT_NE(nullptr, state);
    std::string log = peers::ReadWholeFile(WindowsPathOf(
        (std::string(state) + "/tinyproxy-" + std::to_string(peers::ProxyPort()) + "/tinyproxy.log")
            .c_str()));
    EXPECT_NE(std::string::npos, log.find("POST " + ProxiedUri())) << log;
}

TEST_F(Host9xPrinting, The9xMonitorPrintsForAPrinterOfTheSpooler) {
    std::set<std::wstring> before = KeptFiles();
    std::string data = "%!PS-Adobe-3.0\n" + RandomBytes(100000, 5);
    EXPECT_TRUE(PrintThrough9xMonitor(host_.table, DirectUri(), "Nimbrel Direct", 7, data));
    std::vector<std::wstring> added = NewFiles(before);
    ASSERT_EQ(1u, added.size());
    std::string kept = peers::ReadWholeFile(peers::IppSpoolDir() + L"\\" + added[0]);
    EXPECT_EQ(data.size(), kept.size());
    EXPECT_TRUE(data == kept);
}

TEST_F(Host9xPrinting, The9xMonitorPrintsWithoutAPrinterName) {
    ASSERT_TRUE(peers::SetScript(R"({"common": {"http_version": "HTTP/1.0"}})"));
    std::string data = "%!PS-Adobe-3.0\n" + RandomBytes(150000, 6);
    EXPECT_TRUE(PrintThrough9xMonitor(host_.table, Http10Uri(), nullptr, 0, data));
    int job = LastPrintJobRecord();
    ASSERT_NE(0, job);
    EXPECT_EQ(0u, peers::RecordPart(job, "head").find("POST /ipp/print HTTP/1.0\r\n"));
    std::string doc = peers::RecordPart(job, "doc");
    EXPECT_EQ(data.size(), doc.size());
    EXPECT_TRUE(data == doc);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    g_ntDll = argc > 1 ? argv[1] : nullptr;
    g_9xDll = argc > 2 ? argv[2] : nullptr;
    return RUN_ALL_TESTS();
}
