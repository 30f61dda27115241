#include "monitor/core/port_info_pack.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

typedef std::basic_string<TCHAR> Text;

const DWORD UNTOUCHED = 0xdeadbeef;
const BYTE FILL = 0xA5;

size_t TextBytes(const Text& text) {
    return (text.size() + 1) * sizeof(TCHAR);
}

size_t Level1Bytes(const Text& name) {
    return sizeof(PortInfo1Record) + TextBytes(name);
}

size_t Level2Bytes(const Text& name) {
    return sizeof(PortInfo2Record) + TextBytes(name) + TextBytes(PORT_INFO_MONITOR_NAME) +
           TextBytes(PORT_INFO_DESCRIPTION);
}

// The names as the packing takes them, and a buffer with a guard zone after the bytes offered.
struct Packing {
    std::vector<Text> names;
    std::vector<const TCHAR*> pointers;
    std::vector<BYTE> memory;
    DWORD needed = UNTOUCHED;
    DWORD returned = UNTOUCHED;
    static const size_t GUARD = 64;

    explicit Packing(std::vector<Text> portNames) : names(std::move(portNames)) {
        for (const Text& name : names) {
            pointers.push_back(name.c_str());
        }
    }

    BOOL Pack(DWORD level, DWORD bufferSize) {
        // 8-byte aligned storage, as the spooler's buffers are.
        memory.assign(bufferSize + GUARD, FILL);
        SetLastError(UNTOUCHED);
        return PackPortInfo(pointers.data(), static_cast<DWORD>(pointers.size()), level,
                            memory.data(), bufferSize, &needed, &returned);
    }

    bool GuardIntact(DWORD bufferSize) const {
        for (size_t i = bufferSize; i < memory.size(); ++i) {
            if (memory[i] != FILL) {
                return false;
            }
        }
        return true;
    }

    const BYTE* Begin() const { return memory.data(); }
};

bool Inside(const Packing& p, DWORD bufferSize, const TCHAR* text) {
    const BYTE* at = reinterpret_cast<const BYTE*>(text);
    return at >= p.Begin() && at < p.Begin() + bufferSize;
}

TEST(PackPortInfo, Level1PacksNamesDownwardFromTheEnd) {
    Packing p({TEXT("ipp://10.1.2.3/ipp"), TEXT("lp2"), TEXT("")});
    size_t total = 0;
    for (const Text& name : p.names) {
        total += Level1Bytes(name);
    }
    DWORD size = static_cast<DWORD>(total);

    ASSERT_TRUE(p.Pack(1, size));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(size, p.needed);
    EXPECT_EQ(3u, p.returned);
    EXPECT_TRUE(p.GuardIntact(size));

    const PortInfo1Record* info = reinterpret_cast<const PortInfo1Record*>(p.Begin());
    // Each text lies directly below the one before; the first ends exactly at the buffer's end.
    const BYTE* expected = p.Begin() + size;
    for (size_t i = 0; i < p.names.size(); ++i) {
        expected -= TextBytes(p.names[i]);
        EXPECT_EQ(reinterpret_cast<const TCHAR*>(expected), info[i].pName) << i;
        EXPECT_EQ(p.names[i], Text(info[i].pName));
    }
    // The texts start right after the records: the exact size leaves no gap.
    EXPECT_EQ(p.Begin() + 3 * sizeof(PortInfo1Record), expected);
}

TEST(PackPortInfo, Level2PacksNameMonitorAndDescriptionOfEachPortInTurn) {
    Packing p({TEXT("lp1"), TEXT("http://printer.example:8631/ipp/print")});
    DWORD size = static_cast<DWORD>(Level2Bytes(p.names[0]) + Level2Bytes(p.names[1]));

    ASSERT_TRUE(p.Pack(2, size));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(size, p.needed);
    EXPECT_EQ(2u, p.returned);
    EXPECT_TRUE(p.GuardIntact(size));

    const PortInfo2Record* info = reinterpret_cast<const PortInfo2Record*>(p.Begin());
    const BYTE* expected = p.Begin() + size;
    for (size_t i = 0; i < 2; ++i) {
        expected -= TextBytes(p.names[i]);
        EXPECT_EQ(reinterpret_cast<const TCHAR*>(expected), info[i].pPortName);
        expected -= TextBytes(PORT_INFO_MONITOR_NAME);
        EXPECT_EQ(reinterpret_cast<const TCHAR*>(expected), info[i].pMonitorName);
        expected -= TextBytes(PORT_INFO_DESCRIPTION);
        EXPECT_EQ(reinterpret_cast<const TCHAR*>(expected), info[i].pDescription);

        EXPECT_EQ(p.names[i], Text(info[i].pPortName));
        EXPECT_EQ(Text(TEXT("Nimbrel")), Text(info[i].pMonitorName));
        EXPECT_EQ(Text(TEXT("ORVIK IPP Port")), Text(info[i].pDescription));
        EXPECT_EQ(9u, info[i].fPortType);
        EXPECT_EQ(0u, info[i].Reserved);
    }
    EXPECT_EQ(p.Begin() + 2 * sizeof(PortInfo2Record), expected);
}

TEST(PackPortInfo, BufferOneByteTooSmallReportsTheExactSize) {
    for (DWORD level : {1u, 2u}) {
        Packing p({TEXT("lp1"), TEXT("lp22")});
        size_t total = 0;
        for (const Text& name : p.names) {
            total += level == 1 ? Level1Bytes(name) : Level2Bytes(name);
        }
        DWORD size = static_cast<DWORD>(total);

        EXPECT_FALSE(p.Pack(level, size - 1)) << level;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
        EXPECT_EQ(size, p.needed);
        EXPECT_EQ(0u, p.returned);
        EXPECT_TRUE(p.GuardIntact(0)); // nothing written at all

        EXPECT_TRUE(p.Pack(level, size)) << level;
        EXPECT_EQ(2u, p.returned);
        EXPECT_TRUE(p.GuardIntact(size));
    }
}

TEST(PackPortInfo, LargerBufferKeepsTheTextsAtItsEnd) {
    Packing p({TEXT("lp1")});
    DWORD size = static_cast<DWORD>(Level1Bytes(p.names[0]) + 40);
    ASSERT_TRUE(p.Pack(1, size));
    EXPECT_EQ(size - 40, p.needed);
    const PortInfo1Record* info = reinterpret_cast<const PortInfo1Record*>(p.Begin());
    EXPECT_EQ(reinterpret_cast<const TCHAR*>(p.Begin() + size - TextBytes(p.names[0])),
              info[0].pName);
}

TEST(PackPortInfo, NothingToPackSucceedsAndLeavesTheLastError) {
    struct Case {
        std::vector<Text> names;
        DWORD level;
    };
    for (const Case& c :
         {Case{{}, 1}, Case{{}, 2}, Case{{TEXT("lp1")}, 3}, Case{{TEXT("lp1")}, 0}}) {
        Packing p(c.names);
        EXPECT_TRUE(p.Pack(c.level, 0)) << c.level;
        EXPECT_EQ(UNTOUCHED, GetLastError());
        EXPECT_EQ(0u, p.needed);
        EXPECT_EQ(0u, p.returned);
    }
}

TEST(PackPortInfo, NoBufferIsTooSmall) {
    Packing p({TEXT("lp1")});
    DWORD needed = 0;
    DWORD returned = 7;
    SetLastError(UNTOUCHED);
    EXPECT_FALSE(PackPortInfo(p.pointers.data(), 1, 1, nullptr, 4096, &needed, &returned));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(Level1Bytes(p.names[0]), needed);
    EXPECT_EQ(0u, returned);
}

TEST(PackPortInfo, MissingOutputsAreRefused) {
    const TCHAR* names[] = {TEXT("lp1")};
    BYTE buffer[256];
    DWORD needed = 0;
    DWORD returned = 0;
    for (int missing = 0; missing < 3; ++missing) {
        SetLastError(UNTOUCHED);
        EXPECT_FALSE(PackPortInfo(missing == 0 ? nullptr : names, 1, 1, buffer, sizeof buffer,
                                  missing == 1 ? nullptr : &needed,
                                  missing == 2 ? nullptr : &returned))
            << missing;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    }
}

TEST(PackPortInfo, NullNameIsPackedAsAnEmptyName) {
    const TCHAR* names[] = {nullptr, TEXT("lp1")};
    std::vector<BYTE> buffer(256, FILL);
    DWORD needed = 0;
    DWORD returned = 0;
    DWORD size = static_cast<DWORD>(Level1Bytes(Text()) + Level1Bytes(TEXT("lp1")));
    ASSERT_TRUE(PackPortInfo(names, 2, 1, buffer.data(), size, &needed, &returned));
    EXPECT_EQ(size, needed);
    const PortInfo1Record* info = reinterpret_cast<const PortInfo1Record*>(buffer.data());
    EXPECT_EQ(Text(), Text(info[0].pName));
    EXPECT_EQ(reinterpret_cast<const TCHAR*>(buffer.data() + size - sizeof(TCHAR)), info[0].pName);
    EXPECT_EQ(Text(TEXT("lp1")), Text(info[1].pName));
}

TEST(PackPortInfo, NameLongerThanAPortRecordHoldsIsCut) {
    Text longName(PORT_INFO_NAME_MAX_CHARS + 100, TEXT('n'));
    Text kept(PORT_INFO_NAME_MAX_CHARS, TEXT('n'));
    Packing p({longName});
    DWORD size = static_cast<DWORD>(Level1Bytes(kept));

    ASSERT_TRUE(p.Pack(1, size));
    EXPECT_EQ(size, p.needed);
    EXPECT_TRUE(p.GuardIntact(size));
    const PortInfo1Record* info = reinterpret_cast<const PortInfo1Record*>(p.Begin());
    EXPECT_TRUE(Inside(p, size, info[0].pName));
    EXPECT_EQ(kept, Text(info[0].pName));
}

} // namespace
