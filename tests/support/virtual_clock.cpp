#include "tests/support/virtual_clock.h"

namespace virtual_clock {
namespace {

CRITICAL_SECTION g_lock;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
uint64_t g_nowMs = 0;
DWORD g_realSlice = 20;
DWORD g_socketTimeout = 300;
std::vector<DWORD> g_sleeps;
std::vector<DWORD> g_objectWaits;
std::vector<DWORD> g_readableWaits;

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

DWORD RealSlice(DWORD ms) {
    Guard guard;
    return ms < g_realSlice ? ms : g_realSlice;
}

void VirtualSleep(DWORD ms) {
    {
        Guard guard;
        g_sleeps.push_back(ms);
        g_nowMs += ms;
    }
    Sleep(0);
}

DWORD VirtualNowSeconds() {
    Guard guard;
    return static_cast<DWORD>(g_nowMs / 1000);
}

DWORD VirtualWaitObject(HANDLE handle, DWORD ms) {
    {
        Guard guard;
        g_objectWaits.push_back(ms);
    }
    if (WaitForSingleObject(handle, RealSlice(ms)) == WAIT_OBJECT_0) {
        return WAIT_OBJECT_0;
    }
    Guard guard;
    g_nowMs += ms;
    return WAIT_TIMEOUT;
}

int VirtualWaitReadable(SOCKET socket, DWORD ms) {
    {
        Guard guard;
        g_readableWaits.push_back(ms);
    }
    int ready = ClockReal()->waitReadable(socket, RealSlice(ms));
    if (ready == 0) {
        Guard guard;
        g_nowMs += ms;
    }
    return ready;
}

DWORD VirtualSocketTimeout(DWORD) {
    Guard guard;
    return g_socketTimeout;
}

const ClockOps kVirtualClock = {VirtualSleep, VirtualNowSeconds, VirtualWaitObject,
                                VirtualWaitReadable, VirtualSocketTimeout};

} // namespace

void Install() {
    {
        Guard guard;
        g_nowMs = 0;
        g_realSlice = 20;
        g_socketTimeout = 300;
        g_sleeps.clear();
        g_objectWaits.clear();
        g_readableWaits.clear();
    }
    ClockInstall(&kVirtualClock);
}

void Remove() { ClockInstall(nullptr); }

uint64_t NowMs() {
    Guard guard;
    return g_nowMs;
}

void Advance(uint64_t ms) {
    Guard guard;
    g_nowMs += ms;
}

std::vector<DWORD> Sleeps() {
    Guard guard;
    return g_sleeps;
}

std::vector<DWORD> ObjectWaits() {
    Guard guard;
    return g_objectWaits;
}

std::vector<DWORD> ReadableWaits() {
    Guard guard;
    return g_readableWaits;
}

void SetRealSlice(DWORD ms) {
    Guard guard;
    g_realSlice = ms;
}

void SetSocketTimeout(DWORD ms) {
    Guard guard;
    g_socketTimeout = ms;
}

} // namespace virtual_clock
