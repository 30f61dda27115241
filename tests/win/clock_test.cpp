// The clock seam: the monitor's waits go through whichever clock is installed.
#include "monitor/core/clock.h"
#include "tests/support/virtual_clock.h"

#include <gtest/gtest.h>

TEST(Clock, VirtualSleepsAdvanceVirtualTimeAndAreRecorded) {
    VirtualClockScope clock;
    DWORD start = ClockNowSeconds();
    ClockSleep(150000);
    ClockSleep(1000);
    EXPECT_EQ(start + 151, ClockNowSeconds());
    EXPECT_EQ((std::vector<DWORD>{150000, 1000}), virtual_clock::Sleeps());
}

TEST(Clock, VirtualObjectWaitTimesOutInVirtualTimeOrSeesTheSignal) {
    VirtualClockScope clock;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ClockWaitObject(event, 20000));
    EXPECT_EQ(20000u, virtual_clock::NowMs());
    SetEvent(event);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ClockWaitObject(event, 20000));
    EXPECT_EQ(20000u, virtual_clock::NowMs());
    EXPECT_EQ((std::vector<DWORD>{20000, 20000}), virtual_clock::ObjectWaits());
    CloseHandle(event);
}

TEST(Clock, RealClockIsBackAfterTheScope) {
    {
        VirtualClockScope clock;
        ClockSleep(60000);
    }
    ClockSleep(1); // the real clock: not recorded by the virtual one
    EXPECT_EQ((std::vector<DWORD>{60000}), virtual_clock::Sleeps());
    EXPECT_EQ(300000u, ClockSocketTimeoutMs(300000));
}
