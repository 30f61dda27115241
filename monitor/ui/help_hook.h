// F1 in the monitor's dialogs (nimmonnt only): a message-filter hook posts the spooler's
// "Print Manager Help Message" to the dialog and swallows the key.
#pragma once

#include "monitor/core/portable.h"

#ifndef NIMBREL_9X

// The registered number of "Print Manager Help Message"; 0 until the first dialog starts.
extern UINT g_helpMessageId;
// The hook installed last.
extern HHOOK g_helpHook;

// Installs the hook for the calling thread (registering the help message once). The window is
// not used.
void InstallHelpHook(HWND window);
// Removes the hook installed last. The window is not used.
void RemoveHelpHook(HWND window);

LRESULT CALLBACK HelpHookProc(int code, WPARAM wParam, LPARAM lParam);

// The top-level window of a window: its first ancestor (through GWL_HWNDPARENT) that is not a
// child window.
HWND FindTopLevelWindow(HWND window);

#endif
