// Port settings in the real registry of the test's Wine prefix.
#include "monitor/core/port_settings.h"
#include "monitor/core/handles.h"
#include "monitor/core/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string.h>
#include <string>
#include <vector>

namespace {

typedef std::basic_string<TCHAR> tstring;

tstring SubkeyOf(const tstring& portName) {
    return tstring(PORTS_KEY_PATH TEXT("\\")) + portName;
}

// Removes every port subkey, so each test starts from an empty Ports key.
void ClearPorts() {
    RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
}

UniqueRegKey CreatePortKey(const tstring& portName) {
    UniqueRegKey key;
    EXPECT_EQ(ERROR_SUCCESS,
              RegCreateKeyEx(HKEY_LOCAL_MACHINE, SubkeyOf(portName).c_str(), 0, nullptr, 0,
                             KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
    return key;
}

void SetRaw(HKEY key, const TCHAR* name, DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueEx(key, name, 0, type, static_cast<const BYTE*>(data), bytes));
}

void SetString(HKEY key, const TCHAR* name, const tstring& text) {
    SetRaw(key, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(TCHAR)));
}

void SetDword(HKEY key, const TCHAR* name, DWORD value) {
    SetRaw(key, name, REG_DWORD, &value, sizeof value);
}

// A record filled with marker values, to show what a load changes.
PortContext MarkedRecord() {
    PortContext port{};
    CopyText(port.portName, PORT_NAME_CHARS, TEXT("marker"));
    CopyText(port.printerUri, sizeof port.printerUri, "marker-uri");
    CopyText(port.host, sizeof port.host, "marker-host");
    CopyText(port.path, sizeof port.path, "/marker");
    CopyText(port.proxyServer, sizeof port.proxyServer, "marker-proxy");
    port.port = 4242;
    port.proxyPort = 4343;
    port.useProxy = 7;
    port.checkInTime = 9;
    return port;
}

bool SameRecord(const PortContext& a, const PortContext& b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

class PortSettingsTest : public testing::Test {
  protected:
    void SetUp() override { ClearPorts(); }
    void TearDown() override { ClearPorts(); }
};

PortContext PortFor(const TCHAR* name, const char* printerUri) {
    PortContext port{};
    CopyText(port.portName, PORT_NAME_CHARS, name);
    CopyText(port.printerUri, sizeof port.printerUri, printerUri);
    return port;
}

} // namespace

TEST_F(PortSettingsTest, SavedSettingsLoadBackWithHostPortAndPathFromThePortName) {
    PortContext saved = PortFor(TEXT("IPP://lp1:8000/ipp/port1"), "ipp://lp1:8000/ipp/port1");
    saved.useProxy = 1;
    CopyText(saved.proxyServer, sizeof saved.proxyServer, "lp9");
    saved.proxyPort = 8080;
    saved.checkInTime = 1;
    ASSERT_TRUE(SavePortSettings(&saved));

    PortContext loaded{};
    ASSERT_TRUE(LoadPortSettings(TEXT("IPP://lp1:8000/ipp/port1"), &loaded));
    EXPECT_STREQ(TEXT("IPP://lp1:8000/ipp/port1"), loaded.portName);
    EXPECT_STREQ("ipp://lp1:8000/ipp/port1", loaded.printerUri);
    EXPECT_STREQ("lp1", loaded.host);
    EXPECT_EQ(8000, loaded.port);
    EXPECT_STREQ("/ipp/port1", loaded.path);
    EXPECT_EQ(1u, loaded.useProxy);
    EXPECT_STREQ("lp9", loaded.proxyServer);
    EXPECT_EQ(8080u, loaded.proxyPort);
    EXPECT_EQ(1u, loaded.checkInTime);
}

TEST_F(PortSettingsTest, HostPortAndPathComeFromPortNameNotPrinterUri) {
    UniqueRegKey key = CreatePortKey(TEXT("http://10.1.2.3/ipp"));
    SetString(key.get(), TEXT("PortName"), TEXT("http://10.1.2.3/ipp"));
    SetString(key.get(), TEXT("PrinterURI"), TEXT("http://other:99/elsewhere"));
    PortContext loaded{};
    ASSERT_TRUE(LoadPortSettings(TEXT("http://10.1.2.3/ipp"), &loaded));
    EXPECT_STREQ("10.1.2.3", loaded.host);
    EXPECT_EQ(631, loaded.port);
    EXPECT_STREQ("/ipp", loaded.path);
    EXPECT_STREQ("http://other:99/elsewhere", loaded.printerUri);
}

TEST_F(PortSettingsTest, SavingWritesAllSixValuesAlsoWithoutAProxy) {
    PortContext saved = PortFor(TEXT("http://lp1/x"), "http://lp1/x");
    ASSERT_TRUE(SavePortSettings(&saved));
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyEx(HKEY_LOCAL_MACHINE, SubkeyOf(TEXT("http://lp1/x")).c_str(), 0, KEY_READ,
                           key.put()));
    struct Expected {
        const TCHAR* name;
        DWORD type;
    } expected[] = {{TEXT("PortName"), REG_SZ},     {TEXT("PrinterURI"), REG_SZ},
                    {TEXT("UseProxy"), REG_DWORD},  {TEXT("ProxyServer"), REG_SZ},
                    {TEXT("ProxyPort"), REG_DWORD}, {TEXT("CheckInTime"), REG_DWORD}};
    for (const Expected& value : expected) {
        DWORD type = 0, bytes = 0;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegQueryValueEx(key.get(), value.name, nullptr, &type, nullptr, &bytes));
        EXPECT_EQ(value.type, type);
    }
    // Strings are stored with their terminator: the empty proxy server is one character.
    DWORD bytes = 0;
    RegQueryValueEx(key.get(), TEXT("ProxyServer"), nullptr, nullptr, nullptr, &bytes);
    EXPECT_EQ(sizeof(TCHAR), bytes);
}

TEST_F(PortSettingsTest, FailedLoadsLeaveTheRecordUnchanged) {
    // No "//" in the PortName value, although the subkey exists.
    UniqueRegKey key = CreatePortKey(TEXT("lp1/p"));
    SetString(key.get(), TEXT("PortName"), TEXT("lp1/p"));
    SetString(key.get(), TEXT("PrinterURI"), TEXT("http://lp1/p"));

    const TCHAR* names[] = {TEXT("lp1/p"), TEXT("http://no-such-port/x"), nullptr};
    for (const TCHAR* name : names) {
        PortContext port = MarkedRecord();
        const PortContext before = port;
        EXPECT_FALSE(LoadPortSettings(name, &port));
        EXPECT_TRUE(SameRecord(before, port));
    }
}

TEST_F(PortSettingsTest, PortNamesMatchWithoutRegardToCase) {
    PortContext saved = PortFor(TEXT("http://lp1/x"), "http://lp1/x");
    ASSERT_TRUE(SavePortSettings(&saved));
    EXPECT_TRUE(PortSettingsExist(TEXT("http://lp1/x")));
    EXPECT_TRUE(PortSettingsExist(TEXT("HTTP://LP1/X")));
    EXPECT_FALSE(PortSettingsExist(TEXT("http://lp1/y")));
}

TEST_F(PortSettingsTest, DeleteRemovesThePortAndSucceedsWhenItIsNotThere) {
    PortContext saved = PortFor(TEXT("http://lp1/x"), "http://lp1/x");
    ASSERT_TRUE(SavePortSettings(&saved));
    EXPECT_TRUE(DeletePortSettings(TEXT("http://lp1/x")));
    EXPECT_FALSE(PortSettingsExist(TEXT("http://lp1/x")));
    EXPECT_TRUE(DeletePortSettings(TEXT("http://lp1/x")));
}

TEST_F(PortSettingsTest, ListPortsGivesOneEntryPerSubkeyAlsoWhenItDoesNotLoad) {
    EXPECT_EQ(nullptr, ListPorts()); // Ports key without subkeys
    PortContext a = PortFor(TEXT("http://lp1/a"), "http://lp1/a");
    PortContext b = PortFor(TEXT("ipp://lp2:8000/b"), "ipp://lp2:8000/b");
    ASSERT_TRUE(SavePortSettings(&a));
    ASSERT_TRUE(SavePortSettings(&b));
    UniqueRegKey broken = CreatePortKey(TEXT("broken"));
    SetString(broken.get(), TEXT("PortName"), TEXT("no-slashes"));

    std::vector<tstring> names;
    PortContext* list = ListPorts();
    for (PortContext* entry = list; entry != nullptr; entry = entry->next) {
        names.push_back(entry->portName);
    }
    FreePortList(list);
    std::vector<tstring> expected = {TEXT(""), TEXT("http://lp1/a"), TEXT("ipp://lp2:8000/b")};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(expected, names);
}

TEST_F(PortSettingsTest, NoPortsKeyMeansNoPorts) {
    RegDeleteTree(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
    RegDeleteKey(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
    EXPECT_EQ(nullptr, ListPorts());
}

// Values that are missing, of the wrong type, unterminated or too long are not trusted.
TEST_F(PortSettingsTest, UntrustedValuesReadAsEmptyOrRefuseTheLoad) {
    const tstring name = TEXT("http://lp1/x");
    {
        UniqueRegKey key = CreatePortKey(name);
        SetString(key.get(), TEXT("PortName"), name);
        SetDword(key.get(), TEXT("PrinterURI"), 0x41414141); // wrong type
        SetString(key.get(), TEXT("UseProxy"), TEXT("1"));   // wrong type
        const TCHAR unterminated[] = {'l', 'p', '9'};        // no terminator stored
        SetRaw(key.get(), TEXT("ProxyServer"), REG_SZ, unterminated, sizeof unterminated);
        // ProxyPort and CheckInTime missing.
    }
    PortContext port = MarkedRecord();
    ASSERT_TRUE(LoadPortSettings(name.c_str(), &port));
    EXPECT_STREQ("", port.printerUri);
    EXPECT_EQ(0u, port.useProxy);
    EXPECT_STREQ("lp9", port.proxyServer);
    EXPECT_EQ(0u, port.proxyPort);
    EXPECT_EQ(0u, port.checkInTime);

    // A proxy server longer than the record's field.
    {
        UniqueRegKey key = CreatePortKey(name);
        SetString(key.get(), TEXT("ProxyServer"), tstring(1500, 'a'));
    }
    PortContext marked = MarkedRecord();
#ifdef NIMBREL_9X
    const PortContext before = marked;
    // It fits the 2048-byte read buffer but not the field: the load is refused, nothing changes.
    EXPECT_FALSE(LoadPortSettings(name.c_str(), &marked));
    EXPECT_TRUE(SameRecord(before, marked));
#else
    // 1500 wide characters exceed the 2048-byte read buffer: the value reads as empty.
    EXPECT_TRUE(LoadPortSettings(name.c_str(), &marked));
    EXPECT_STREQ("", marked.proxyServer);
#endif

    // A PortName whose host part is longer than the record's host field.
    {
        UniqueRegKey key = CreatePortKey(name);
        SetString(key.get(), TEXT("ProxyServer"), TEXT(""));
        SetString(key.get(), TEXT("PortName"), TEXT("http://") + tstring(1100, 'h') + TEXT("/p"));
    }
    PortContext third = MarkedRecord();
    const PortContext third_before = third;
    EXPECT_FALSE(LoadPortSettings(name.c_str(), &third));
    EXPECT_TRUE(SameRecord(third_before, third));
}
