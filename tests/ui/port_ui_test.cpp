// Adding, configuring and deleting ports as a person does it: the spooler calls the monitor, the
// monitor's dialog opens on the screen, and a user (a second thread) types into its fields,
// clicks its check boxes and buttons and answers its message boxes. Afterwards the test looks
// at what the registry holds.
//
// nimmonnt: installed into Wine's own spooler (system32 + AddMonitorW); the calls are AddPortW,
// ConfigurePortW and DeletePortW on the "ORVIK IPP Port" monitor.
// nimmon9x: loaded by our Windows 95/98 spooler stand-in (hosts/win9x), which calls its table.
//
// Argument: the path of the monitor DLL. Peers: the fake printer and ippeveprinter.
#include "tests/support/peer_client.h"
#include "tests/support/port_registry.h"
#include "tests/support/screenshot.h"
#include "tests/support/spooler_install.h"
#include "tests/support/ui_user.h"

#ifdef NIMBREL_9X
#include "hosts/win9x/monitor9x_host.h"
#endif

#include <winspool.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <wctype.h>

#include <string>
#include <vector>

using namespace ui_user;
using port_registry::StoredPort;

namespace {

const char* g_dllPath = nullptr;

// The controls of the port dialog, as each build numbers them.
struct DialogIds {
    int uri;
    int useProxy;
    int proxyServer;
    int proxyPort;
    int queryOnAdd;
    int checkInTime;
};
#ifdef NIMBREL_9X
const DialogIds ID = {201, 1007, 1002, 1014, 1015, 1018};
const size_t URI_LIMIT = 49;
const wchar_t BUILD[] = L"nimmon9x";
#else
const DialogIds ID = {202, 1003, 1001, 1007, 1008, 1017};
const size_t URI_LIMIT = 127;
const wchar_t BUILD[] = L"nimmonnt";
#endif

const wchar_t ADD_CAPTION[] = L"Nimbrel.";
const wchar_t CONFIGURE_CAPTION[] = L"Configurar el puerto";
const wchar_t MESSAGE_CAPTION[] = L"Nimbrel";

// The texts of the messages a user can meet here.
const wchar_t BAD_URI[] = L"'%s' no es un nombre de impresora IPP v\u00e1lido.";
const wchar_t PORT_EXISTS[] = L"El puerto %s ya existe.";
const wchar_t BAD_PROXY[] = L"'%s' no es un nombre de proxy v\u00e1lido.";
const wchar_t BAD_PROXY_PORT[] = L"%s no es un n\u00famero de puerto v\u00e1lido.";
const wchar_t NOT_FOUND[] = L"La impresora %s no se encuentra.";

// A message as the user reads it: the Windows 95/98 build ends every message with a line break.
std::wstring Message(const wchar_t* format, const std::wstring& argument) {
    std::wstring text = format;
    size_t at = text.find(L"%s");
    if (at != std::wstring::npos) {
        text.replace(at, 2, argument);
    }
#ifdef NIMBREL_9X
    text += L"\n";
#endif
    return text;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// The URI the Windows 95/98 build names a port by: its scheme in lower case.
std::wstring NameOf(const std::wstring& typed) {
#ifdef NIMBREL_9X
    std::wstring name = typed;
    for (size_t i = 0; i < name.size() && name[i] != L':'; ++i) {
        name[i] = static_cast<wchar_t>(towlower(name[i]));
    }
    return name;
#else
    return typed;
#endif
}

std::wstring LowerScheme(const std::wstring& typed) {
    std::wstring uri = typed;
    for (size_t i = 0; i < uri.size() && uri[i] != L':'; ++i) {
        uri[i] = static_cast<wchar_t>(towlower(uri[i]));
    }
    return uri;
}

// The window the user works in when they ask for a new port (the spooler's printer folder):
// a top-level window of a thread of its own, with its own message loop.
class OwnerWindow {
  public:
    OwnerWindow() {
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Run, this, 0, &threadId_);
        WaitForSingleObject(ready_, 10000);
    }
    ~OwnerWindow() {
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
        CloseHandle(ready_);
    }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;

    HWND window() const { return window_; }
    DWORD threadId() const { return threadId_; }

  private:
    static DWORD WINAPI Run(void* self) {
        auto* owner = static_cast<OwnerWindow*>(self);
        owner->window_ = CreateWindowExW(0, L"STATIC", L"Impresoras", WS_OVERLAPPEDWINDOW, 600, 400,
                                         300, 200, nullptr, nullptr, nullptr, nullptr);
        ShowWindow(owner->window_, SW_SHOW);
        SetEvent(owner->ready_);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        DestroyWindow(owner->window_);
        return 0;
    }

    HANDLE ready_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    HWND window_ = nullptr;
};

// What a call to the monitor gave.
struct Outcome {
    BOOL result;
    DWORD error;
};

// The spooler's side of the three operations.
#ifdef NIMBREL_9X

Monitor9xHost g_host;

std::string Narrow(const std::wstring& text) {
    int bytes = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &result[0], bytes, nullptr, nullptr);
    return result;
}

Outcome CallAddPort(HWND owner) {
    char monitor[] = "ORVIK IPP Port";
    SetLastError(0xdeadbeef);
    BOOL result = g_host.table.pfnAddPort(nullptr, owner, monitor);
    return Outcome{result, GetLastError()};
}

Outcome CallConfigurePort(HWND owner, const std::wstring& port) {
    std::string name = Narrow(port);
    SetLastError(0xdeadbeef);
    BOOL result = g_host.table.pfnConfigurePort(nullptr, owner, &name[0]);
    return Outcome{result, GetLastError()};
}

Outcome CallDeletePort(HWND owner, const std::wstring& port) {
    std::string name = Narrow(port);
    SetLastError(0xdeadbeef);
    BOOL result = g_host.table.pfnDeletePort(nullptr, owner, &name[0]);
    return Outcome{result, GetLastError()};
}

bool InstallMonitor() {
    return LoadMonitor9x(WindowsPathOf(g_dllPath).c_str(), &g_host) && g_host.socketsStarted;
}

#else

Outcome CallAddPort(HWND owner) {
    SetLastError(0xdeadbeef);
    BOOL result = AddPortW(nullptr, owner, const_cast<LPWSTR>(MONITOR_NAME));
    return Outcome{result, GetLastError()};
}

Outcome CallConfigurePort(HWND owner, const std::wstring& port) {
    SetLastError(0xdeadbeef);
    BOOL result = ConfigurePortW(nullptr, owner, const_cast<LPWSTR>(port.c_str()));
    return Outcome{result, GetLastError()};
}

Outcome CallDeletePort(HWND owner, const std::wstring& port) {
    SetLastError(0xdeadbeef);
    BOOL result = DeletePortW(nullptr, owner, const_cast<LPWSTR>(port.c_str()));
    return Outcome{result, GetLastError()};
}

bool InstallMonitor() {
    std::wstring fileName = CopyIntoSystemDirectory(g_dllPath);
    return !fileName.empty() && RegisterMonitor(fileName);
}

#endif

// A picture of a window for the documentation, when asked for (NIMBREL_SCREENSHOT_DIR). The
// picture is taken by a Unix program that Wine does not wait for: the user holds still until
// the file is complete.
void Screenshot(HWND window, const char* what) {
    const char* folder = getenv("NIMBREL_SCREENSHOT_DIR");
    if (folder == nullptr || folder[0] == '\0') {
        return;
    }
    std::string name = Utf8(BUILD) + "-" + what;
    std::wstring file = WindowsPathOf((std::string(folder) + "/" + name + ".png").c_str());
    DeleteFileW(file.c_str());
    SaveWindowScreenshot(window, name.c_str());
    LONGLONG last = -1;
    for (DWORD waited = 0; waited < 20000; waited += 250) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) {
            LONGLONG size = (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            if (size > 0 && size == last) {
                return;
            }
            last = size;
        }
        Sleep(250);
    }
}

StoredPort Port(const std::wstring& uri, DWORD useProxy = 0, const std::wstring& proxy = L"",
                DWORD proxyPort = 0, DWORD checkInTime = 0) {
    StoredPort port;
    port.exists = true;
    port.portName = uri;
    port.printerUri = LowerScheme(uri);
    port.useProxy = useProxy;
    port.proxyServer = proxy;
    port.proxyPort = proxyPort;
    port.checkInTime = checkInTime;
    return port;
}

void ExpectStored(const std::wstring& keyName, const StoredPort& expected) {
    StoredPort stored = port_registry::Read(keyName);
    ASSERT_TRUE(stored.exists) << Utf8(keyName);
    EXPECT_EQ(Utf8(expected.portName), Utf8(stored.portName));
    EXPECT_EQ(Utf8(expected.printerUri), Utf8(stored.printerUri));
    EXPECT_EQ(expected.useProxy, stored.useProxy);
    EXPECT_EQ(Utf8(expected.proxyServer), Utf8(stored.proxyServer));
    EXPECT_EQ(expected.proxyPort, stored.proxyPort);
    EXPECT_EQ(expected.checkInTime, stored.checkInTime);
}

std::vector<std::string> StoredNames() {
    std::vector<std::string> names;
    for (const std::wstring& name : port_registry::Names()) {
        names.push_back(Utf8(name));
    }
    return names;
}

// Dark pixels in the window's client area, as its thread last painted it: text shows as ink.
int InkIn(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    int ink = 0;
    for (int y = 0; y < client.bottom; ++y) {
        for (int x = 0; x < client.right; ++x) {
            COLORREF pixel = GetPixel(dc, x, y);
            if (pixel != CLR_INVALID &&
                GetRValue(pixel) + GetGValue(pixel) + GetBValue(pixel) < 200) {
                ++ink;
            }
        }
    }
    ReleaseDC(window, dc);
    return ink;
}

// Waits a moment for a message box that should not come. The dialog has handled the click
// once a message sent after it comes back.
bool MessageBoxShows(HWND dialog) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &ignored);
    Sleep(300);
    return FindMessageBox() != nullptr;
}

class PortUiTest : public testing::Test {
  protected:
    void SetUp() override { port_registry::Clear(); }
    void TearDown() override { port_registry::Clear(); }

    // Runs `call` while the user follows `script`; fails the test when the user got stuck.
    void Session(const std::function<void()>& call, const std::function<void()>& script) {
        std::string trouble = RunSession(call, script);
        EXPECT_EQ("", trouble);
    }

    OwnerWindow owner_;
};

// --- Add mode: what OK does with what the user typed ---------------------------------------

struct RefusedCase {
    const char* name;
    std::wstring uri;
    bool useProxy;
    std::wstring proxy;
    std::wstring proxyPort;
    const wchar_t* message; // nullptr: no message, the dialog simply stays open
    std::wstring argument;  // as nimmonnt shows it; nimmon9x shows the lower-case scheme
    bool argumentRewritten; // the argument is the URI after the scheme check
};

class RefusedInputTest : public PortUiTest, public testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedInputTest, DialogStaysOpenWithTheMessageAndNothingIsStored) {
    const RefusedCase& c = GetParam();
    port_registry::Write(L"http://existing.example/ipp", Port(L"http://existing.example/ipp"));
    std::vector<std::string> before = StoredNames();

    Outcome outcome{};
    MessageSeen seen;
    bool boxShown = false;
    std::wstring uriAfter;
    Session([&] { outcome = CallAddPort(owner_.window()); },
            [&] {
                HWND dialog = WaitForDialog(ADD_CAPTION);
                Type(dialog, ID.uri, c.uri);
                if (c.useProxy) {
                    Click(dialog, ID.useProxy);
                    Type(dialog, ID.proxyServer, c.proxy);
                    Type(dialog, ID.proxyPort, c.proxyPort);
                }
                Press(dialog, IDOK);
                if (c.message != nullptr) {
                    HWND box = WaitForMessageBox();
                    seen = ReadMessageBox(box);
                    if (std::string(c.name) == "NoPath") {
                        Screenshot(box, "message-box");
                    }
                    DismissMessageBox(box);
                } else {
                    boxShown = MessageBoxShows(dialog);
                }
                // The dialog is still there, with what the user typed.
                uriAfter = Text(dialog, ID.uri);
                Press(dialog, IDCANCEL);
                WaitGone(dialog);
            });

    if (c.message != nullptr) {
        std::wstring argument = c.argumentRewritten ? NameOf(c.argument) : c.argument;
        EXPECT_EQ(Utf8(MESSAGE_CAPTION), Utf8(seen.caption));
        EXPECT_EQ(Utf8(Message(c.message, argument)), Utf8(seen.text));
    } else {
        EXPECT_FALSE(boxShown);
    }
    EXPECT_EQ(Utf8(c.uri), Utf8(uriAfter));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), outcome.error);
    EXPECT_EQ(before, StoredNames());
}

INSTANTIATE_TEST_SUITE_P(
    AddMode, RefusedInputTest,
    testing::Values(RefusedCase{"EmptyUri", L"", false, L"", L"", BAD_URI, L"", false},
                    RefusedCase{"OtherScheme", L"ftp://printer.example/ipp", false, L"", L"",
                                nullptr, L"", false},
                    RefusedCase{"NoSlashes", L"http:printer.example/ipp", false, L"", L"", BAD_URI,
                                L"http:printer.example/ipp", false},
                    RefusedCase{"NoPath", L"http://printer.example", false, L"", L"", BAD_URI,
                                L"http://printer.example", true},
                    RefusedCase{"PortTooLarge", L"HTTP://printer.example:65536/ipp", false, L"",
                                L"", BAD_URI, L"HTTP://printer.example:65536/ipp", true},
                    RefusedCase{"BadHost", L"ipp://printer_1/ipp", false, L"", L"", BAD_URI,
                                L"ipp://printer_1/ipp", true},
                    RefusedCase{"SpaceInPath", L"ipp://printer.example/a b", false, L"", L"",
                                BAD_URI, L"ipp://printer.example/a b", true},
                    RefusedCase{"ProxyWithoutName", L"http://printer.example/ipp", true, L"",
                                L"8080", BAD_PROXY, L"", false},
                    RefusedCase{"ProxyBadName", L"http://printer.example/ipp", true, L"proxy:1",
                                L"8080", BAD_PROXY, L"proxy:1", false},
                    RefusedCase{"ProxyWithoutPort", L"http://printer.example/ipp", true, L"proxy1",
                                L"", BAD_PROXY_PORT, L"", false},
                    RefusedCase{"ProxyPortTooLarge", L"http://printer.example/ipp", true, L"proxy1",
                                L"65536", BAD_PROXY_PORT, L"65536", false},
                    RefusedCase{"DuplicateInOtherCase", L"HTTP://EXISTING.example/ipp", false, L"",
                                L"", PORT_EXISTS, L"HTTP://EXISTING.example/ipp", true}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

struct AcceptedCase {
    const char* name;
    std::wstring uri;
    bool useProxy;
    std::wstring proxy;
    std::wstring proxyPort;
    bool checkInTime;
    StoredPort stored; // PortName as nimmonnt stores it
};

class AcceptedInputTest : public PortUiTest, public testing::WithParamInterface<AcceptedCase> {};

TEST_P(AcceptedInputTest, PortIsStoredWithWhatTheUserChose) {
    const AcceptedCase& c = GetParam();
    Outcome outcome{};
    bool firstCase = std::string(c.name) == "CapitalHttpScheme";
    Session([&] { outcome = CallAddPort(owner_.window()); },
            [&] {
                HWND dialog = WaitForDialog(ADD_CAPTION);
                if (firstCase) {
                    Screenshot(dialog, "port-dialog-add");
                }
                Type(dialog, ID.uri, c.uri);
                if (c.useProxy) {
                    Click(dialog, ID.useProxy);
                    Type(dialog, ID.proxyServer, c.proxy);
                    Type(dialog, ID.proxyPort, c.proxyPort);
                }
                if (c.checkInTime) {
                    Click(dialog, ID.checkInTime);
                }
                Press(dialog, IDOK);
                WaitGone(dialog);
            });
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(0u, outcome.error);
    StoredPort expected = c.stored;
    expected.portName = NameOf(expected.portName);
    ExpectStored(NameOf(c.uri), expected);
    ASSERT_EQ(1u, StoredNames().size());
    // The key is named by the port name, in its letter case.
    EXPECT_EQ(Utf8(NameOf(c.uri)), StoredNames()[0]);
}

INSTANTIATE_TEST_SUITE_P(
    AddMode, AcceptedInputTest,
    testing::Values(AcceptedCase{"CapitalHttpScheme", L"HTTP://printer.example:631/ipp/print",
                                 false, L"", L"", false,
                                 Port(L"HTTP://printer.example:631/ipp/print")},
                    AcceptedCase{"MixedCaseIppScheme", L"IpP://10.1.2.3/printers/lp1", false, L"",
                                 L"", false, Port(L"IpP://10.1.2.3/printers/lp1")},
                    AcceptedCase{"PortZero", L"http://printer.example:0/ipp", false, L"", L"",
                                 false, Port(L"http://printer.example:0/ipp")},
                    AcceptedCase{"WithProxyAndPolling", L"ipp://printer.example/ipp", true,
                                 L"proxy.example", L"08080", true,
                                 Port(L"ipp://printer.example/ipp", 1, L"proxy.example", 8080, 1)}),
    [](const testing::TestParamInfo<AcceptedCase>& info) { return std::string(info.param.name); });

TEST_F(PortUiTest, AddPortCancelledStoresNothing) {
    Outcome outcome{};
    Session([&] { outcome = CallAddPort(owner_.window()); },
            [&] {
                HWND dialog = WaitForDialog(ADD_CAPTION);
                Type(dialog, ID.uri, L"http://printer.example/ipp");
                Click(dialog, ID.checkInTime);
                Press(dialog, IDCANCEL);
                WaitGone(dialog);
            });
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), outcome.error);
    EXPECT_TRUE(StoredNames().empty());
}

TEST_F(PortUiTest, AddPortWithoutOwnerWindowStillShowsTheDialog) {
    Outcome outcome{};
    Session([&] { outcome = CallAddPort(nullptr); },
            [&] {
                HWND dialog = WaitForDialog(ADD_CAPTION);
                Type(dialog, ID.uri, L"ipp://printer.example/ipp");
                Press(dialog, IDOK);
                WaitGone(dialog);
            });
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(0u, outcome.error);
    EXPECT_TRUE(port_registry::Read(L"ipp://printer.example/ipp").exists);
}

TEST_F(PortUiTest, TypingStopsAtTheFieldsLimits) {
    std::wstring uri, proxy, proxyPort;
    Session([&] { CallAddPort(owner_.window()); },
            [&] {
                HWND dialog = WaitForDialog(ADD_CAPTION);
                Type(dialog, ID.uri, L"http://printer.example/" + std::wstring(300, L'a'));
                Click(dialog, ID.useProxy);
                Type(dialog, ID.proxyServer, std::wstring(300, L'p'));
                Type(dialog, ID.proxyPort, L"1234567890");
                uri = Text(dialog, ID.uri);
                proxy = Text(dialog, ID.proxyServer);
                proxyPort = Text(dialog, ID.proxyPort);
                Press(dialog, IDCANCEL);
                WaitGone(dialog);
            });
    EXPECT_EQ(URI_LIMIT, uri.size());
    EXPECT_EQ(256u, proxy.size());
    EXPECT_EQ(L"1234567", proxyPort);
}

#ifndef NIMBREL_9X
TEST_F(PortUiTest, InputOfTheOwnersThreadIsJoinedOnlyWhileTheDialogIsUp) {
    Outcome outcome{};
    BOOL sharedWhileUp = FALSE;
    Session([&] { outcome = CallAddPort(owner_.window()); },
            [&] {
                HWND dialog = WaitForDialog(ADD_CAPTION);
                // While the dialog is up, the dialog's thread and the owner's thread share
                // their input: the owner's thread sees the dialog active and its focus.
                DWORD dialogThread = GetWindowThreadProcessId(dialog, nullptr);
                GUITHREADINFO ownerInfo{};
                GUITHREADINFO dialogInfo{};
                ownerInfo.cbSize = dialogInfo.cbSize = sizeof(GUITHREADINFO);
                GetGUIThreadInfo(owner_.threadId(), &ownerInfo);
                GetGUIThreadInfo(dialogThread, &dialogInfo);
                sharedWhileUp = ownerInfo.hwndActive == dialog &&
                                ownerInfo.hwndFocus == dialogInfo.hwndFocus &&
                                dialogInfo.hwndActive == dialog;
                Press(dialog, IDCANCEL);
                WaitGone(dialog);
            });
    EXPECT_FALSE(outcome.result);
    EXPECT_TRUE(sharedWhileUp);
    // Afterwards they are apart again: there is nothing left to detach.
    EXPECT_FALSE(AttachThreadInput(GetCurrentThreadId(), owner_.threadId(), FALSE));
}
#endif

// --- Configure mode ------------------------------------------------------------------------

TEST_F(PortUiTest, ConfigureShowsTheStoredSettingsAndAcceptsTheUnchangedUri) {
    const std::wstring name = L"HTTP://printer.example:8631/ipp/print";
    port_registry::Write(NameOf(name), Port(NameOf(name), 1, L"proxy.example", 3128, 0));

    Outcome outcome{};
    std::wstring shownUri, shownProxy, shownProxyPort;
    bool uriEnabled = true, queryEnabled = true, proxyChecked = false, pollChecked = true;
    Session([&] { outcome = CallConfigurePort(owner_.window(), NameOf(name)); },
            [&] {
                HWND dialog = WaitForDialog(CONFIGURE_CAPTION);
                Screenshot(dialog, "port-dialog-configure");
                shownUri = Text(dialog, ID.uri);
                shownProxy = Text(dialog, ID.proxyServer);
                shownProxyPort = Text(dialog, ID.proxyPort);
                uriEnabled = Enabled(dialog, ID.uri);
                queryEnabled = Enabled(dialog, ID.queryOnAdd);
                proxyChecked = Checked(dialog, ID.useProxy);
                pollChecked = Checked(dialog, ID.checkInTime);
                Click(dialog, ID.checkInTime);
                Type(dialog, ID.proxyPort, L"8080");
                Press(dialog, IDOK);
                WaitGone(dialog);
            });
    EXPECT_TRUE(outcome.result);
    // The field shows the printer URI, with its scheme in lower case.
    EXPECT_EQ(Utf8(LowerScheme(name)), Utf8(shownUri));
    EXPECT_FALSE(uriEnabled);
    EXPECT_FALSE(queryEnabled);
    EXPECT_TRUE(proxyChecked);
    EXPECT_FALSE(pollChecked);
    EXPECT_EQ(L"proxy.example", shownProxy);
    EXPECT_EQ(L"3128", shownProxyPort);
    // Stored again under the name the field showed.
    ASSERT_EQ(1u, StoredNames().size());
    EXPECT_EQ(Utf8(LowerScheme(name)), StoredNames()[0]);
    ExpectStored(LowerScheme(name), Port(LowerScheme(name), 1, L"proxy.example", 8080, 1));
}

TEST_F(PortUiTest, UncheckingTheProxyStoresNoProxyWhateverTheFieldsShow) {
    const std::wstring name = L"ipp://printer.example/ipp";
    port_registry::Write(name, Port(name, 1, L"proxy.example", 3128, 1));

    Outcome outcome{};
    std::wstring proxyLeft;
    bool proxyFieldEnabled = true;
    Session([&] { outcome = CallConfigurePort(owner_.window(), name); },
            [&] {
                HWND dialog = WaitForDialog(CONFIGURE_CAPTION);
                Click(dialog, ID.useProxy);
                proxyLeft = Text(dialog, ID.proxyServer);
                proxyFieldEnabled = Enabled(dialog, ID.proxyServer);
                Press(dialog, IDOK);
                WaitGone(dialog);
            });
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(L"proxy.example", proxyLeft);
    EXPECT_FALSE(proxyFieldEnabled);
    ExpectStored(name, Port(name, 0, L"", 0, 1));
}

TEST_F(PortUiTest, ConfigureCancelledLeavesTheRegistryAlone) {
    const std::wstring name = L"ipp://printer.example/ipp";
    port_registry::Write(name, Port(name, 0, L"", 0, 1));

    Outcome outcome{};
    Session([&] { outcome = CallConfigurePort(owner_.window(), name); },
            [&] {
                HWND dialog = WaitForDialog(CONFIGURE_CAPTION);
                Click(dialog, ID.checkInTime);
                Click(dialog, ID.useProxy);
                Type(dialog, ID.proxyServer, L"proxy.example");
                Type(dialog, ID.proxyPort, L"3128");
                Press(dialog, IDCANCEL);
                WaitGone(dialog);
            });
    EXPECT_TRUE(outcome.result);
#ifdef NIMBREL_9X
    EXPECT_EQ(0xdeadbeefu, outcome.error); // the last error is left alone
#endif
    ExpectStored(name, Port(name, 0, L"", 0, 1));
}

TEST_F(PortUiTest, ConfigureOfAPortThatDoesNotLoadShowsNoDialog) {
    // The key is there, but its PortName is no printer URI.
    const std::wstring name = L"ipp://printer.example/ipp";
    StoredPort broken = Port(name);
    broken.portName = L"not a printer uri";
    port_registry::Write(name, broken);

    Outcome outcome{};
    bool dialogShown = true;
    Session([&] { outcome = CallConfigurePort(owner_.window(), name); },
            [&] {
                Sleep(1500);
                dialogShown =
                    FindDialog(ADD_CAPTION) != nullptr || FindDialog(CONFIGURE_CAPTION) != nullptr;
            });
    EXPECT_FALSE(dialogShown);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_UNKNOWN_PORT), outcome.error);
    ExpectStored(name, broken);
}

// --- Delete --------------------------------------------------------------------------------

TEST_F(PortUiTest, DeleteRemovesThePortAndAMissingPortIsNoError) {
    const std::wstring name = L"ipp://printer.example/ipp";
    const std::wstring other = L"ipp://other.example/ipp";
    port_registry::Write(name, Port(name));
    port_registry::Write(other, Port(other));

    Outcome deleted = CallDeletePort(owner_.window(), name);
    EXPECT_TRUE(deleted.result);
    EXPECT_FALSE(port_registry::Read(name).exists);
    EXPECT_TRUE(port_registry::Read(other).exists);
#ifdef NIMBREL_9X
    EXPECT_EQ(0xdeadbeefu, deleted.error);
    // Wine's spooler refuses a port it does not know before the monitor is asked; our own
    // host asks the monitor.
    Outcome missing = CallDeletePort(owner_.window(), L"ipp://missing.example/ipp");
    EXPECT_TRUE(missing.result);
    EXPECT_EQ(0xdeadbeefu, missing.error);
#endif
}

// --- Trying the printer before the port is stored --------------------------------------------

TEST_F(PortUiTest, AddPortAsksARealPrinterAndStoresThePort) {
    ASSERT_NE(0, peers::IppPrinterPort()) << "needs ippeveprinter";
    const std::wstring uri = Wide(peers::IppPrinterUri());
    Outcome outcome{};
    Session([&] { outcome = CallAddPort(owner_.window()); },
            [&] {
                HWND dialog = WaitForDialog(ADD_CAPTION);
                Type(dialog, ID.uri, uri);
                Click(dialog, ID.queryOnAdd);
                Press(dialog, IDOK);
                WaitGone(dialog);
            });
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(0u, outcome.error);
    ExpectStored(uri, Port(uri));
}

TEST_F(PortUiTest, AddPortRefusesAUriTheRealPrinterDoesNotServe) {
    ASSERT_NE(0, peers::IppPrinterPort()) << "needs ippeveprinter";
    const std::wstring uri =
        L"ipp://127.0.0.1:" + std::to_wstring(peers::IppPrinterPort()) + L"/ipp/nothing-here";
    Outcome outcome{};
    MessageSeen seen;
    Session([&] { outcome = CallAddPort(owner_.window()); },
            [&] {
                HWND dialog = WaitForDialog(ADD_CAPTION);
                Type(dialog, ID.uri, uri);
                Click(dialog, ID.queryOnAdd);
                Press(dialog, IDOK);
                seen = AnswerMessageBox();
            });
    // The printer answers that it has no such printer (client-error-not-found).
    EXPECT_EQ(Utf8(Message(NOT_FOUND, uri)), Utf8(seen.text));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_DEVICE), outcome.error);
    EXPECT_TRUE(StoredNames().empty());
}

TEST_F(PortUiTest, AddPortAsksThePrinterThroughTheProxyTheUserGave) {
    ASSERT_NE(0, peers::FakePrinterPort()) << "needs the fake printer";
    // The fake printer stands in for the proxy here: it records what reaches it.
    ASSERT_TRUE(peers::SetScript(R"({"default": {"ipp": {"status": 0}}})"));
    const std::wstring uri = L"ipp://printer.example/ipp/lp1";
    Outcome outcome{};
    Session([&] { outcome = CallAddPort(owner_.window()); },
            [&] {
                HWND dialog = WaitForDialog(ADD_CAPTION);
                Type(dialog, ID.uri, uri);
                Click(dialog, ID.useProxy);
                Type(dialog, ID.proxyServer, L"127.0.0.1");
                Type(dialog, ID.proxyPort, std::to_wstring(peers::FakePrinterPort()));
                Click(dialog, ID.queryOnAdd);
                Press(dialog, IDOK);
                WaitGone(dialog);
            });
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(0u, outcome.error);
    std::string records = peers::Records(1, 5000);
    // The request line names the printer in absolute form, with its port.
    EXPECT_NE(std::string::npos, records.find("\"target\": \"http://printer.example:631/ipp/lp1\""))
        << records;
    ExpectStored(uri, Port(uri, 1, L"127.0.0.1", static_cast<DWORD>(peers::FakePrinterPort())));
}

TEST_F(PortUiTest, AddPortRefusesAPrinterThatAnswersNotFound) {
    ASSERT_NE(0, peers::FakePrinterPort()) << "needs the fake printer";
    // The printer takes a moment, so the user sees the connecting box.
    ASSERT_TRUE(peers::SetScript(R"({"operations": {"get-printer-attributes": {"default":
        {"delay_ms": 2500, "ipp": {"status": 1030}}}}})"));
    const std::wstring uri = Wide(peers::FakePrinterUri("HTTP", "/ipp/missing"));

    Outcome outcome{};
    bool connectingSeen = false;
    int connectingText = 0;
    MessageSeen seen;
    Session([&] { outcome = CallAddPort(owner_.window()); },
            [&] {
                HWND dialog = WaitForDialog(ADD_CAPTION);
                Type(dialog, ID.uri, uri);
                Click(dialog, ID.queryOnAdd);
                Press(dialog, IDOK);
                DWORD start = GetTickCount();
                HWND box = nullptr;
                while (box == nullptr && GetTickCount() - start < kPatienceMs) {
                    box = FindConnectingBox();
                    Sleep(20);
                }
                connectingSeen = box != nullptr;
                if (box != nullptr) {
                    connectingText = InkIn(box);
                    Screenshot(box, "connecting-box");
                }
                seen = AnswerMessageBox();
            });
    EXPECT_TRUE(connectingSeen);
    EXPECT_LT(0, connectingText) << "the box shows no text";
    EXPECT_EQ(Utf8(MESSAGE_CAPTION), Utf8(seen.caption));
    EXPECT_EQ(Utf8(Message(NOT_FOUND, NameOf(uri))), Utf8(seen.text));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_DEVICE), outcome.error);
    EXPECT_TRUE(StoredNames().empty());
    EXPECT_EQ(1, peers::RecordCount()); // one query, nothing more
}

// What AddPort makes of the IPP status of a printer that answers HTTP 200.
struct AnswerCase {
    const char* name;
    int ippStatus;
    const wchar_t* message; // nullptr: the port is stored
    DWORD error;
};

class PrinterAnswerTest : public PortUiTest, public testing::WithParamInterface<AnswerCase> {};

TEST_P(PrinterAnswerTest, DecidesWhetherThePortIsStored) {
    const AnswerCase& c = GetParam();
    ASSERT_NE(0, peers::FakePrinterPort()) << "needs the fake printer";
    ASSERT_TRUE(peers::SetScript(
        "{\"default\": {\"ipp\": {\"status\": " + std::to_string(c.ippStatus) + "}}}"));
    const std::wstring uri = Wide(peers::FakePrinterUri());
    Outcome outcome{};
    MessageSeen seen;
    Session([&] { outcome = CallAddPort(owner_.window()); },
            [&] {
                HWND dialog = WaitForDialog(ADD_CAPTION);
                Type(dialog, ID.uri, uri);
                Click(dialog, ID.queryOnAdd);
                Press(dialog, IDOK);
                if (c.message != nullptr) {
                    seen = AnswerMessageBox();
                } else {
                    WaitGone(dialog);
                }
            });
    EXPECT_EQ(1, peers::RecordCount());
    if (c.message == nullptr) {
        EXPECT_TRUE(outcome.result);
        EXPECT_EQ(0u, outcome.error);
        ExpectStored(uri, Port(uri));
        return;
    }
    EXPECT_EQ(Utf8(Message(c.message, uri)), Utf8(seen.text));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(c.error, outcome.error);
    EXPECT_TRUE(StoredNames().empty());
}

const wchar_t BAD_REQUEST[] = L"Petici\u00f3n incorrecta desde la impresora %s";
const wchar_t TIMEOUT[] = L"Petici\u00f3n de tiempo de espera.";

INSTANTIATE_TEST_SUITE_P(
    AddWithQuery, PrinterAnswerTest,
    testing::Values(AnswerCase{"SuccessfulOk", 0x0000, nullptr, 0},
                    AnswerCase{"BadRequest", 0x0400, BAD_REQUEST, ERROR_INVALID_PRINTER_COMMAND},
                    AnswerCase{"ServerInternalError", 0x0500, BAD_REQUEST,
                               ERROR_INVALID_PRINTER_COMMAND},
                    AnswerCase{"Gone", 0x0407, TIMEOUT, 0xC000},
                    // Busy is a reason to try later, not an unusable printer.
                    AnswerCase{"BusyIsStoredAnyway", 0x0507, nullptr, 0}),
    [](const testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    g_dllPath = argc > 1 ? argv[1] : nullptr;
    if (g_dllPath == nullptr) {
        fprintf(stderr, "pass the path of the monitor DLL\n");
        return 2;
    }
    if (!InstallMonitor()) {
        fprintf(stderr, "cannot install the monitor, error %lu\n", GetLastError());
        return 2;
    }
    return RUN_ALL_TESTS();
}
