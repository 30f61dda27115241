// A stand-in for the spooler services the monitor calls, recording every call so tests can check
// what the monitor passed.
#pragma once

#include "monitor/core/spooler_services.h"

#include <string>
#include <vector>

typedef std::basic_string<TCHAR> tstring;

struct SpoolerCall {
    enum Kind { OPEN_PRINTER, SET_JOB, CLOSE_PRINTER, SET_PORT, SET_PRINTER } kind;
    tstring printerName;   // OpenPrinter ("<null>" when the monitor passed none)
    std::wstring portName; // SetPortW
    HANDLE handle;
    DWORD jobId;
    DWORD level;
    DWORD command; // SetJob, SetPrinter
    DWORD status;  // SetPortW dwStatus; SetPrinterA status value
    DWORD severity;
    DWORD access; // OpenPrinter desired access
};

namespace fake_spooler {

void Install();
void Remove();

std::vector<SpoolerCall> Calls();
void Clear();
// Calls of one kind, in order.
std::vector<SpoolerCall> CallsOf(SpoolerCall::Kind kind);

// OpenPrinter fails with this last error from now on (0: succeeds, the default).
void FailOpenPrinter(DWORD error);
// Printer handles the fake has handed out and not yet seen closed.
int OpenHandles();

} // namespace fake_spooler

class FakeSpoolerScope {
  public:
    FakeSpoolerScope() { fake_spooler::Install(); }
    ~FakeSpoolerScope() { fake_spooler::Remove(); }
    FakeSpoolerScope(const FakeSpoolerScope&) = delete;
    FakeSpoolerScope& operator=(const FakeSpoolerScope&) = delete;
};
