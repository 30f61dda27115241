// The least of an application frame that the setup program needs, in place of a class library:
// one application object whose start-up step does the program's work, and a modal dialog on a
// dialog resource. Narrow-character interfaces (the program is for Windows 95/98).
#pragma once

#include <windows.h>

// The program's one application object: construct exactly one, at namespace scope. The frame's
// WinMain runs its start-up step and ends the program with the exit code of ExitInstance.
class Application {
  public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The start-up step. The frame has no message loop: whatever the step reports, the program
    // ends when it returns (FALSE reports failure, as the setup program always does).
    virtual BOOL InitInstance() = 0;
    // The exit code. No step here sets one of its own: 0.
    virtual int ExitInstance() { return 0; }

    // The three-dimensional look for dialog controls. Every system this program runs on draws
    // dialog controls that way already; nothing is left to turn on.
    void Enable3dControls() {}

    HINSTANCE Instance() const { return instance_; }

    // Called by WinMain.
    int Run(HINSTANCE instance);

  private:
    HINSTANCE instance_;
};

// A modal dialog on a dialog resource of the program. By default OK (IDOK) ends it with IDOK,
// Cancel (IDCANCEL, also the close box) with IDCANCEL, and it opens centred on the screen.
class ModalDialog {
  public:
    explicit ModalDialog(UINT templateId);
    virtual ~ModalDialog();
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // Runs the dialog without an owner window. Its end code, or -1 when it could not be made.
    INT_PTR DoModal();

  protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    HWND Window() const { return window_; }

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND window_;
};

// The application object of the running program, or nullptr.
Application* CurrentApplication();
