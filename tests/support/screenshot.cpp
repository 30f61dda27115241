#include "tests/support/screenshot.h"

#include <stdio.h>
#include <stdlib.h>

namespace {
const char* ScreenshotFolder() {
    const char* folder = getenv("NIMBREL_SCREENSHOT_DIR");
    return folder != nullptr && folder[0] != '\0' ? folder : nullptr;
}

// Runs a shell command line (Wine starts Unix programs named by their Unix path like any other
// program) and waits for it.
BOOL RunShell(const char* script) {
    char command[2048];
    int n = snprintf(command, sizeof command, "/bin/sh -c \"%s\"", script);
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

// "Z:\..." for a Unix path (Wine maps Z: to /).
void WindowsPathOfUnix(const char* unixPath, char* windowsPath, size_t size) {
    snprintf(windowsPath, size, "Z:%s", unixPath);
    for (char* p = windowsPath; *p != '\0'; ++p) {
        if (*p == '/') {
            *p = '\\';
        }
    }
}

} // namespace

BOOL SaveWindowScreenshot(HWND window, const char* name) {
    const char* folder = ScreenshotFolder();
    if (folder == nullptr) {
        return TRUE;
    }
    char png[1024];
    snprintf(png, sizeof png, "%s/%s.png", folder, name);
    char pngWindows[1100];
    WindowsPathOfUnix(png, pngWindows, sizeof pngWindows);
    DeleteFileA(pngWindows); // a picture of an earlier run must not pass for this one
    // Wine keeps the X window of each top-level window in this property; reading that window
    // alone avoids reading the whole screen, which Xvfb sometimes refuses.
    auto xWindow = reinterpret_cast<ULONG_PTR>(GetPropA(window, "__wine_x11_whole_window"));
    for (int attempt = 0; attempt < 5; ++attempt) {
        // Let the window finish painting before it is read.
        Sleep(700);
        char script[1536];
        int n;
        if (xWindow != 0) {
            n = snprintf(script, sizeof script, "xwd -id 0x%lx -silent | convert xwd:- '%s'",
                         static_cast<unsigned long>(xWindow), png);
        } else {
            RECT rect;
            if (!GetWindowRect(window, &rect)) {
                return FALSE;
            }
            n = snprintf(script, sizeof script,
                         "xwd -root -silent | convert xwd:- -crop %ldx%ld+%ld+%ld +repage '%s'",
                         rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top, png);
        }
        if (n < 0 || static_cast<size_t>(n) >= sizeof script || !RunShell(script)) {
            return FALSE;
        }
        if (GetFileAttributesA(pngWindows) != INVALID_FILE_ATTRIBUTES) {
            return TRUE;
        }
    }
    return FALSE;
}
