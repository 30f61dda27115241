// nimuninst-host: runs the uninstall check as the product's uninstaller would and prints what the
// two entries returned. Exit code 0 when the removal may go on, 1 when it must stop, 2 when the
// DLL could not be used.
//   nimuninst-host [PATH\nimuninst.dll]
#include "hosts/uninstaller/uninstaller_host.h"

#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
    const wchar_t* dllPath = argc > 1 ? argv[1] : L"nimuninst.dll";
    UninstallerRun run{};
    if (!RunUninstallCheck(dllPath, &run)) {
        fprintf(stderr, "cannot use %ls: error %lu\n", dllPath, GetLastError());
        return 2;
    }
    printf("UninstInitialize: %ld\nUninstUnInitialize: %ld\n", run.initializeResult,
           run.unInitializeResult);
    return run.initializeResult == 0 ? 0 : 1;
}
