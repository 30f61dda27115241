#include "hosts/win9x/monitor9x_host.h"

#include <string.h>

typedef BOOL(WINAPI* InitializeMonitorExFn)(LPSTR registryRoot, MonitorTable9x* monitor);

BOOL LoadMonitor9x(const wchar_t* dllPath, Monitor9xHost* host) {
    memset(host, 0, sizeof *host);
    memset(&host->table, MONITOR9X_UNWRITTEN_BYTE, sizeof host->table);
    host->module = LoadLibraryW(dllPath);
    if (host->module == nullptr) {
        return FALSE;
    }
    auto initialize = reinterpret_cast<InitializeMonitorExFn>(
        reinterpret_cast<void*>(GetProcAddress(host->module, "InitializeMonitorEx")));
    if (initialize == nullptr) {
        FreeLibrary(host->module);
        host->module = nullptr;
        return FALSE;
    }
    char registryRoot[] = "System\\CurrentControlSet\\Control\\Print\\Monitors\\ORVIK IPP Port";
    host->socketsStarted = initialize(registryRoot, &host->table);
    return TRUE;
}

void UnloadMonitor9x(Monitor9xHost* host) {
    if (host->module != nullptr) {
        FreeLibrary(host->module);
        host->module = nullptr;
    }
}
