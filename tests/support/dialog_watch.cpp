#include "tests/support/dialog_watch.h"

#include "tests/support/screenshot.h"

namespace {

const DWORD POLL_MS = 20;
const int MESSAGE_BOX_TEXT_ID = 0xFFFF;
const int MESSAGE_BOX_ICON_ID = 1088;

BOOL IsDialogClass(HWND window) {
    wchar_t className[64];
    return GetClassNameW(window, className, 64) > 0 && lstrcmpW(className, L"#32770") == 0;
}

struct DialogSearch {
    const wchar_t* caption; // nullptr: any
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    if (!IsWindowVisible(window) || !IsDialogClass(window)) {
        return TRUE;
    }
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        return TRUE;
    }
    if (search->caption != nullptr && WindowTextOf(window) != search->caption) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

BOOL CALLBACK CountButton(HWND child, LPARAM param) {
    wchar_t className[16];
    if (GetClassNameW(child, className, 16) > 0 && lstrcmpiW(className, L"Button") == 0) {
        ++*reinterpret_cast<int*>(param);
    }
    return TRUE;
}

} // namespace

HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += POLL_MS) {
        DialogSearch search{caption, nullptr};
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr || waited >= timeoutMs) {
            return search.found;
        }
        Sleep(POLL_MS);
    }
}

HWND FindAnyDialog() {
    DialogSearch search{nullptr, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL IsMessageBox(HWND dialog) {
    // Dialogs of our own may have static texts with id -1 too; the icon tells them apart.
    return GetDlgItem(dialog, MESSAGE_BOX_TEXT_ID) != nullptr &&
           GetDlgItem(dialog, MESSAGE_BOX_ICON_ID) != nullptr;
}

ShownMessageBox ReadMessageBox(HWND box) {
    ShownMessageBox shown{};
    shown.caption = WindowTextOf(box);
    shown.text = ItemTextOf(box, MESSAGE_BOX_TEXT_ID);
    EnumChildWindows(box, CountButton, reinterpret_cast<LPARAM>(&shown.buttonCount));
    HWND icon = GetDlgItem(box, MESSAGE_BOX_ICON_ID);
    shown.owned = GetWindow(box, GW_OWNER) != nullptr;
    shown.hasIcon = icon != nullptr;
    if (icon != nullptr) {
        shown.icon = reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0));
    }
    return shown;
}

std::wstring WindowTextOf(HWND window) {
    wchar_t text[4096];
    DWORD_PTR length = 0;
    // WM_GETTEXT reaches controls of another process, where GetWindowText does not; a window
    // that stopped answering gives the empty text instead of a hung test.
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 5000, &length)) {
        return std::wstring();
    }
    return std::wstring(text, length < 4096 ? static_cast<size_t>(length) : 0);
}

std::wstring ItemTextOf(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr ? WindowTextOf(item) : std::wstring();
}

void SetItemTextOf(HWND dialog, int id, const wchar_t* text) {
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void PressButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

BOOL WaitUntilGone(HWND window, DWORD timeoutMs) {
    for (DWORD waited = 0; IsWindow(window); waited += POLL_MS) {
        if (waited >= timeoutMs) {
            return FALSE;
        }
        Sleep(POLL_MS);
    }
    return TRUE;
}

MessageBoxCatcher::MessageBoxCatcher() {
    InitializeCriticalSection(&lock_);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

MessageBoxCatcher::~MessageBoxCatcher() {
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(stop_);
    DeleteCriticalSection(&lock_);
}

std::vector<ShownMessageBox> MessageBoxCatcher::Take() {
    EnterCriticalSection(&lock_);
    std::vector<ShownMessageBox> boxes;
    boxes.swap(boxes_);
    LeaveCriticalSection(&lock_);
    return boxes;
}

void MessageBoxCatcher::ScreenshotNext(const char* name) {
    EnterCriticalSection(&lock_);
    screenshotName_ = name;
    LeaveCriticalSection(&lock_);
}

DWORD WINAPI MessageBoxCatcher::Run(void* self) {
    static_cast<MessageBoxCatcher*>(self)->Loop();
    return 0;
}

void MessageBoxCatcher::Loop() {
    while (WaitForSingleObject(stop_, POLL_MS) == WAIT_TIMEOUT) {
        HWND box = FindAnyDialog();
        if (box == nullptr || !IsMessageBox(box)) {
            continue;
        }
        ShownMessageBox shown = ReadMessageBox(box);
        EnterCriticalSection(&lock_);
        std::string screenshot;
        screenshot.swap(screenshotName_);
        LeaveCriticalSection(&lock_);
        if (!screenshot.empty()) {
            SaveWindowScreenshot(box, screenshot.c_str());
        }
        EnterCriticalSection(&lock_);
        boxes_.push_back(shown);
        LeaveCriticalSection(&lock_);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitUntilGone(box);
    }
}
