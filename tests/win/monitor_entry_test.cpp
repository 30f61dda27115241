// The library's initialisation exports, function tables and stub entries, in both builds.
#include "monitor/core/monitor_entry.h"
#include "monitor/core/monitor_globals.h"
#include "monitor/core/port_entries.h"
#include "monitor/core/records.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

int WINAPI FailingWsaStartup(WORD, LPWSADATA) {
    return WSASYSNOTREADY;
}

class WsaStartupScope {
  public:
    explicit WsaStartupScope(WsaStartupFn startup) : previous_(MonitorInstallWsaStartup(startup)) {}
    ~WsaStartupScope() { MonitorInstallWsaStartup(previous_); }

  private:
    WsaStartupFn previous_;
};

} // namespace

#ifndef NIMBREL_9X

TEST(InitializePrintMonitor, HandsOverTheNt4TableInSlotOrder) {
    MonitorExNt* monitor = InitializePrintMonitor(nullptr);
    ASSERT_NE(nullptr, monitor);
    EXPECT_EQ(sizeof(MonitorTableNt), monitor->dwMonitorSize);
    const MonitorTableNt& t = monitor->Monitor;
    EXPECT_EQ(&EnumPorts, t.pfnEnumPorts);
    EXPECT_EQ(&OpenPort, t.pfnOpenPort);
    EXPECT_EQ(nullptr, t.pfnOpenPortEx);
    EXPECT_EQ(&StartDocPort, t.pfnStartDocPort);
    EXPECT_EQ(&WritePort, t.pfnWritePort);
    EXPECT_EQ(&ReadPort, t.pfnReadPort);
    EXPECT_EQ(&EndDocPort, t.pfnEndDocPort);
    EXPECT_EQ(&ClosePort, t.pfnClosePort);
    EXPECT_EQ(&AddPort, t.pfnAddPort);
    EXPECT_EQ(&AddPortEx, t.pfnAddPortEx);
    EXPECT_EQ(&ConfigurePort, t.pfnConfigurePort);
    EXPECT_EQ(&DeletePort, t.pfnDeletePort);
    EXPECT_EQ(nullptr, t.pfnGetPrinterDataFromPort);
    EXPECT_EQ(nullptr, t.pfnSetPortTimeOuts);
    // The bytes after the table that newer spoolers may read are zero.
    const void* const* tail = reinterpret_cast<const void* const*>(&t + 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(nullptr, tail[i]);
    }
}

TEST(InitializePrintMonitor, ReturnsNullWhenSocketsCannotStart) {
    WsaStartupScope failing(FailingWsaStartup);
    EXPECT_EQ(nullptr, InitializePrintMonitor(nullptr));
}

TEST(AddPortEx, SucceedsWithoutAddingAPort) {
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(AddPortEx(nullptr, 1, nullptr, nullptr));
}

#else

TEST(InitializeMonitorEx, FillsThe95TableInSlotOrder) {
    MonitorTable9x table;
    memset(&table, 0xCC, sizeof table); // null slots must be written, not left alone
    EXPECT_TRUE(InitializeMonitorEx(nullptr, &table));
    EXPECT_EQ(&EnumPorts, table.pfnEnumPorts);
    EXPECT_EQ(&OpenPort, table.pfnOpenPort);
    EXPECT_EQ(nullptr, table.pfnOpenPortEx);
    EXPECT_EQ(&StartDocPort, table.pfnStartDocPort);
    EXPECT_EQ(&WritePort, table.pfnWritePort);
    EXPECT_EQ(&ReadPort, table.pfnReadPort);
    EXPECT_EQ(&EndDocPort, table.pfnEndDocPort);
    EXPECT_EQ(&ClosePort, table.pfnClosePort);
    EXPECT_EQ(&AddPort, table.pfnAddPort);
    EXPECT_EQ(&ConfigurePort, table.pfnConfigurePort);
    EXPECT_EQ(&DeletePort, table.pfnDeletePort);
    EXPECT_EQ(&GetPrinterDataFromPort, table.pfnGetPrinterDataFromPort);
    EXPECT_EQ(nullptr, table.pfnSetPortTimeOuts);
}

TEST(InitializeMonitorEx, FillsTheTableEvenWhenSocketsCannotStart) {
    WsaStartupScope failing(FailingWsaStartup);
    MonitorTable9x table;
    memset(&table, 0, sizeof table);
    EXPECT_FALSE(InitializeMonitorEx(nullptr, &table));
    EXPECT_EQ(&EnumPorts, table.pfnEnumPorts);
    EXPECT_EQ(&GetPrinterDataFromPort, table.pfnGetPrinterDataFromPort);
}

TEST(GetPrinterDataFromPort, SucceedsAndWritesNothing) {
    char out[8] = "intact";
    DWORD returned = 77;
    EXPECT_TRUE(
        GetPrinterDataFromPort(nullptr, 1, nullptr, nullptr, 0, out, sizeof out, &returned));
    EXPECT_STREQ("intact", out);
    EXPECT_EQ(77u, returned);
}

#endif

TEST(ReadPort, SucceedsAndLeavesTheCountAlone) {
    BYTE buffer[4] = {1, 2, 3, 4};
    DWORD read = 1234;
    EXPECT_TRUE(ReadPort(reinterpret_cast<HANDLE>(0x55), buffer, sizeof buffer, &read));
    EXPECT_EQ(1234u, read);
    EXPECT_EQ(1, buffer[0]);
}

TEST(MonitorAlloc, GivesZeroFilledBlocks) {
    for (size_t size : {size_t(1), size_t(4096), sizeof(PortContext)}) {
        auto* block = static_cast<unsigned char*>(MonitorAlloc(size));
        ASSERT_NE(nullptr, block);
        for (size_t i = 0; i < size; ++i) {
            ASSERT_EQ(0, block[i]) << "byte " << i << " of " << size;
        }
        memset(block, 0xAB, size); // the next block must be cleared again
        MonitorFree(block);
    }
}

TEST(TextConversion, RoundTripsAnsiText) {
    char narrow[16];
    EXPECT_EQ(7, NarrowFromWide(narrow, sizeof narrow, L"lp1:80"));
    EXPECT_STREQ("lp1:80", narrow);
    wchar_t wide[16];
    EXPECT_EQ(7, WideFromNarrow(wide, 16, "lp1:80"));
    EXPECT_STREQ(L"lp1:80", wide);
}

TEST(TextConversion, RefusesADestinationThatIsTooSmall) {
    char narrow[4] = "old";
    EXPECT_EQ(0, NarrowFromWide(narrow, sizeof narrow, L"toolong"));
    EXPECT_STREQ("", narrow);
    wchar_t wide[4] = L"old";
    EXPECT_EQ(0, WideFromNarrow(wide, 4, "toolong"));
    EXPECT_STREQ(L"", wide);
}
