#include "setup/app_frame.h"

namespace {
Application* g_application = nullptr;

void CenterOnScreen(HWND window) {
    RECT area;
    RECT rect;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0) || !GetWindowRect(window, &rect)) {
        return;
    }
    LONG width = rect.right - rect.left;
    LONG height = rect.bottom - rect.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
} // namespace

Application::Application() : instance_(nullptr) {
    g_application = this;
}

Application::~Application() {
    if (g_application == this) {
        g_application = nullptr;
    }
}

int Application::Run(HINSTANCE instance) {
    instance_ = instance;
    InitInstance();
    return ExitInstance();
}

Application* CurrentApplication() {
    return g_application;
}

ModalDialog::ModalDialog(UINT templateId) : templateId_(templateId), window_(nullptr) {}

ModalDialog::~ModalDialog() = default;

INT_PTR ModalDialog::DoModal() {
    HINSTANCE instance = g_application != nullptr ? g_application->Instance() : nullptr;
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId_), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

BOOL ModalDialog::OnInitDialog() {
    CenterOnScreen(window_);
    return TRUE; // the default button gets the focus
}

void ModalDialog::OnOK() {
    EndDialog(window_, IDOK);
}

void ModalDialog::OnCancel() {
    EndDialog(window_, IDCANCEL);
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<ModalDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        dialog->window_ = window;
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<ModalDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (dialog == nullptr || message != WM_COMMAND) {
        return FALSE;
    }
    switch (LOWORD(wParam)) {
    case IDOK:
        dialog->OnOK();
        return TRUE;
    case IDCANCEL: // the Cancel button, the close box and Esc
        dialog->OnCancel();
        return TRUE;
    default:
        return FALSE;
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    Application* application = CurrentApplication();
    return application != nullptr ? application->Run(instance) : -1;
}
