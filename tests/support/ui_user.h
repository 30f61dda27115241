// A user at the screen, for tests of the monitor's dialogs. The test's own thread makes the call
// that shows the dialogs (AddPort, ConfigurePort, ...), as the spooler's thread would; a script
// on a second thread plays the user: it waits for a window, types into its fields, clicks check
// boxes and buttons, reads message boxes and dismisses them. Everything goes through window
// messages from outside, the way input reaches a dialog.
//
// A script step that does not find what it expects throws; the session then closes whatever is
// still open, so the call on the test's thread always comes back.
#pragma once

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ui_user {

// How long a user waits for a window to appear or go away before giving up.
const DWORD kPatienceMs = 15000;

// Thrown by a script step that does not find what it expects.
struct Trouble : std::runtime_error {
    explicit Trouble(const std::string& what) : std::runtime_error(what) {}
};

// Runs `call` on the calling thread while `script` runs on a thread of its own. Returns what
// went wrong in the script, or an empty text.
std::string RunSession(const std::function<void()>& call, const std::function<void()>& script);

// A visible dialog (class #32770) of this process with that caption.
HWND WaitForDialog(const std::wstring& caption, DWORD timeoutMs = kPatienceMs);
HWND FindDialog(const std::wstring& caption);
// A visible message box of this process (a dialog with the icon of a message box).
HWND WaitForMessageBox(DWORD timeoutMs = kPatienceMs);
HWND FindMessageBox();
// The "Conectándose..." box, if it is on screen.
HWND FindConnectingBox();
// Waits until the window is gone or hidden.
void WaitGone(HWND window, DWORD timeoutMs = kPatienceMs);

struct MessageSeen {
    std::wstring caption;
    std::wstring text;
};
MessageSeen ReadMessageBox(HWND box);
// Presses the box's OK button.
void DismissMessageBox(HWND box);
// Waits for a message box, reads it and dismisses it.
MessageSeen AnswerMessageBox();

// Selects everything in the field, deletes it, and types the text one character at a time (the
// field's typing limit applies, as it does to a person).
void Type(HWND dialog, int id, const std::wstring& text);
std::wstring Text(HWND window);
std::wstring Text(HWND dialog, int id);
// Clicks a check box and returns when the dialog has handled the click.
void Click(HWND dialog, int id);
// Clicks a push button without waiting: the dialog may open a message box on the click.
void Press(HWND dialog, int id);
// Presses a key in a control (key down and up, as posted keyboard input).
void PressKey(HWND dialog, int id, UINT virtualKey);
bool Checked(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
bool Exists(HWND dialog, int id);

// Closes every dialog and message box of this process (Cancel, or OK for a message box).
void CloseEverything();

// The visible top-level windows of this process, for diagnostics: "class 'caption'".
std::vector<std::wstring> OpenWindows();

// Text in UTF-8, for test messages.
std::string Utf8(const std::wstring& text);

} // namespace ui_user
