// Pictures of windows for the documentation. Only when NIMBREL_SCREENSHOT_DIR names a folder
// (Unix path): the X screen is read with xwd and the window's rectangle kept as a PNG there.
#pragma once

#include <windows.h>

// Does nothing and returns TRUE when no folder is set; FALSE when the picture could not be made.
BOOL SaveWindowScreenshot(HWND window, const char* name);
