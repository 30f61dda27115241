#include "tests/support/port_registry.h"

namespace port_registry {
namespace {

const wchar_t kPortsKey[] =
    L"System\\CurrentControlSet\\Control\\Print\\Monitors\\ORVIK IPP Port\\Ports";

std::wstring TextValue(HKEY key, const wchar_t* name) {
    wchar_t text[2048] = L"";
    DWORD bytes = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return L"";
    }
    text[bytes / sizeof(wchar_t)] = L'\0';
    return text;
}

DWORD NumberValue(HKEY key, const wchar_t* name) {
    DWORD value = 0;
    DWORD bytes = sizeof value;
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        return 0;
    }
    return value;
}

} // namespace

StoredPort Read(const std::wstring& portName) {
    StoredPort port;
    HKEY key = nullptr;
    std::wstring path = std::wstring(kPortsKey) + L"\\" + portName;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return port;
    }
    port.exists = true;
    port.portName = TextValue(key, L"PortName");
    port.printerUri = TextValue(key, L"PrinterURI");
    port.useProxy = NumberValue(key, L"UseProxy");
    port.proxyServer = TextValue(key, L"ProxyServer");
    port.proxyPort = NumberValue(key, L"ProxyPort");
    port.checkInTime = NumberValue(key, L"CheckInTime");
    RegCloseKey(key);
    return port;
}

std::vector<std::wstring> Names() {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return names;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[1024];
        DWORD chars = 1024;
        if (RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

void Clear() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return;
    }
    for (const std::wstring& name : Names()) {
        RegDeleteTreeW(key, name.c_str());
    }
    RegCloseKey(key);
}

bool Write(const std::wstring& keyName, const StoredPort& values) {
    HKEY key = nullptr;
    std::wstring path = std::wstring(kPortsKey) + L"\\" + keyName;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    auto text = [&](const wchar_t* name, const std::wstring& value) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    auto number = [&](const wchar_t* name, DWORD value) {
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value);
    };
    text(L"PortName", values.portName);
    text(L"PrinterURI", values.printerUri);
    number(L"UseProxy", values.useProxy);
    text(L"ProxyServer", values.proxyServer);
    number(L"ProxyPort", values.proxyPort);
    number(L"CheckInTime", values.checkInTime);
    RegCloseKey(key);
    return true;
}

} // namespace port_registry
