// nimmonnt.dll inside Wine's own spooler: installed and registered as an administrator would.
// Argument: the path of nimmonnt.dll.
#include "tests/support/spooler_install.h"

#include <winspool.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

const char* g_dllPath = nullptr;

std::vector<std::wstring> MonitorNames() {
    DWORD needed = 0, count = 0;
    EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed ? needed : 1);
    std::vector<std::wstring> names;
    if (!EnumMonitorsW(nullptr, 2, buffer.data(), needed, &needed, &count)) {
        return names;
    }
    auto* info = reinterpret_cast<MONITOR_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        names.push_back(std::wstring(info[i].pName) + L"=" +
                        (info[i].pDLLName ? info[i].pDLLName : L""));
    }
    return names;
}

bool Contains(const std::vector<std::wstring>& list, const std::wstring& item) {
    for (const std::wstring& entry : list) {
        if (entry == item) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(SpoolerInstall, WinesSpoolerAcceptsAndListsTheMonitor) {
    ASSERT_NE(nullptr, g_dllPath) << "pass the path of nimmonnt.dll";
    std::wstring fileName = CopyIntoSystemDirectory(g_dllPath);
    ASSERT_FALSE(fileName.empty()) << "copy failed, error " << GetLastError();

    SetLastError(0xdeadbeef);
    ASSERT_TRUE(RegisterMonitor(fileName)) << "AddMonitorW failed, error " << GetLastError();

    EXPECT_TRUE(Contains(MonitorNames(), std::wstring(MONITOR_NAME) + L"=" + fileName));

    // The spooler loads the monitor to enumerate ports; it must answer without failing.
    DWORD needed = 0, count = 0;
    EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed ? needed : 1);
    EXPECT_TRUE(EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &count));

    EXPECT_TRUE(DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(MONITOR_NAME)));
    EXPECT_FALSE(Contains(MonitorNames(), std::wstring(MONITOR_NAME) + L"=" + fileName));
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    g_dllPath = argc > 1 ? argv[1] : nullptr;
    return RUN_ALL_TESTS();
}
