// Finding and driving the dialogs and message boxes that code under test shows, from another
// thread or from another process of the same Wine desktop (the tests run under Xvfb).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// How long a test waits for a window before it gives up (a hang must not block the run).
const DWORD DIALOG_WAIT_MS = 30000;

// What a message box showed.
struct ShownMessageBox {
    std::wstring caption;
    std::wstring text;
    int buttonCount; // push buttons in the box
    BOOL owned;      // the box has an owner window
    BOOL hasIcon;    // the box's icon control (id 1088) is there
    HICON icon;      // its icon (comparable with LoadIcon only in the box's own process)
};

// A visible top-level dialog (#32770) with exactly this caption; nullptr when none shows within
// timeoutMs.
HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs = DIALOG_WAIT_MS);

// Any visible top-level dialog (#32770) of another thread or process, or nullptr.
HWND FindAnyDialog();

// True when the window is a message box with an icon: a dialog with the box's text control
// (id 0xFFFF) and its icon control (id 1088).
BOOL IsMessageBox(HWND dialog);
ShownMessageBox ReadMessageBox(HWND box);

std::wstring WindowTextOf(HWND window);
std::wstring ItemTextOf(HWND dialog, int id);

// Types into an edit control and presses a button, as a user would (posted, so a dialog of
// another thread handles them in its own loop).
void SetItemTextOf(HWND dialog, int id, const wchar_t* text);
void PressButton(HWND dialog, int id);

// Waits until the window is gone; FALSE after timeoutMs.
BOOL WaitUntilGone(HWND window, DWORD timeoutMs = DIALOG_WAIT_MS);

// A thread that answers every message box it sees with OK and records what it showed. Set a
// screenshot name before the call that shows a box to keep a picture of it (see screenshot.h).
class MessageBoxCatcher {
  public:
    MessageBoxCatcher();
    ~MessageBoxCatcher();
    MessageBoxCatcher(const MessageBoxCatcher&) = delete;
    MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;

    // The boxes answered since the last call, oldest first.
    std::vector<ShownMessageBox> Take();
    // The next box answered is also saved as NAME.png.
    void ScreenshotNext(const char* name);

  private:
    static DWORD WINAPI Run(void* self);
    void Loop();

    HANDLE thread_;
    HANDLE stop_;
    CRITICAL_SECTION lock_;
    std::vector<ShownMessageBox> boxes_;
    std::string screenshotName_;
};
