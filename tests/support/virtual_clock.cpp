#include "tests/support/virtual_clock.h"

namespace virtual_clock {
namespace {

CRITICAL_SECTION g_lock;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
uint64_t g_nowMs = 0;
DWORD g_realSlice = 20;
DWORD g_socketTimeout = 300;
DWORD g_readableSlice = 0; // 0: the real slice
bool g_hold = false;
HANDLE g_releases = nullptr; // semaphore: one count per released object wait
// Bound of a held wait in real time.
const DWORD HOLD_LIMIT_MS = 60000;
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
    bool hold;
    HANDLE releases;
    {
        Guard guard;
        g_objectWaits.push_back(ms);
        hold = g_hold;
        releases = g_releases;
    }
    if (hold && releases != nullptr) {
        // The handle first: a signal that comes with a release is still seen as a signal.
        HANDLE both[2] = {handle, releases};
        if (WaitForMultipleObjects(2, both, FALSE, HOLD_LIMIT_MS) == WAIT_OBJECT_0) {
            return WAIT_OBJECT_0;
        }
    } else if (WaitForSingleObject(handle, RealSlice(ms)) == WAIT_OBJECT_0) {
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
    DWORD slice;
    {
        Guard guard;
        slice = g_readableSlice != 0 ? (ms < g_readableSlice ? ms : g_readableSlice) : 0;
    }
    int ready = ClockReal()->waitReadable(socket, slice != 0 ? slice : RealSlice(ms));
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
        g_readableSlice = 0;
        g_hold = false;
        if (g_releases != nullptr) {
            CloseHandle(g_releases); // releases left over from an earlier test
        }
        g_releases = CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
        g_sleeps.clear();
        g_objectWaits.clear();
        g_readableWaits.clear();
    }
    ClockInstall(&kVirtualClock);
}

void Remove() {
    ClockInstall(nullptr);
    Guard guard;
    g_hold = false;
}

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

void SetReadableRealSlice(DWORD ms) {
    Guard guard;
    g_readableSlice = ms;
}

void HoldObjectWaits(bool hold) {
    Guard guard;
    g_hold = hold;
}

void ReleaseObjectWaits(int count) {
    HANDLE releases;
    {
        Guard guard;
        releases = g_releases;
    }
    if (releases != nullptr && count > 0) {
        ReleaseSemaphore(releases, count, nullptr);
    }
}

bool WaitForObjectWaits(size_t count, DWORD realTimeoutMs) {
    ULONGLONG deadline = GetTickCount64() + realTimeoutMs;
    for (;;) {
        {
            Guard guard;
            if (g_objectWaits.size() >= count) {
                return true;
            }
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(2);
    }
}

} // namespace virtual_clock
