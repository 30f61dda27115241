#include "monitor/ui/help_hook.h"

#ifndef NIMBREL_9X

#include "monitor/core/monitor_globals.h"

UINT g_helpMessageId = 0;
HHOOK g_helpHook = nullptr;

namespace {
// Deeper nesting than this is no dialog of ours; the walk stops rather than loop on a cycle.
const int MAX_PARENT_STEPS = 64;
} // namespace

HWND FindTopLevelWindow(HWND window) {
    for (int step = 0; window != nullptr && step < MAX_PARENT_STEPS; ++step) {
        if ((GetWindowLongPtr(window, GWL_STYLE) & WS_CHILD) == 0) {
            break;
        }
        window = reinterpret_cast<HWND>(GetWindowLongPtr(window, GWLP_HWNDPARENT));
    }
    return window;
}

void InstallHelpHook(HWND) {
    if (g_helpMessageId == 0) {
        g_helpMessageId = RegisterWindowMessage(TEXT("Print Manager Help Message"));
    }
    HHOOK hook =
        SetWindowsHookEx(WH_MSGFILTER, HelpHookProc, g_monitorInstance, GetCurrentThreadId());
    InterlockedExchangePointer(reinterpret_cast<PVOID*>(&g_helpHook), hook);
}

void RemoveHelpHook(HWND) {
    auto hook = static_cast<HHOOK>(
        InterlockedExchangePointer(reinterpret_cast<PVOID*>(&g_helpHook), nullptr));
    if (hook != nullptr) {
        UnhookWindowsHookEx(hook);
    }
}

LRESULT CALLBACK HelpHookProc(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    HWND top = message != nullptr ? FindTopLevelWindow(message->hwnd) : nullptr;
    if (code < 0) {
        return CallNextHookEx(g_helpHook, code, wParam, lParam);
    }
    if (code == MSGF_DIALOGBOX && message != nullptr && message->message == WM_KEYDOWN &&
        message->wParam == VK_F1) {
        PostMessage(top, g_helpMessageId, reinterpret_cast<WPARAM>(message->hwnd), 0);
        return TRUE; // the key has no other effect
    }
    return FALSE;
}

#endif
