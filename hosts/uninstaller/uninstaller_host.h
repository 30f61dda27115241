// The product uninstaller's side of nimuninst.dll: load it, call UninstInitialize by name, and
// call UninstUnInitialize before unloading it. (The real uninstaller is not part of Nimbrel.)
#pragma once

#include <windows.h>

struct UninstallerRun {
    LONG initializeResult;   // 0: removal may go on; -1: stop
    LONG unInitializeResult; // always 0
};

// FALSE (last error set) when the DLL cannot be loaded or lacks one of the two exports; the
// exports are then not called.
BOOL RunUninstallCheck(const wchar_t* dllPath, UninstallerRun* run);
