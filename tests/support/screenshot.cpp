#include "tests/support/screenshot.h"

#include <stdio.h>
#include <stdlib.h>

BOOL SaveWindowScreenshot(HWND window, const char* name) {
    const char* folder = getenv("NIMBREL_SCREENSHOT_DIR");
    if (folder == nullptr || folder[0] == '\0') {
        return TRUE;
    }
    // Let the window finish painting before the screen is read.
    Sleep(700);
    RECT rect;
    if (!GetWindowRect(window, &rect)) {
        return FALSE;
    }
    char command[2048];
    // Wine starts a Unix program named by its Unix path like any other process.
    int n = snprintf(command, sizeof command,
                     "/bin/sh -c \"xwd -root -silent | convert xwd:- -crop %ldx%ld+%ld+%ld "
                     "+repage '%s/%s.png'\"",
                     rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top, folder,
                     name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof command) {
        return FALSE;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return FALSE;
    }
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return TRUE;
}
