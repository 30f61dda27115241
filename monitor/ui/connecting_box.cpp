#include "monitor/ui/connecting_box.h"

#include "monitor/ui/help_hook.h"

#ifndef NIMBREL_9X

INT_PTR CALLBACK ConnectingBoxProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InstallHelpHook(dialog);
        return TRUE;
    case WM_DESTROY:
        RemoveHelpHook(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

#else

// The Windows 95/98 box has no help hook: it leaves every message to the system.
INT_PTR CALLBACK ConnectingBoxProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

#endif
