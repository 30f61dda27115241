// What the registry holds for the monitor's ports, read directly as the uninstaller or an
// administrator would see it (wide interfaces in both builds).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace port_registry {

struct StoredPort {
    bool exists = false;
    std::wstring portName;
    std::wstring printerUri;
    DWORD useProxy = 0;
    std::wstring proxyServer;
    DWORD proxyPort = 0;
    DWORD checkInTime = 0;
};

// The port's subkey and its six values (missing values read as empty text and 0).
StoredPort Read(const std::wstring& portName);

// The names of the port subkeys, in the letter case they are stored with.
std::vector<std::wstring> Names();

// Removes every port.
void Clear();

// Writes a port subkey with the six values.
bool Write(const std::wstring& keyName, const StoredPort& values);

} // namespace port_registry
