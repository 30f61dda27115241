// Every wait of the monitor goes through here: sleeps, the status thread's wake-event wait, the
// socket readiness waits, the time-outs set on sockets, and the time in seconds. The monitor uses
// the real clock; tests install a virtual one and check counts and durations in virtual time.
#pragma once

#include "monitor/core/portable.h"

struct ClockOps {
    void (*sleepMs)(DWORD ms);
    // Seconds since some fixed point; only differences are used, as unsigned 32-bit values.
    DWORD (*nowSeconds)(void);
    // WaitForSingleObject semantics: WAIT_OBJECT_0 or WAIT_TIMEOUT.
    DWORD (*waitObject)(HANDLE handle, DWORD ms);
    // select() for readability of one socket: 1 readable, 0 time-out, -1 error.
    int (*waitReadable)(SOCKET socket, DWORD ms);
    // The value given to SO_RCVTIMEO / SO_SNDTIMEO for a logical time-out of `ms`.
    DWORD (*socketTimeoutMs)(DWORD ms);
};

void ClockSleep(DWORD ms);
DWORD ClockNowSeconds(void);
DWORD ClockWaitObject(HANDLE handle, DWORD ms);
int ClockWaitReadable(SOCKET socket, DWORD ms);
DWORD ClockSocketTimeoutMs(DWORD ms);

// Installs ops (nullptr: the real clock) and returns the ones in force before.
const ClockOps* ClockInstall(const ClockOps* ops);
const ClockOps* ClockReal(void);
