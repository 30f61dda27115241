#include "monitor/core/spooler_services.h"

namespace {

BOOL WINAPI RealOpenPrinter(LPTSTR name, LPHANDLE printer, LPPRINTER_DEFAULTS defaults) {
#ifdef NIMBREL_9X
    return OpenPrinterA(name, printer, defaults);
#else
    return OpenPrinterW(name, printer, defaults);
#endif
}

BOOL WINAPI RealSetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command) {
#ifdef NIMBREL_9X
    return SetJobA(printer, jobId, level, job, command);
#else
    return SetJobW(printer, jobId, level, job, command);
#endif
}

BOOL WINAPI RealClosePrinter(HANDLE printer) {
    return ClosePrinter(printer);
}

// Wine's spooler exports SetPortW as a stub that aborts the calling process, which would take the
// spooler down with the monitor. There the status is kept to the monitor (and its tests, which
// observe it through their own services).
bool SpoolerHasSetPort() {
    static const bool hasSetPort =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
    return hasSetPort;
}

BOOL WINAPI RealSetPortW(LPWSTR server, LPWSTR port, DWORD level, LPBYTE info) {
    if (!SpoolerHasSetPort()) {
        return TRUE;
    }
    return SetPortW(server, port, level, info);
}

BOOL WINAPI RealSetPrinterA(HANDLE printer, DWORD level, LPBYTE info, DWORD command) {
    return SetPrinterA(printer, level, info, command);
}

const SpoolerServices kRealSpooler = {RealOpenPrinter, RealSetJob, RealClosePrinter, RealSetPortW,
                                      RealSetPrinterA};

const SpoolerServices* g_spooler = &kRealSpooler;

} // namespace

const SpoolerServices* Spooler(void) {
    return __atomic_load_n(&g_spooler, __ATOMIC_ACQUIRE);
}

const SpoolerServices* SpoolerInstall(const SpoolerServices* services) {
    return __atomic_exchange_n(&g_spooler, services ? services : &kRealSpooler, __ATOMIC_ACQ_REL);
}
