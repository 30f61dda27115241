// nimmon9x.dll loaded by our Windows 95/98 spooler stand-in, across the DLL boundary.
// Argument: the path of nimmon9x.dll.
#include "hosts/win9x/monitor9x_host.h"
#include "tests/support/spooler_install.h"

#include <gtest/gtest.h>

namespace {

const char* g_dllPath = nullptr;

class Host9xTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(nullptr, g_dllPath) << "pass the path of nimmon9x.dll";
        ASSERT_TRUE(LoadMonitor9x(WindowsPathOf(g_dllPath).c_str(), &host_))
            << "error " << GetLastError();
    }
    void TearDown() override { UnloadMonitor9x(&host_); }

    // True when the slot points into the monitor DLL's own image.
    bool InModule(void* slot) {
        HMODULE owner = nullptr;
        return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                      GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                  static_cast<LPCWSTR>(slot), &owner) &&
               owner == host_.module;
    }

    Monitor9xHost host_;
};

} // namespace

TEST_F(Host9xTest, InitializeMonitorExFillsAll13Slots) {
    EXPECT_TRUE(host_.socketsStarted);
    const MonitorTable9x& t = host_.table;
    void* filled[] = {
        reinterpret_cast<void*>(t.pfnEnumPorts),
        reinterpret_cast<void*>(t.pfnOpenPort),
        reinterpret_cast<void*>(t.pfnStartDocPort),
        reinterpret_cast<void*>(t.pfnWritePort),
        reinterpret_cast<void*>(t.pfnReadPort),
        reinterpret_cast<void*>(t.pfnEndDocPort),
        reinterpret_cast<void*>(t.pfnClosePort),
        reinterpret_cast<void*>(t.pfnAddPort),
        reinterpret_cast<void*>(t.pfnConfigurePort),
        reinterpret_cast<void*>(t.pfnDeletePort),
        reinterpret_cast<void*>(t.pfnGetPrinterDataFromPort),
    };
    for (void* slot : filled) {
        EXPECT_TRUE(InModule(slot)) << slot;
    }
    // All distinct: no entry put into two slots.
    for (size_t i = 0; i < sizeof filled / sizeof filled[0]; ++i) {
        for (size_t j = i + 1; j < sizeof filled / sizeof filled[0]; ++j) {
            EXPECT_NE(filled[i], filled[j]) << i << " " << j;
        }
    }
    EXPECT_EQ(nullptr, t.pfnOpenPortEx);
    EXPECT_EQ(nullptr, t.pfnSetPortTimeOuts);
}

TEST_F(Host9xTest, ReadPortAndGetPrinterDataFromPortAreStubs) {
    BYTE buffer[4] = {9, 9, 9, 9};
    DWORD count = 4321;
    EXPECT_TRUE(host_.table.pfnReadPort(reinterpret_cast<HANDLE>(0x10), buffer, 4, &count));
    EXPECT_EQ(4321u, count);
    EXPECT_EQ(9, buffer[0]);

    char out[8] = "intact";
    DWORD returned = 5;
    EXPECT_TRUE(host_.table.pfnGetPrinterDataFromPort(nullptr, 0, nullptr, nullptr, 0, out,
                                                      sizeof out, &returned));
    EXPECT_STREQ("intact", out);
    EXPECT_EQ(5u, returned);
}

TEST_F(Host9xTest, TheDllExportsOnlyThe9xEntry) {
    EXPECT_EQ(nullptr, GetProcAddress(host_.module, "InitializePrintMonitor"));
    EXPECT_NE(nullptr, GetProcAddress(host_.module, "DllEntryPoint"));
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    g_dllPath = argc > 1 ? argv[1] : nullptr;
    return RUN_ALL_TESTS();
}
