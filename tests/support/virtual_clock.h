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
// Real milliseconds a readability wait may block for data that is really on its way (default:
// the real slice). A test whose peer answers over loopback raises it, so a slow answer is not
// taken for a time-out.
void SetReadableRealSlice(DWORD ms);

// Stepping a thread through its time-outs. While held, an object wait that would time out
// blocks until the test releases it (or its handle is signalled, which ends it at once as
// usual); a released wait times out and advances virtual time by its length. A wait held for
// longer than a minute of real time gives up and times out, so a broken test cannot hang.
void HoldObjectWaits(bool hold);
// Lets `count` held object waits (current or future) time out.
void ReleaseObjectWaits(int count);
// Waits, at most realTimeoutMs of real time, until `count` object waits have begun; false when
// they have not.
bool WaitForObjectWaits(size_t count, DWORD realTimeoutMs);

} // namespace virtual_clock

// Installs the virtual clock for the lifetime of the scope.
class VirtualClockScope {
  public:
    VirtualClockScope() { virtual_clock::Install(); }
    ~VirtualClockScope() { virtual_clock::Remove(); }
    VirtualClockScope(const VirtualClockScope&) = delete;
    VirtualClockScope& operator=(const VirtualClockScope&) = delete;
};
