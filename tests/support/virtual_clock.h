// A virtual clock for tests: sleeps and time-outs advance virtual time instead of waiting, so a
// 150-second wait or a three-minute retry loop runs in milliseconds while its count and length
// are recorded.
#pragma once

#include "monitor/core/clock.h"

#include <stdint.h>
#include <vector>

namespace virtual_clock {

// Installs the virtual clock, starting at virtual time 0 with empty records.
void Install();
// Puts the real clock back.
void Remove();

uint64_t NowMs();
void Advance(uint64_t ms);

// Durations of every ClockSleep, in order.
std::vector<DWORD> Sleeps();
// Time-outs of every ClockWaitObject, in order (signalled waits included).
std::vector<DWORD> ObjectWaits();
// Time-outs of every ClockWaitReadable, in order.
std::vector<DWORD> ReadableWaits();

// Real milliseconds a virtual wait may really block to let other threads act (default 20).
void SetRealSlice(DWORD ms);
// Real value set on sockets for the monitor's five-minute time-outs (default 300 ms).
void SetSocketTimeout(DWORD ms);

} // namespace virtual_clock

// Installs the virtual clock for the lifetime of the scope.
class VirtualClockScope {
public:
    VirtualClockScope() { virtual_clock::Install(); }
    ~VirtualClockScope() { virtual_clock::Remove(); }
    VirtualClockScope(const VirtualClockScope&) = delete;
    VirtualClockScope& operator=(const VirtualClockScope&) = delete;
};
