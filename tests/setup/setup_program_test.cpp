// nimsetup.exe run as a user runs it, against Wine's spooler with nimmon9x.dll behind our 9x
// front (hosts/win9x/nim9xfront). Its windows, and the monitor's port dialog that the spooler
// shows inside it, are driven from this process. The Add Printer wizard is not started for
// real: a stand-in rundll32.exe in the Windows directory records the command it was given.
#include "tests/setup/setup_test_args.h"
#include "tests/support/dialog_watch.h"
#include "tests/support/screenshot.h"
#include "tests/support/spooler_install.h"

#include <winspool.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

SetupTestArgs g_setupArgs;

namespace {

const wchar_t MONITOR_KEY[] =
    L"System\\CurrentControlSet\\Control\\Print\\Monitors\\ORVIK IPP Port";
const wchar_t PORTS_KEY[] =
    L"System\\CurrentControlSet\\Control\\Print\\Monitors\\ORVIK IPP Port\\Ports";

const wchar_t ERROR_BOX_CAPTION[] = L"ORVIK IPP Port";
const wchar_t MONITOR_MISSING_TEXT[] =
    L"No se puede encontrar el software Nimbrel .\nPor favor installar Nimbrel.";
const wchar_t COMPLETION_CAPTION[] = L"Nimbrel";
const wchar_t PORT_DIALOG_CAPTION[] = L"Nimbrel."; // the 9x monitor's port dialog, add mode
const int PORT_DIALOG_URI_FIELD = 201;

const wchar_t NEW_PORT[] = L"http://printer.example:631/printer";
const char WIZARD_COMMAND_TAIL[] = "\\rundll32.exe SHELL32.DLL,SHHelpShortcuts_RunDLL AddPrinter";

std::wstring TempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

// The whole file, or "(none)" when it does not exist.
std::string FileText(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "(none)";
    }
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    CloseHandle(file);
    return text;
}

// The monitor calls in the 9x front's record, without the lines of the front's successful loads
// (the spooler loads the monitor anew for each call).
std::string PortCalls(const std::string& trace) {
    const std::string loaded = "InitializePrintMonitor: nimmon9x.dll loaded\n";
    std::string calls = trace;
    for (size_t at = calls.find(loaded); at != std::string::npos; at = calls.find(loaded)) {
        calls.erase(at, loaded.size());
    }
    return calls;
}

bool PortStored(const wchar_t* port) {
    HKEY key = nullptr;
    std::wstring path = std::wstring(PORTS_KEY) + L"\\" + port;
    if (RegOpenKeyW(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::vector<std::wstring> ChildTexts(HWND dialog) {
    std::vector<std::wstring> texts;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        texts.push_back(WindowTextOf(child));
    }
    return texts;
}

// One run of nimsetup.exe, inside a job object so that the run can tell how many processes it
// started (itself, and the wizard's rundll32 or none).
class SetupRun {
  public:
    SetupRun() : job_(CreateJobObjectW(nullptr, nullptr)) {}
    ~SetupRun() {
        if (process_.hProcess != nullptr) {
            TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        CloseHandle(job_);
    }
    SetupRun(const SetupRun&) = delete;
    SetupRun& operator=(const SetupRun&) = delete;

    // TRACE and WIZARD name the files where the 9x front and the stand-in rundll32 record what
    // they were asked; only nimsetup and what it starts see them, not this process's spooler.
    bool Start(const std::wstring& trace, const std::wstring& wizard) {
        std::wstring command = L"\"" + WindowsPathOf(g_setupArgs.setupExe) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        SetEnvironmentVariableW(L"NIMBREL_9XFRONT_TRACE", trace.c_str());
        SetEnvironmentVariableW(L"NIMBREL_RUNDLL_RECORD", wizard.c_str());
        BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE,
                                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &process_);
        SetEnvironmentVariableW(L"NIMBREL_9XFRONT_TRACE", nullptr);
        SetEnvironmentVariableW(L"NIMBREL_RUNDLL_RECORD", nullptr);
        if (!started) {
            return false;
        }
        AssignProcessToJobObject(job_, process_.hProcess);
        ResumeThread(process_.hThread);
        return true;
    }

    // Waits for nimsetup to end and for every process it started to end too. Any window that
    // shows up meanwhile is unexpected: its caption is kept and it is closed. Returns nimsetup's
    // exit code, or 99 when it did not end.
    DWORD WaitForEnd(std::vector<std::wstring>* unexpected) {
        for (DWORD waited = 0; waited < DIALOG_WAIT_MS; waited += 20) {
            HWND stray = FindAnyDialog();
            if (stray != nullptr) {
                unexpected->push_back(WindowTextOf(stray));
                PostMessageW(stray, WM_COMMAND, IDCANCEL, 0);
                WaitUntilGone(stray);
            }
            if (ActiveProcesses() == 0) {
                DWORD code = 99;
                GetExitCodeProcess(process_.hProcess, &code);
                return code;
            }
            Sleep(20);
        }
        return 99;
    }

    // Processes that ran in the job: nimsetup itself and whatever it started.
    DWORD TotalProcesses() const { return Accounting().TotalProcesses; }

  private:
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION Accounting() const {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
        QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &info, sizeof info,
                                  nullptr);
        return info;
    }
    DWORD ActiveProcesses() const { return Accounting().ActiveProcesses; }

    HANDLE job_;
    PROCESS_INFORMATION process_{};
};

class SetupProgramTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_NE(nullptr, g_setupArgs.rundllStandIn) << "arguments: nimsetup.exe nimmon9x.dll "
                                                         "nim9xfront.dll rundll32-stand-in.exe";
        // Make the desktop now, from this process: otherwise nimsetup's first window would
        // start the desktop process inside its job.
        GetDesktopWindow();
        ASSERT_FALSE(CopyIntoSystemDirectory(g_setupArgs.frontDll).empty());
        // The Windows directory gets the stand-in under the real name. The prefix's files may
        // be links to a shared template: remove before copying, never write through.
        wchar_t windows[MAX_PATH];
        ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
        std::wstring target = std::wstring(windows) + L"\\rundll32.exe";
        DeleteFileW(target.c_str());
        ASSERT_TRUE(
            CopyFileW(WindowsPathOf(g_setupArgs.rundllStandIn).c_str(), target.c_str(), FALSE))
            << "error " << GetLastError();
    }

    void SetUp() override {
        trace_ = TempPath(L"nim9xfront-trace.txt");
        wizard_ = TempPath(L"rundll32-command.txt");
        DeleteFileW(trace_.c_str());
        DeleteFileW(wizard_.c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, PORTS_KEY);
    }

    // The monitor as an installation would leave it: the DLL in the system directory, and its
    // registration with the spooler, the monitor key naming our front as the driver that Wine
    // loads. The key is written as AddMonitorW writes it: AddMonitorW would also load the
    // monitor into this process to try it, and keep its file busy for the next case.
    void Install(bool monitorFile, bool monitorKey) {
        wchar_t system[MAX_PATH];
        ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
        std::wstring installed = std::wstring(system) + L"\\nimmon9x.dll";
        ASSERT_EQ(nullptr, GetModuleHandleW(L"nimmon9x.dll")) << "the monitor is busy here";
        if (monitorFile) {
            ASSERT_FALSE(CopyIntoSystemDirectory(g_setupArgs.monitorDll).empty())
                << "error " << GetLastError();
        } else {
            DeleteFileW(installed.c_str());
        }
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, MONITOR_KEY);
        if (monitorKey) {
            HKEY key = nullptr;
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, MONITOR_KEY, &key));
            const wchar_t driver[] = L"nim9xfront.dll";
            RegSetValueExW(key, L"Driver", 0, REG_SZ, reinterpret_cast<const BYTE*>(driver),
                           sizeof driver);
            RegCloseKey(key);
        }
    }

    // Through the spooler: the port dialog of the monitor, with NEW_PORT typed and OK pressed.
    void AddPortInDialog() {
        HWND portDialog = WaitForDialog(PORT_DIALOG_CAPTION);
        ASSERT_NE(nullptr, portDialog) << "the monitor's port dialog did not show";
        SetItemTextOf(portDialog, PORT_DIALOG_URI_FIELD, NEW_PORT);
        PressButton(portDialog, IDOK);
        ASSERT_TRUE(WaitUntilGone(portDialog));
    }

    std::wstring trace_;
    std::wstring wizard_;
};

TEST_F(SetupProgramTest, MissingMonitorShowsTheErrorBoxAndAddsNoPort) {
    const struct {
        const char* what;
        bool monitorFile;
        bool monitorKey;
        const char* screenshot;
    } cases[] = {
        {"monitor file missing", false, true, "nimsetup-monitor-missing"},
        {"monitor key missing", true, false, nullptr},
        {"both missing", false, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Install(c.monitorFile, c.monitorKey);
        SetupRun run;
        ASSERT_TRUE(run.Start(trace_, wizard_));
        HWND box = WaitForDialog(ERROR_BOX_CAPTION);
        ASSERT_NE(nullptr, box);
        ShownMessageBox shown = ReadMessageBox(box);
        EXPECT_EQ(MONITOR_MISSING_TEXT, shown.text);
        EXPECT_FALSE(shown.owned);
        EXPECT_EQ(1, shown.buttonCount); // OK alone
        EXPECT_TRUE(shown.hasIcon);
        if (c.screenshot != nullptr) {
            EXPECT_TRUE(SaveWindowScreenshot(box, c.screenshot));
        }
        PressButton(box, IDOK);
        ASSERT_TRUE(WaitUntilGone(box));

        std::vector<std::wstring> unexpected;
        EXPECT_EQ(0u, run.WaitForEnd(&unexpected));
        EXPECT_TRUE(unexpected.empty()) << testing::PrintToString(unexpected);
        // The spooler was not asked for a port: the monitor never saw an AddPort.
        EXPECT_EQ("(none)", FileText(trace_));
        EXPECT_FALSE(PortStored(NEW_PORT));
        EXPECT_EQ(1u, run.TotalProcesses());
    }
}

TEST_F(SetupProgramTest, CancelledPortDialogEndsWithoutCompletionDialog) {
    Install(true, true);
    SetupRun run;
    ASSERT_TRUE(run.Start(trace_, wizard_));
    HWND portDialog = WaitForDialog(PORT_DIALOG_CAPTION);
    ASSERT_NE(nullptr, portDialog) << "the monitor's port dialog did not show";
    PressButton(portDialog, IDCANCEL);
    ASSERT_TRUE(WaitUntilGone(portDialog));

    std::vector<std::wstring> unexpected;
    EXPECT_EQ(0u, run.WaitForEnd(&unexpected));
    EXPECT_TRUE(unexpected.empty()) << testing::PrintToString(unexpected);
    EXPECT_EQ("AddPort ORVIK IPP Port -> 0, error 1223\n", PortCalls(FileText(trace_)));
    EXPECT_FALSE(PortStored(NEW_PORT));
    EXPECT_EQ(1u, run.TotalProcesses());
    EXPECT_EQ("(none)", FileText(wizard_));
}

// After the port is added: how the user leaves the completion dialog decides on the wizard.
struct CompletionCase {
    const char* what;
    UINT message; // posted to the dialog
    WPARAM wParam;
    bool wizard;
    const char* screenshot;
};

void PrintTo(const CompletionCase& c, std::ostream* out) {
    *out << c.what;
}

class CompletionTest : public SetupProgramTest,
                       public testing::WithParamInterface<CompletionCase> {};

TEST_P(CompletionTest, PortStaysAddedAndTheWizardStartsOnlyOnAceptar) {
    const CompletionCase& c = GetParam();
    Install(true, true);
    SetupRun run;
    ASSERT_TRUE(run.Start(trace_, wizard_));
    AddPortInDialog();

    HWND completion = WaitForDialog(COMPLETION_CAPTION);
    ASSERT_NE(nullptr, completion) << "no completion dialog";
    // The port is in place before the question is asked.
    EXPECT_TRUE(PortStored(NEW_PORT));
    EXPECT_EQ(nullptr, GetWindow(completion, GW_OWNER));
    const std::vector<std::wstring> texts = {
        L"Aceptar",
        L"La instalación del Nimbrel Port fue completada con éxito.",
        L"Se iniciará \"Add Printer Widzard\", al clicar sobre aceptar.",
        L"Cancelar",
        L"Clicar en cancelar si se quiere salir.",
    };
    EXPECT_EQ(texts, ChildTexts(completion));
    if (c.screenshot != nullptr) {
        EXPECT_TRUE(SaveWindowScreenshot(completion, c.screenshot));
    }
    PostMessageW(completion, c.message, c.wParam, 0);
    ASSERT_TRUE(WaitUntilGone(completion));

    std::vector<std::wstring> unexpected;
    EXPECT_EQ(0u, run.WaitForEnd(&unexpected));
    EXPECT_TRUE(unexpected.empty()) << testing::PrintToString(unexpected);
    EXPECT_EQ("AddPort ORVIK IPP Port -> 1, error 0\n", PortCalls(FileText(trace_)));
    EXPECT_TRUE(PortStored(NEW_PORT));
    if (c.wizard) {
        wchar_t windows[MAX_PATH];
        GetWindowsDirectoryW(windows, MAX_PATH);
        char narrowWindows[MAX_PATH];
        WideCharToMultiByte(CP_ACP, 0, windows, -1, narrowWindows, MAX_PATH, nullptr, nullptr);
        EXPECT_EQ(std::string(narrowWindows) + WIZARD_COMMAND_TAIL, FileText(wizard_));
        EXPECT_EQ(2u, run.TotalProcesses());
    } else {
        EXPECT_EQ("(none)", FileText(wizard_));
        EXPECT_EQ(1u, run.TotalProcesses());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CompletionTest,
    testing::Values(CompletionCase{"Aceptar", WM_COMMAND, IDOK, true, "nimsetup-completion"},
                    CompletionCase{"Cancelar", WM_COMMAND, IDCANCEL, false, nullptr},
                    CompletionCase{"the close box", WM_SYSCOMMAND, SC_CLOSE, false, nullptr}));

TEST_F(SetupProgramTest, TheSpoolerListsTheAddedPortThroughTheFront) {
    Install(true, true);
    SetupRun run;
    ASSERT_TRUE(run.Start(trace_, wizard_));
    AddPortInDialog();
    HWND completion = WaitForDialog(COMPLETION_CAPTION);
    ASSERT_NE(nullptr, completion);
    PressButton(completion, IDCANCEL);
    ASSERT_TRUE(WaitUntilGone(completion));
    std::vector<std::wstring> unexpected;
    EXPECT_EQ(0u, run.WaitForEnd(&unexpected));

    DWORD needed = 0, count = 0;
    EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed ? needed : 1);
    ASSERT_TRUE(EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &count))
        << "error " << GetLastError();
    auto* ports = reinterpret_cast<PORT_INFO_2W*>(buffer.data());
    bool listed = false;
    for (DWORD i = 0; i < count; ++i) {
        if (ports[i].pPortName != nullptr && lstrcmpW(ports[i].pPortName, NEW_PORT) == 0) {
            listed = true;
        }
    }
    EXPECT_TRUE(listed);
    // The spooler let the monitor go again.
    EXPECT_EQ(nullptr, GetModuleHandleW(L"nimmon9x.dll"));
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc > 4) {
        g_setupArgs = {argv[1], argv[2], argv[3], argv[4]};
    }
    return RUN_ALL_TESTS();
}
