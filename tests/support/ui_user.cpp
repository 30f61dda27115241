#include "tests/support/ui_user.h"

namespace ui_user {
namespace {

// How often a waiting user looks at the screen again.
const DWORD kLookAgainMs = 20;
// How long the session waits for the call to come back after the script has ended.
const DWORD kCallReturnMs = 10000;
// The icon control of a message box.
const int kMessageBoxIconId = 1088;
// The text control of a message box.
const int kMessageBoxTextId = 0xFFFF;

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

struct Search {
    std::function<bool(HWND)> wanted;
    HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) {
        return TRUE;
    }
    if (search->wanted(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindTop(const std::function<bool(HWND)>& wanted) {
    Search search{wanted, nullptr};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitFor(const std::function<HWND()>& find, DWORD timeoutMs, const std::string& what) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = find();
        if (window != nullptr) {
            return window;
        }
        if (GetTickCount() - start > timeoutMs) {
            std::string open;
            for (const std::wstring& w : OpenWindows()) {
                open += " [" + Utf8(w) + "]";
            }
            throw Trouble("no " + what + " appeared; open:" + open);
        }
        Sleep(kLookAgainMs);
    }
}

bool IsDialog(HWND window) {
    return ClassOf(window) == L"#32770";
}

bool IsMessageBox(HWND window) {
    return IsDialog(window) && GetDlgItem(window, kMessageBoxIconId) != nullptr &&
           GetDlgItem(window, kMessageBoxTextId) != nullptr;
}

HWND Control(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) {
        throw Trouble("the dialog has no control " + std::to_string(id));
    }
    return control;
}

struct SessionState {
    const std::function<void()>* script;
    HANDLE callDone;
    std::string trouble;
};

DWORD WINAPI ScriptThread(LPVOID context) {
    auto* state = static_cast<SessionState*>(context);
    try {
        (*state->script)();
    } catch (const std::exception& e) {
        state->trouble = e.what();
    }
    if (WaitForSingleObject(state->callDone, state->trouble.empty() ? kCallReturnMs : 0) ==
        WAIT_OBJECT_0) {
        return 0;
    }
    if (state->trouble.empty()) {
        std::string open;
        for (const std::wstring& w : OpenWindows()) {
            open += " [" + Utf8(w) + "]";
        }
        state->trouble = "the call did not come back after the script ended; open:" + open;
    }
    // Close what is open until the call comes back.
    while (WaitForSingleObject(state->callDone, 200) != WAIT_OBJECT_0) {
        CloseEverything();
    }
    return 0;
}

} // namespace

std::string Utf8(const std::wstring& text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], bytes, nullptr, nullptr);
    }
    return result;
}

std::string RunSession(const std::function<void()>& call, const std::function<void()>& script) {
    SessionState state{&script, CreateEventW(nullptr, TRUE, FALSE, nullptr), std::string()};
    HANDLE thread = CreateThread(nullptr, 0, ScriptThread, &state, 0, nullptr);
    if (thread == nullptr) {
        CloseHandle(state.callDone);
        return "cannot start the user's thread";
    }
    call();
    SetEvent(state.callDone);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(state.callDone);
    return state.trouble;
}

HWND FindDialog(const std::wstring& caption) {
    return FindTop([&](HWND w) { return IsDialog(w) && !IsMessageBox(w) && Text(w) == caption; });
}

HWND WaitForDialog(const std::wstring& caption, DWORD timeoutMs) {
    return WaitFor([&] { return FindDialog(caption); }, timeoutMs,
                   "dialog '" + Utf8(caption) + "'");
}

HWND FindMessageBox() {
    return FindTop(IsMessageBox);
}

HWND WaitForMessageBox(DWORD timeoutMs) {
    return WaitFor(FindMessageBox, timeoutMs, "message box");
}

HWND FindConnectingBox() {
    return FindTop([](HWND w) {
        if (!IsDialog(w) || IsMessageBox(w)) {
            return false;
        }
        for (HWND child = GetWindow(w, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (Text(child) == L"Conect\u00e1ndose...") {
                return true;
            }
        }
        return false;
    });
}

void WaitGone(HWND window, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start > timeoutMs) {
            throw Trouble("window '" + Utf8(Text(window)) + "' did not go away");
        }
        Sleep(kLookAgainMs);
    }
}

MessageSeen ReadMessageBox(HWND box) {
    return MessageSeen{Text(box), Text(Control(box, kMessageBoxTextId))};
}

void DismissMessageBox(HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    WaitGone(box);
}

MessageSeen AnswerMessageBox() {
    HWND box = WaitForMessageBox();
    MessageSeen seen = ReadMessageBox(box);
    DismissMessageBox(box);
    return seen;
}

void Type(HWND dialog, int id, const std::wstring& text) {
    HWND field = Control(dialog, id);
    if (!IsWindowEnabled(field)) {
        throw Trouble("field " + std::to_string(id) + " is disabled");
    }
    SendMessageW(field, EM_SETSEL, 0, -1);
    SendMessageW(field, WM_CLEAR, 0, 0);
    for (wchar_t ch : text) {
        SendMessageW(field, WM_CHAR, ch, 1);
    }
}

std::wstring Text(HWND window) {
    // Captions and static texts are read without a message: the window's thread may be busy
    // (the connecting box's thread runs no message loop while it waits for the printer).
    if (ClassOf(window) != L"Edit") {
        wchar_t text[2048] = L"";
        InternalGetWindowText(window, text, 2048);
        return text;
    }
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(window, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::wstring Text(HWND dialog, int id) {
    return Text(Control(dialog, id));
}

void Click(HWND dialog, int id) {
    HWND button = Control(dialog, id);
    if (!IsWindowEnabled(button)) {
        throw Trouble("button " + std::to_string(id) + " is disabled");
    }
    SendMessageW(button, BM_CLICK, 0, 0);
}

void Press(HWND dialog, int id) {
    HWND button = Control(dialog, id);
    if (!IsWindowEnabled(button)) {
        throw Trouble("button " + std::to_string(id) + " is disabled");
    }
    PostMessageW(button, BM_CLICK, 0, 0);
}

void PressKey(HWND dialog, int id, UINT virtualKey) {
    HWND control = Control(dialog, id);
    UINT scan = MapVirtualKeyW(virtualKey, 0);
    PostMessageW(control, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
    PostMessageW(control, WM_KEYUP, virtualKey, 1 | (scan << 16) | 0xC0000000u);
}

bool Checked(HWND dialog, int id) {
    return SendMessageW(Control(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(Control(dialog, id)) != FALSE;
}

bool Exists(HWND dialog, int id) {
    return GetDlgItem(dialog, id) != nullptr;
}

void CloseEverything() {
    std::vector<HWND> dialogs;
    FindTop([&](HWND w) {
        if (IsDialog(w)) {
            dialogs.push_back(w);
        }
        return false;
    });
    for (HWND w : dialogs) {
        PostMessageW(w, WM_COMMAND, MAKEWPARAM(IsMessageBox(w) ? IDOK : IDCANCEL, BN_CLICKED), 0);
    }
}

std::vector<std::wstring> OpenWindows() {
    std::vector<std::wstring> open;
    FindTop([&](HWND w) {
        open.push_back(ClassOf(w) + L" '" + Text(w) + L"'");
        return false;
    });
    return open;
}

} // namespace ui_user
