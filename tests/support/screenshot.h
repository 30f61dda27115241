// Pictures of windows for the documentation. Only when NIMBREL_SCREENSHOT_DIR names a folder
// (Unix path): the X screen is read with xwd and the window's rectangle kept as a PNG there.
// tests/tools/wine-run then has Wine draw window frames and captions itself, as Xvfb has no
// window manager to draw them.
#pragma once

#include <windows.h>

// Does nothing and returns TRUE when no folder is set; FALSE when the picture could not be made.
BOOL SaveWindowScreenshot(HWND window, const char* name);
