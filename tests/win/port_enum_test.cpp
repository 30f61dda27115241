// EnumPorts over the ports stored in the registry of the test's Wine prefix: sizes, the packing
// of records and texts into the caller's buffer, and the answers without records.
#include "monitor/core/handles.h"
#include "monitor/core/port_entries.h"
#include "monitor/core/port_settings.h"
#include "monitor/core/text.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

namespace {

typedef std::basic_string<TCHAR> tstring;

const DWORD UNTOUCHED = 0xdeadbeef;
const BYTE FILL = 0xA5;
const tstring MONITOR_NAME_TEXT = TEXT("Nimbrel");
const tstring DESCRIPTION_TEXT = TEXT("ORVIK IPP Port");

size_t TextBytes(const tstring& text) {
    return (text.size() + 1) * sizeof(TCHAR);
}

void SavePort(const tstring& name) {
    PortContext port{};
    CopyText(port.portName, PORT_NAME_CHARS, name.c_str());
    ASSERT_TRUE(SavePortSettings(&port));
}

// A port subkey whose PortName is no printer URI: it is listed but does not load.
void SaveBrokenPort(const tstring& name) {
    UniqueRegKey key;
    tstring path = tstring(PORTS_KEY_PATH TEXT("\\")) + name;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                            KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
    const tstring value = TEXT("no-slashes");
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueEx(key.get(), TEXT("PortName"), 0, REG_SZ,
                                           reinterpret_cast<const BYTE*>(value.c_str()),
                                           static_cast<DWORD>(TextBytes(value))));
}

// The subkey names in the order the registry enumerates them, as EnumPorts must list them.
std::vector<tstring> RegistryOrder() {
    std::vector<tstring> names;
    UniqueRegKey ports;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH, 0, KEY_READ, ports.put()) !=
        ERROR_SUCCESS) {
        return names;
    }
    for (DWORD i = 0;; ++i) {
        TCHAR name[PORT_NAME_CHARS];
        DWORD chars = PORT_NAME_CHARS;
        if (RegEnumKeyEx(ports.get(), i, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.push_back(name);
    }
    return names;
}

// One EnumPorts call on a buffer of `size` bytes followed by a guard zone.
struct Enumeration {
    std::vector<BYTE> memory;
    DWORD size = 0;
    DWORD needed = UNTOUCHED;
    DWORD returned = UNTOUCHED;
    BOOL result = FALSE;
    DWORD error = 0;
    static const size_t GUARD = 64;

    Enumeration(DWORD level, DWORD bufferSize) : size(bufferSize) {
        memory.assign(bufferSize + GUARD, FILL);
        SetLastError(UNTOUCHED);
        result = EnumPorts(nullptr, level, memory.data(), size, &needed, &returned);
        error = GetLastError();
    }

    const BYTE* Begin() const { return memory.data(); }
    const BYTE* End() const { return memory.data() + size; }

    bool GuardIntact() const {
        for (size_t i = size; i < memory.size(); ++i) {
            if (memory[i] != FILL) {
                return false;
            }
        }
        return true;
    }
};

DWORD NeededFor(DWORD level) {
    DWORD needed = UNTOUCHED;
    DWORD returned = UNTOUCHED;
    EnumPorts(nullptr, level, nullptr, 0, &needed, &returned);
    return needed;
}

class EnumPortsTest : public testing::Test {
  protected:
    void SetUp() override { RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH); }
    void TearDown() override { RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH); }

    // Two ports that load and one that does not.
    void SaveThreePorts() {
        SavePort(TEXT("http://lp1/a"));
        SavePort(TEXT("ipp://printer-two.example:8000/ipp/print"));
        SaveBrokenPort(TEXT("broken"));
        order_ = RegistryOrder();
        ASSERT_EQ(3u, order_.size());
    }

    // The name EnumPorts reports for a subkey: the broken one has none.
    static tstring ReportedName(const tstring& subkey) {
        return subkey == TEXT("broken") ? tstring() : subkey;
    }

    std::vector<tstring> order_;
};

} // namespace

TEST_F(EnumPortsTest, LevelOneNeedsOneRecordAndOneNamePerPort) {
    SaveThreePorts();
    size_t expected = 0;
    for (const tstring& subkey : order_) {
        expected += sizeof(PORT_INFO_1) + TextBytes(ReportedName(subkey));
    }
    EXPECT_EQ(expected, NeededFor(1));
}

TEST_F(EnumPortsTest, LevelTwoNeedsOneRecordAndThreeTextsPerPort) {
    SaveThreePorts();
    size_t expected = 0;
    for (const tstring& subkey : order_) {
        expected += sizeof(PORT_INFO_2) + TextBytes(ReportedName(subkey)) +
                    TextBytes(MONITOR_NAME_TEXT) + TextBytes(DESCRIPTION_TEXT);
    }
    EXPECT_EQ(expected, NeededFor(2));
}

TEST_F(EnumPortsTest, OneByteTooSmallFailsWithTheNeededSize) {
    SaveThreePorts();
    for (DWORD level : {1u, 2u}) {
        DWORD needed = NeededFor(level);
        ASSERT_GT(needed, 0u);
        Enumeration e(level, needed - 1);
        EXPECT_FALSE(e.result) << level;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), e.error) << level;
        EXPECT_EQ(needed, e.needed) << level;
        EXPECT_EQ(0u, e.returned) << level;
        // Nothing is written into a buffer that is too small.
        for (DWORD i = 0; i < needed - 1; ++i) {
            ASSERT_EQ(FILL, e.memory[i]) << "level " << level << " byte " << i;
        }
    }
    // No buffer at all.
    DWORD needed = UNTOUCHED, returned = UNTOUCHED;
    SetLastError(UNTOUCHED);
    EXPECT_FALSE(EnumPorts(nullptr, 1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(NeededFor(1), needed);
}

TEST_F(EnumPortsTest, LevelOneWithTheExactSizeFillsTheBufferToItsLastByte) {
    SaveThreePorts();
    DWORD needed = NeededFor(1);
    Enumeration e(1, needed);
    ASSERT_TRUE(e.result);
    EXPECT_EQ(0u, e.error);
    EXPECT_EQ(needed, e.needed);
    ASSERT_EQ(3u, e.returned);
    EXPECT_TRUE(e.GuardIntact());

    // Names packed downward from the end, in list order, each directly below the one before.
    const auto* records = reinterpret_cast<const PORT_INFO_1*>(e.Begin());
    const BYTE* end = e.End();
    for (size_t i = 0; i < order_.size(); ++i) {
        tstring name = ReportedName(order_[i]);
        const BYTE* at = reinterpret_cast<const BYTE*>(records[i].pName);
        EXPECT_EQ(end - TextBytes(name), at) << i;
        EXPECT_EQ(name, tstring(records[i].pName)) << i;
        end = at;
    }
    // The last text starts right after the records: no byte is left over.
    EXPECT_EQ(e.Begin() + 3 * sizeof(PORT_INFO_1), end);
}

TEST_F(EnumPortsTest, LevelTwoWithTheExactSizeFillsTheBufferToItsLastByte) {
    SaveThreePorts();
    DWORD needed = NeededFor(2);
    Enumeration e(2, needed);
    ASSERT_TRUE(e.result);
    EXPECT_EQ(0u, e.error);
    ASSERT_EQ(3u, e.returned);
    EXPECT_TRUE(e.GuardIntact());

    const auto* records = reinterpret_cast<const PORT_INFO_2*>(e.Begin());
    const BYTE* end = e.End();
    for (size_t i = 0; i < order_.size(); ++i) {
        const PORT_INFO_2& info = records[i];
        tstring name = ReportedName(order_[i]);
        // Port name, monitor name, description: each directly below the text before it.
        const BYTE* nameAt = reinterpret_cast<const BYTE*>(info.pPortName);
        const BYTE* monitorAt = reinterpret_cast<const BYTE*>(info.pMonitorName);
        const BYTE* descriptionAt = reinterpret_cast<const BYTE*>(info.pDescription);
        EXPECT_EQ(end - TextBytes(name), nameAt) << i;
        EXPECT_EQ(nameAt - TextBytes(MONITOR_NAME_TEXT), monitorAt) << i;
        EXPECT_EQ(monitorAt - TextBytes(DESCRIPTION_TEXT), descriptionAt) << i;
        end = descriptionAt;

        EXPECT_EQ(name, tstring(info.pPortName)) << i;
        EXPECT_EQ(MONITOR_NAME_TEXT, tstring(info.pMonitorName)) << i;
        EXPECT_EQ(DESCRIPTION_TEXT, tstring(info.pDescription)) << i;
        EXPECT_EQ(static_cast<DWORD>(PORT_TYPE_WRITE | PORT_TYPE_NET_ATTACHED), info.fPortType);
        EXPECT_EQ(9u, info.fPortType);
        EXPECT_EQ(0u, info.Reserved);
    }
    EXPECT_EQ(e.Begin() + 3 * sizeof(PORT_INFO_2), end);
}

TEST_F(EnumPortsTest, ALargerBufferGetsItsTextsAtItsOwnEnd) {
    SavePort(TEXT("http://lp1/a"));
    DWORD needed = NeededFor(1);
    Enumeration e(1, needed + 100);
    ASSERT_TRUE(e.result);
    EXPECT_EQ(needed, e.needed);
    ASSERT_EQ(1u, e.returned);
    const auto* record = reinterpret_cast<const PORT_INFO_1*>(e.Begin());
    EXPECT_EQ(e.End() - TextBytes(TEXT("http://lp1/a")),
              reinterpret_cast<const BYTE*>(record->pName));
    EXPECT_TRUE(e.GuardIntact());
}

TEST_F(EnumPortsTest, ASubkeyThatDoesNotLoadIsListedWithAnEmptyName) {
    SaveBrokenPort(TEXT("broken"));
    EXPECT_EQ(sizeof(PORT_INFO_1) + sizeof(TCHAR), NeededFor(1));
    Enumeration e(1, NeededFor(1));
    ASSERT_TRUE(e.result);
    ASSERT_EQ(1u, e.returned);
    const auto* record = reinterpret_cast<const PORT_INFO_1*>(e.Begin());
    EXPECT_EQ(tstring(), tstring(record->pName));
    EXPECT_EQ(e.End() - sizeof(TCHAR), reinterpret_cast<const BYTE*>(record->pName));
}

// Without records to write the answer is TRUE, with nothing needed and nothing returned, and
// the caller's last error stays as it was.
TEST_F(EnumPortsTest, NothingToListSucceedsAndLeavesTheLastErrorAlone) {
    struct Case {
        const char* what;
        bool withPort;
        bool withPortsKey;
        DWORD level;
    } cases[] = {
        {"level 3 with a port", true, true, 3},
        {"level 0 with a port", true, true, 0},
        {"Ports key without subkeys", false, true, 1},
        {"Ports key without subkeys, level 2", false, true, 2},
        {"no Ports key", false, false, 1},
    };
    for (const Case& c : cases) {
        RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
        RegDeleteKey(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
        if (c.withPort) {
            SavePort(TEXT("http://lp1/a"));
        } else if (c.withPortsKey) {
            UniqueRegKey key;
            ASSERT_EQ(ERROR_SUCCESS,
                      RegCreateKeyEx(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH, 0, nullptr, 0,
                                     KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
        }
        Enumeration e(c.level, 64);
        EXPECT_TRUE(e.result) << c.what;
        EXPECT_EQ(UNTOUCHED, e.error) << c.what;
        EXPECT_EQ(0u, e.needed) << c.what;
        EXPECT_EQ(0u, e.returned) << c.what;
        EXPECT_EQ(FILL, e.memory[0]) << c.what;
    }
}
