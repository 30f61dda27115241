#include "monitor/core/clock.h"

namespace {

void RealSleep(DWORD ms) {
    Sleep(ms);
}

DWORD RealNowSeconds(void) {
    return static_cast<DWORD>(GetTickCount64() / 1000);
}

DWORD RealWaitObject(HANDLE handle, DWORD ms) {
    return WaitForSingleObject(handle, ms);
}

int RealWaitReadable(SOCKET socket, DWORD ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval limit;
    limit.tv_sec = static_cast<long>(ms / 1000);
    limit.tv_usec = static_cast<long>((ms % 1000) * 1000);
    return select(0, &readable, nullptr, nullptr, &limit);
}

DWORD RealSocketTimeoutMs(DWORD ms) {
    return ms;
}

const ClockOps kRealClock = {RealSleep, RealNowSeconds, RealWaitObject, RealWaitReadable,
                             RealSocketTimeoutMs};

const ClockOps* g_clock = &kRealClock;

const ClockOps* Current() {
    return __atomic_load_n(&g_clock, __ATOMIC_ACQUIRE);
}

} // namespace

void ClockSleep(DWORD ms) {
    Current()->sleepMs(ms);
}
DWORD ClockNowSeconds(void) {
    return Current()->nowSeconds();
}
DWORD ClockWaitObject(HANDLE handle, DWORD ms) {
    return Current()->waitObject(handle, ms);
}
int ClockWaitReadable(SOCKET socket, DWORD ms) {
    return Current()->waitReadable(socket, ms);
}
DWORD ClockSocketTimeoutMs(DWORD ms) {
    return Current()->socketTimeoutMs(ms);
}

const ClockOps* ClockInstall(const ClockOps* ops) {
    return __atomic_exchange_n(&g_clock, ops ? ops : &kRealClock, __ATOMIC_ACQ_REL);
}

const ClockOps* ClockReal(void) {
    return &kRealClock;
}
