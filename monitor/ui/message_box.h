// The monitor's messages to the user: a text of the DLL's string table, formatted with "%s"
// arguments, in a message box.
#pragma once

#include "monitor/core/portable.h"

// Loads the text and the caption from the monitor DLL's string table, formats the text with the
// arguments (each a TCHAR text for one "%s") and shows it. Returns the message box's result, or
// 0 when a string cannot be loaded (nothing is shown then).
int ShowResourceMessage(HWND owner, UINT flags, UINT captionId, UINT textId, ...);

#ifdef NIMBREL_9X

// Every 15 s while a box is up it is brought to the front again: on Windows 95/98 a box shown
// from the spooler's process easily ends up behind the window that asked for it.
#define MESSAGE_BOX_FOREGROUND_MS 15000

// The box being watched on this thread, kept in the thread-local slot g_messageBoxTlsSlot while
// ShowResourceMessage waits for it.
struct MessageBoxWatch {
    HHOOK hook;       // the CBT hook, until the box's window has been created
    HWND box;         // the box's window
    UINT_PTR timerId; // the foreground timer, 0 until started
    UINT flags;       // the box's flags
};

// Remembers the first window created while it is installed (the box), removes itself and starts
// the foreground timer. Returns 0 for every code.
LRESULT CALLBACK MessageBoxCbtHook(int code, WPARAM wParam, LPARAM lParam);

// Brings the watched box to the foreground.
VOID CALLBACK MessageBoxForegroundTimer(HWND window, UINT message, UINT_PTR id, DWORD time);

#endif
