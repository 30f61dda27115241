#include "tests/support/fake_spooler.h"

namespace fake_spooler {
namespace {

CRITICAL_SECTION g_lock;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
std::vector<SpoolerCall> g_calls;
DWORD g_openError = 0;
int g_openHandles = 0;
uintptr_t g_nextHandle = 0x1000;

BOOL CALLBACK InitLock(PINIT_ONCE, PVOID, PVOID*) {
    InitializeCriticalSection(&g_lock);
    return TRUE;
}

struct Guard {
    Guard() {
        InitOnceExecuteOnce(&g_once, InitLock, nullptr, nullptr);
        EnterCriticalSection(&g_lock);
    }
    ~Guard() { LeaveCriticalSection(&g_lock); }
};

SpoolerCall Blank(SpoolerCall::Kind kind) {
    SpoolerCall call{};
    call.kind = kind;
    return call;
}

BOOL WINAPI FakeOpenPrinter(LPTSTR name, LPHANDLE printer, LPPRINTER_DEFAULTS defaults) {
    Guard guard;
    SpoolerCall call = Blank(SpoolerCall::OPEN_PRINTER);
    call.printerName = name ? tstring(name) : tstring(TEXT("<null>"));
    call.access = defaults ? defaults->DesiredAccess : 0;
    if (g_openError != 0) {
        g_calls.push_back(call);
        SetLastError(g_openError);
        return FALSE;
    }
    call.handle = reinterpret_cast<HANDLE>(g_nextHandle++);
    *printer = call.handle;
    ++g_openHandles;
    g_calls.push_back(call);
    return TRUE;
}

BOOL WINAPI FakeSetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE, DWORD command) {
    Guard guard;
    SpoolerCall call = Blank(SpoolerCall::SET_JOB);
    call.handle = printer;
    call.jobId = jobId;
    call.level = level;
    call.command = command;
    g_calls.push_back(call);
    return TRUE;
}

BOOL WINAPI FakeClosePrinter(HANDLE printer) {
    Guard guard;
    SpoolerCall call = Blank(SpoolerCall::CLOSE_PRINTER);
    call.handle = printer;
    --g_openHandles;
    g_calls.push_back(call);
    return TRUE;
}

BOOL WINAPI FakeSetPortW(LPWSTR, LPWSTR port, DWORD level, LPBYTE info) {
    Guard guard;
    SpoolerCall call = Blank(SpoolerCall::SET_PORT);
    call.portName = port ? std::wstring(port) : std::wstring(L"<null>");
    call.level = level;
    if (info != nullptr && level == 3) {
        auto* status = reinterpret_cast<PORT_INFO_3W*>(info);
        call.status = status->dwStatus;
        call.severity = status->dwSeverity;
    }
    g_calls.push_back(call);
    return TRUE;
}

BOOL WINAPI FakeSetPrinterA(HANDLE printer, DWORD level, LPBYTE info, DWORD command) {
    Guard guard;
    SpoolerCall call = Blank(SpoolerCall::SET_PRINTER);
    call.handle = printer;
    call.level = level;
    call.command = command;
    call.status = static_cast<DWORD>(reinterpret_cast<uintptr_t>(info));
    g_calls.push_back(call);
    return TRUE;
}

const SpoolerServices kFake = {FakeOpenPrinter, FakeSetJob, FakeClosePrinter, FakeSetPortW,
                               FakeSetPrinterA};

} // namespace

void Install() {
    {
        Guard guard;
        g_calls.clear();
        g_openError = 0;
        g_openHandles = 0;
    }
    SpoolerInstall(&kFake);
}

void Remove() {
    SpoolerInstall(nullptr);
}

std::vector<SpoolerCall> Calls() {
    Guard guard;
    return g_calls;
}

void Clear() {
    Guard guard;
    g_calls.clear();
}

std::vector<SpoolerCall> CallsOf(SpoolerCall::Kind kind) {
    Guard guard;
    std::vector<SpoolerCall> result;
    for (const SpoolerCall& call : g_calls) {
        if (call.kind == kind) {
            result.push_back(call);
        }
    }
    return result;
}

void FailOpenPrinter(DWORD error) {
    Guard guard;
    g_openError = error;
}

int OpenHandles() {
    Guard guard;
    return g_openHandles;
}

} // namespace fake_spooler
