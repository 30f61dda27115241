#include "monitor/ui/message_box.h"

#include <stdarg.h>

#include "monitor/core/monitor_entry.h"
#include "monitor/core/monitor_globals.h"
#include "monitor/core/text.h"

namespace {

// Longest caption loaded, in characters.
const int CAPTION_CHARS = 1024;

#ifndef NIMBREL_9X

// Longest text template loaded, and the formatted text, in characters. wvsprintf writes at
// most 1024 characters, terminator included, so the formatted text always fits.
const int TEXT_CHARS = 2048;

int ShowFormatted(HWND owner, UINT flags, UINT captionId, UINT textId, va_list args) {
    TCHAR text[TEXT_CHARS];
    TCHAR caption[CAPTION_CHARS];
    if (LoadString(g_monitorInstance, textId, text, TEXT_CHARS) == 0 ||
        LoadString(g_monitorInstance, captionId, caption, CAPTION_CHARS) == 0) {
        return 0;
    }
    TCHAR formatted[TEXT_CHARS] = {};
    wvsprintf(formatted, text, args);
    formatted[TEXT_CHARS - 1] = 0;
    return MessageBox(owner, formatted, caption, flags);
}

#else

// The Windows 95/98 build works with larger buffers; the formatted text is allocated.
const int TEXT_CHARS = 8192;

// Shows the box; unless it is system-modal, a MessageBoxWatch in the thread-local slot keeps
// it in front while it is up.
int ShowWatched(HWND owner, const char* text, const char* caption, UINT flags) {
    BOOL watching = (flags & MB_SYSTEMMODAL) == 0 && g_messageBoxTlsSlot != TLS_OUT_OF_INDEXES;
    if (!watching) {
        return MessageBoxA(owner, text, caption, flags);
    }
    MessageBoxWatch watch = {nullptr, nullptr, 0, flags};
    // A box shown while another one of this thread is up (from a window procedure behind it)
    // watches its own box; the outer watch comes back afterwards.
    void* outer = TlsGetValue(g_messageBoxTlsSlot);
    TlsSetValue(g_messageBoxTlsSlot, &watch);
    watch.hook = SetWindowsHookExA(WH_CBT, MessageBoxCbtHook, nullptr, GetCurrentThreadId());

    int result = MessageBoxA(owner, text, caption, flags);

    DWORD error = GetLastError();
    if (watch.hook != nullptr) {
        UnhookWindowsHookEx(watch.hook); // the box never came up
    }
    if (watch.timerId != 0) {
        KillTimer(nullptr, watch.timerId);
    }
    TlsSetValue(g_messageBoxTlsSlot, outer);
    SetLastError(error);
    return result;
}

int ShowFormatted(HWND owner, UINT flags, UINT captionId, UINT textId, va_list args) {
    char* formatted = static_cast<char*>(MonitorAlloc(TEXT_CHARS));
    if (formatted == nullptr) {
        return 0;
    }
    struct Free {
        char* p;
        ~Free() { MonitorFree(p); }
    } freeText{formatted};

    char text[TEXT_CHARS];
    char caption[CAPTION_CHARS];
    if (LoadStringA(g_monitorInstance, textId, text, TEXT_CHARS) == 0 ||
        LoadStringA(g_monitorInstance, captionId, caption, CAPTION_CHARS) == 0) {
        return 0;
    }
    wvsprintfA(formatted, text, args);
    formatted[TEXT_CHARS - 1] = '\0';
    AppendText(formatted, TEXT_CHARS, "\n");
    return ShowWatched(owner, formatted, caption, flags);
}

#endif

} // namespace

int ShowResourceMessage(HWND owner, UINT flags, UINT captionId, UINT textId, ...) {
    va_list args;
    va_start(args, textId);
    int result = ShowFormatted(owner, flags, captionId, textId, args);
    va_end(args);
    return result;
}

#ifdef NIMBREL_9X

LRESULT CALLBACK MessageBoxCbtHook(int code, WPARAM wParam, LPARAM) {
    auto* watch = static_cast<MessageBoxWatch*>(TlsGetValue(g_messageBoxTlsSlot));
    if (watch == nullptr || code != HCBT_CREATEWND || watch->box != nullptr) {
        return 0;
    }
    // The first window created is the box itself; its buttons and texts come after it.
    watch->box = reinterpret_cast<HWND>(wParam);
    if (watch->hook != nullptr) {
        UnhookWindowsHookEx(watch->hook);
        watch->hook = nullptr;
    }
    watch->timerId = SetTimer(nullptr, 0, MESSAGE_BOX_FOREGROUND_MS, MessageBoxForegroundTimer);
    return 0;
}

VOID CALLBACK MessageBoxForegroundTimer(HWND, UINT, UINT_PTR, DWORD) {
    auto* watch = static_cast<MessageBoxWatch*>(TlsGetValue(g_messageBoxTlsSlot));
    if (watch != nullptr && watch->box != nullptr) {
        SetForegroundWindow(watch->box);
    }
}

#endif
