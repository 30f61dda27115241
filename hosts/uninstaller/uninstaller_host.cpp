#include "hosts/uninstaller/uninstaller_host.h"

namespace {
typedef LONG(WINAPI* UninstEntryFn)(void);

UninstEntryFn FindEntry(HMODULE module, const char* name) {
    return reinterpret_cast<UninstEntryFn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
} // namespace

BOOL RunUninstallCheck(const wchar_t* dllPath, UninstallerRun* run) {
    HMODULE module = LoadLibraryW(dllPath);
    if (module == nullptr) {
        return FALSE;
    }
    UninstEntryFn initialize = FindEntry(module, "UninstInitialize");
    UninstEntryFn unInitialize = FindEntry(module, "UninstUnInitialize");
    if (initialize == nullptr || unInitialize == nullptr) {
        FreeLibrary(module);
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    run->initializeResult = initialize();
    run->unInitializeResult = unInitialize();
    FreeLibrary(module);
    return TRUE;
}
