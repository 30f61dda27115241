// nimuninst.dll called by our uninstaller host, against ports of the NT monitor installed in
// Wine's spooler and printers that the spooler itself made and keeps in the registry. The
// message boxes are real; a second thread reads and answers them.
// Arguments: the paths of nimuninst.dll and nimmonnt.dll.
#include "hosts/uninstaller/uninstaller_host.h"
#include "tests/support/dialog_watch.h"
#include "tests/support/spooler_install.h"

#include <winspool.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

const char* g_uninstDll = nullptr;
const char* g_monitorDll = nullptr;

const wchar_t MONITOR_KEY[] =
    L"System\\CurrentControlSet\\Control\\Print\\Monitors\\ORVIK IPP Port";
const wchar_t PORTS_KEY[] =
    L"System\\CurrentControlSet\\Control\\Print\\Monitors\\ORVIK IPP Port\\Ports";
const wchar_t PRINTERS_KEY[] = L"System\\CurrentControlSet\\Control\\Print\\Printers";
// Where a registry link points when it must lead nowhere.
const wchar_t MISSING_TARGET[] = L"\\Registry\\Machine\\Software\\Nimbrel\\NoSuchKey";

const wchar_t PORT_A[] = L"http://printer-a.example:631/ipp";
const wchar_t PORT_B[] = L"http://printer-b.example:631/ipp";
const wchar_t PORT_C[] = L"ipp://printer-c.example/printers/third";
// A port of Wine's own local monitor, used by printers that print elsewhere.
const wchar_t OTHER_PORT[] = L"FILE:";

const wchar_t MESSAGE_KEY[] = L"Cannot Open Registry.";
const wchar_t MESSAGE_PRINTER[] = L"Cannot Open Registry";
const wchar_t MESSAGE_IN_USE[] = L"ORVIK IPP Port is in use.Please Check Printer Port.";

struct PrinterEntry {
    const wchar_t* name;
    const wchar_t* port;       // what the spooler is given
    const wchar_t* storedPort; // nullptr: as the spooler stored it; else written over it
};

// Stores a port as the monitor does: its subkey with the six values.
void StorePort(const wchar_t* name) {
    std::wstring path = std::wstring(PORTS_KEY) + L"\\" + name;
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    auto setText = [key](const wchar_t* value, const wchar_t* text) {
        RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t)));
    };
    auto setNumber = [key](const wchar_t* value, DWORD number) {
        RegSetValueExW(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                       sizeof number);
    };
    setText(L"PortName", name);
    setText(L"PrinterURI", name);
    setNumber(L"UseProxy", 0);
    setText(L"ProxyServer", L"");
    setNumber(L"ProxyPort", 0);
    setNumber(L"CheckInTime", 0);
    RegCloseKey(key);
}

std::wstring PrinterKeyPath(const wchar_t* printer) {
    return std::wstring(PRINTERS_KEY) + L"\\" + printer;
}

// A key at PATH that is a registry link to a missing key: it is listed, but cannot be opened.
void MakeDeadLink(const std::wstring& path) {
    HKEY link = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                              KEY_ALL_ACCESS, nullptr, &link, nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                             reinterpret_cast<const BYTE*>(MISSING_TARGET),
                             static_cast<DWORD>(lstrlenW(MISSING_TARGET) * sizeof(wchar_t))));
    RegCloseKey(link);
    HKEY probe = nullptr;
    ASSERT_NE(ERROR_SUCCESS, RegOpenKeyW(HKEY_LOCAL_MACHINE, path.c_str(), &probe));
}

void DeleteLink(const std::wstring& path) {
    typedef LONG(NTAPI * NtDeleteKeyFn)(HANDLE);
    auto ntDeleteKey = reinterpret_cast<NtDeleteKeyFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    HKEY link = nullptr;
    if (ntDeleteKey != nullptr &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS,
                      &link) == ERROR_SUCCESS) {
        ntDeleteKey(link);
        RegCloseKey(link);
    }
}

class UninstallCheckTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_NE(nullptr, g_monitorDll) << "arguments: nimuninst.dll nimmonnt.dll";
        monitorFile_ = new std::wstring(CopyIntoSystemDirectory(g_monitorDll));
        ASSERT_FALSE(monitorFile_->empty());
    }
    static void TearDownTestSuite() { delete monitorFile_; }

    void SetUp() override {
        ASSERT_NE(nullptr, g_uninstDll);
        if (!RegisterMonitor(*monitorFile_)) {
            ASSERT_EQ(static_cast<DWORD>(ERROR_PRINT_MONITOR_ALREADY_INSTALLED), GetLastError());
        }
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, PORTS_KEY);
    }

    void TearDown() override {
        for (const std::wstring& path : links_) {
            DeleteLink(path);
        }
        HKEY printers = nullptr;
        if (RegCreateKeyW(HKEY_LOCAL_MACHINE, PRINTERS_KEY, &printers) == ERROR_SUCCESS) {
            RegCloseKey(printers);
        }
        for (const std::wstring& name : printers_) {
            HANDLE printer = nullptr;
            PRINTER_DEFAULTSW access{nullptr, nullptr, PRINTER_ALL_ACCESS};
            if (OpenPrinterW(const_cast<LPWSTR>(name.c_str()), &printer, &access)) {
                DeletePrinter(printer);
                ClosePrinter(printer);
            }
        }
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, PORTS_KEY);
        caught_.Take();
    }

    // A printer made by the spooler on PORT; its "Port" value then written over when asked (a
    // pooled printer keeps a list of ports there).
    void AddPrinter(const PrinterEntry& entry) {
        PRINTER_INFO_2W info{};
        info.pPrinterName = const_cast<LPWSTR>(entry.name);
        info.pPortName = const_cast<LPWSTR>(entry.port);
        info.pPrintProcessor = const_cast<LPWSTR>(L"winprint");
        info.pDatatype = const_cast<LPWSTR>(L"RAW");
        info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
        HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
        ASSERT_NE(nullptr, printer) << "AddPrinterW on " << testing::PrintToString(entry.port)
                                    << ", error " << GetLastError();
        ClosePrinter(printer);
        printers_.push_back(entry.name);

        // The spooler keeps the printer where the uninstall check looks for it.
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyW(HKEY_LOCAL_MACHINE, PrinterKeyPath(entry.name).c_str(), &key));
        wchar_t stored[512] = L"";
        DWORD size = sizeof stored - sizeof(wchar_t);
        RegQueryValueExW(key, L"Port", nullptr, nullptr, reinterpret_cast<BYTE*>(stored), &size);
        EXPECT_STREQ(entry.port, stored);
        if (entry.storedPort != nullptr) {
            RegSetValueExW(key, L"Port", 0, REG_SZ, reinterpret_cast<const BYTE*>(entry.storedPort),
                           static_cast<DWORD>((lstrlenW(entry.storedPort) + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(key);
    }

    void AddDeadLink(const std::wstring& path) {
        MakeDeadLink(path);
        links_.push_back(path);
    }

    // Runs the check as the uninstaller does; returns UninstInitialize's result.
    LONG RunCheck(const char* screenshotName = nullptr) {
        if (screenshotName != nullptr) {
            caught_.ScreenshotNext(screenshotName);
        }
        UninstallerRun run{99, 99};
        EXPECT_TRUE(RunUninstallCheck(WindowsPathOf(g_uninstDll).c_str(), &run))
            << "error " << GetLastError();
        EXPECT_EQ(0, run.unInitializeResult);
        return run.initializeResult;
    }

    // The texts of the boxes shown since the last call; each box checked for its form.
    std::vector<std::wstring> MessagesShown() {
        std::vector<std::wstring> texts;
        for (const ShownMessageBox& box : caught_.Take()) {
            EXPECT_EQ(L"Nimbrel", box.caption);
            EXPECT_FALSE(box.owned);
            EXPECT_EQ(1, box.buttonCount); // MB_OK
            EXPECT_TRUE(box.hasIcon);
            // MB_ICONERROR: the system stop icon (IDI_HAND).
            EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(32513)), box.icon);
            texts.push_back(box.text);
        }
        return texts;
    }

    static std::wstring* monitorFile_;
    MessageBoxCatcher caught_;
    std::vector<std::wstring> printers_;
    std::vector<std::wstring> links_;
};

std::wstring* UninstallCheckTest::monitorFile_ = nullptr;

typedef std::vector<std::wstring> Texts;

TEST_F(UninstallCheckTest, NoPortsKeyMeansNothingInUse) {
    AddPrinter({L"Office", OTHER_PORT, nullptr});
    EXPECT_EQ(0, RunCheck());
    EXPECT_EQ(Texts{}, MessagesShown());
}

TEST_F(UninstallCheckTest, EmptyPortsKeyMeansNothingInUse) {
    HKEY ports = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, PORTS_KEY, &ports));
    RegCloseKey(ports);
    EXPECT_EQ(0, RunCheck());
    EXPECT_EQ(Texts{}, MessagesShown());
}

// Which printers use which ports: every port is compared with every printer's "Port" value as a
// whole text, with regard to case. The ports are A, B and C, listed in that order.
struct UsageCase {
    const char* what;
    std::vector<PrinterEntry> printers;
    LONG expected;
};

void PrintTo(const UsageCase& c, std::ostream* out) {
    *out << c.what;
}

class PortUsageTest : public UninstallCheckTest, public testing::WithParamInterface<UsageCase> {};

TEST_P(PortUsageTest, EveryPortAgainstEveryPrinter) {
    const UsageCase& c = GetParam();
    StorePort(PORT_A);
    StorePort(PORT_B);
    StorePort(PORT_C);
    for (const PrinterEntry& printer : c.printers) {
        AddPrinter(printer);
    }
    EXPECT_EQ(c.expected, RunCheck(c.expected != 0 ? "nimuninst-port-in-use" : nullptr));
    EXPECT_EQ(c.expected != 0 ? Texts{MESSAGE_IN_USE} : Texts{}, MessagesShown());
}

INSTANTIATE_TEST_SUITE_P(
    Printers, PortUsageTest,
    testing::Values(
        UsageCase{"printers only on other ports", {{L"Office", OTHER_PORT, nullptr}}, 0},
        UsageCase{"the first port in use", {{L"Office", PORT_A, nullptr}}, -1},
        // Found after a printer whose name is longer than any port name has been examined.
        UsageCase{"the last port in use",
                  {{L"A printer whose name is much longer than the name of any port here",
                    OTHER_PORT, nullptr},
                   {L"Office", PORT_C, nullptr}},
                  -1},
        UsageCase{"the port named with other letter case",
                  {{L"Office", PORT_B, L"HTTP://PRINTER-B.EXAMPLE:631/IPP"}},
                  0},
        UsageCase{"the port inside a list of ports",
                  {{L"Office", PORT_A, L"http://printer-a.example:631/ipp,FILE:"}},
                  0},
        UsageCase{"the port followed by a blank",
                  {{L"Office", PORT_A, L"http://printer-a.example:631/ipp "}},
                  0}));

TEST_F(UninstallCheckTest, PrinterKeyThatCannotBeOpenedStopsTheWalk) {
    StorePort(PORT_A);
    // Listed before the printer that uses the port, so the walk meets it first.
    AddDeadLink(PrinterKeyPath(L"A broken printer"));
    AddPrinter({L"Office", PORT_A, nullptr});
    EXPECT_EQ(-1, RunCheck("nimuninst-printer-key"));
    EXPECT_EQ(Texts{MESSAGE_PRINTER}, MessagesShown());
}

TEST_F(UninstallCheckTest, PrinterKeyThatCannotBeOpenedIsNotReachedWithoutPorts) {
    AddDeadLink(PrinterKeyPath(L"A broken printer"));
    EXPECT_EQ(0, RunCheck());
    EXPECT_EQ(Texts{}, MessagesShown());
}

TEST_F(UninstallCheckTest, PrintersKeyThatCannotBeOpened) {
    StorePort(PORT_A);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, PRINTERS_KEY));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, PRINTERS_KEY);
    AddDeadLink(PRINTERS_KEY);
    EXPECT_EQ(-1, RunCheck());
    EXPECT_EQ(Texts{MESSAGE_KEY}, MessagesShown());
}

TEST_F(UninstallCheckTest, MonitorKeyMissing) {
    ASSERT_TRUE(DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(MONITOR_NAME)))
        << "error " << GetLastError();
    HKEY probe = nullptr;
    ASSERT_NE(ERROR_SUCCESS, RegOpenKeyW(HKEY_LOCAL_MACHINE, MONITOR_KEY, &probe));
    EXPECT_EQ(-1, RunCheck("nimuninst-monitor-key"));
    EXPECT_EQ(Texts{MESSAGE_KEY}, MessagesShown());
}

TEST(UninstallHost, RefusesADllWithoutTheEntries) {
    UninstallerRun run{99, 99};
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(RunUninstallCheck(L"kernel32.dll", &run));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    EXPECT_EQ(99, run.initializeResult);
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    g_uninstDll = argc > 1 ? argv[1] : nullptr;
    g_monitorDll = argc > 2 ? argv[2] : nullptr;
    return RUN_ALL_TESTS();
}
