#include "monitor/core/port_settings.h"

#include "monitor/core/handles.h"
#include "monitor/core/monitor_globals.h"
#include "monitor/core/text.h"
#include "monitor/transport/printer_uri.h"

#include <string.h>

namespace {

// "Ports key \ port name" below HKEY_LOCAL_MACHINE. FALSE when it does not fit.
BOOL PortSubkeyPath(const TCHAR* portName, TCHAR* path, size_t pathChars) {
    return CopyText(path, pathChars, PORTS_KEY_PATH TEXT("\\")) &&
           CopyText(path + BoundedLength(path, pathChars),
                    pathChars - BoundedLength(path, pathChars), portName);
}

// Reads a REG_SZ value into text (capacity in bytes). Anything else reads as empty text: a value
// of another type, or one longer than the buffer, is not trusted.
void QueryText(HKEY key, const TCHAR* name, TCHAR* text, DWORD bytes) {
    memset(text, 0, bytes);
    DWORD type = 0;
    DWORD size = bytes;
    LONG result = RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(text), &size);
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        memset(text, 0, bytes);
        return;
    }
    // The stored value need not carry its terminator.
    text[bytes / sizeof(TCHAR) - 1] = 0;
    if (size / sizeof(TCHAR) < bytes / sizeof(TCHAR)) {
        text[size / sizeof(TCHAR)] = 0;
    }
}

DWORD QueryNumber(HKEY key, const TCHAR* name) {
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    LONG result =
        RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) {
        return 0;
    }
    return value;
}

void SetText(HKEY key, const TCHAR* name, const TCHAR* text) {
    DWORD bytes = static_cast<DWORD>((lstrlen(text) + 1) * sizeof(TCHAR));
    RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

void SetNumber(HKEY key, const TCHAR* name, DWORD value) {
    RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

} // namespace

BOOL ReadPortValues(const TCHAR* subkeyPath, PortValues* values) {
    UniqueRegKey key;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, subkeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return FALSE;
    }
    QueryText(key.get(), TEXT("PrinterURI"), values->printerUri, sizeof values->printerUri);
    QueryText(key.get(), TEXT("PortName"), values->portName, sizeof values->portName);
    values->useProxy = QueryNumber(key.get(), TEXT("UseProxy"));
    QueryText(key.get(), TEXT("ProxyServer"), values->proxyServer, sizeof values->proxyServer);
    values->proxyPort = QueryNumber(key.get(), TEXT("ProxyPort"));
    values->checkInTime = QueryNumber(key.get(), TEXT("CheckInTime"));
    return TRUE;
}

BOOL LoadPortSettings(const TCHAR* portName, PortContext* port) {
    if (portName == nullptr) {
        return FALSE;
    }
    TCHAR subkey[PORT_NAME_CHARS + 128];
    if (!PortSubkeyPath(portName, subkey, sizeof subkey / sizeof subkey[0])) {
        return FALSE;
    }
    // The values are large; keep them off the status thread's small stack.
    auto* values = static_cast<PortValues*>(MonitorAlloc(sizeof(PortValues)));
    if (values == nullptr) {
        return FALSE;
    }
    struct Free {
        PortValues* p;
        ~Free() { MonitorFree(p); }
    } freeValues{values};

    if (!ReadPortValues(subkey, values)) {
        return FALSE;
    }

    // Everything is converted and checked into locals first: a failed load changes nothing.
    char nameNarrow[URI_BYTES];
    char printerUri[URI_BYTES];
    char proxyServer[PROXY_SERVER_BYTES];
    if (NarrowFromText(nameNarrow, sizeof nameNarrow, values->portName) == 0 ||
        NarrowFromText(printerUri, sizeof printerUri, values->printerUri) == 0 ||
        NarrowFromText(proxyServer, sizeof proxyServer, values->proxyServer) == 0 ||
        BoundedLength(values->portName, PORT_NAME_CHARS) >= PORT_NAME_CHARS) {
        return FALSE;
    }
    char host[HOST_BYTES] = "";
    char path[PATH_BYTES] = "";
    LONG portNumber = 0;
    if (!SplitPrinterUri(nameNarrow, host, sizeof host, &portNumber, path, sizeof path)) {
        return FALSE;
    }

    memcpy(port->printerUri, printerUri, sizeof printerUri);
    CopyText(port->portName, PORT_NAME_CHARS, values->portName);
    memcpy(port->proxyServer, proxyServer, sizeof proxyServer);
    port->useProxy = values->useProxy;
    port->proxyPort = values->proxyPort;
    StoreShared(&port->checkInTime, values->checkInTime);
    memcpy(port->host, host, sizeof host);
    memcpy(port->path, path, sizeof path);
    port->port = portNumber;
    return TRUE;
}

BOOL PortSettingsExist(const TCHAR* portName) {
    TCHAR subkey[PORT_NAME_CHARS + 128];
    if (portName == nullptr ||
        !PortSubkeyPath(portName, subkey, sizeof subkey / sizeof subkey[0])) {
        return FALSE;
    }
    UniqueRegKey key;
    return RegOpenKeyEx(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

BOOL SavePortSettings(const PortContext* port) {
    TCHAR subkey[PORT_NAME_CHARS + 128];
    if (!PortSubkeyPath(port->portName, subkey, sizeof subkey / sizeof subkey[0])) {
        return FALSE;
    }
    UniqueRegKey key;
    DWORD disposition = 0;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, subkey, 0, const_cast<LPTSTR>(TEXT("")),
                       REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                       &disposition) != ERROR_SUCCESS) {
        return FALSE;
    }
    TCHAR printerUri[URI_BYTES];
    TCHAR proxyServer[PROXY_SERVER_BYTES];
    TextFromNarrow(printerUri, URI_BYTES, port->printerUri);
    TextFromNarrow(proxyServer, PROXY_SERVER_BYTES, port->proxyServer);

    SetText(key.get(), TEXT("PortName"), port->portName);
    SetText(key.get(), TEXT("PrinterURI"), printerUri);
    SetNumber(key.get(), TEXT("UseProxy"), port->useProxy);
    SetText(key.get(), TEXT("ProxyServer"), proxyServer);
    SetNumber(key.get(), TEXT("ProxyPort"), port->proxyPort);
    SetNumber(key.get(), TEXT("CheckInTime"), LoadShared(&port->checkInTime));
    return TRUE;
}

BOOL DeletePortSettings(const TCHAR* portName) {
    UniqueRegKey ports;
    DWORD disposition = 0;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH, 0, const_cast<LPTSTR>(TEXT("")),
                       REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, ports.put(),
                       &disposition) != ERROR_SUCCESS) {
        return FALSE;
    }
    if (portName != nullptr && portName[0] != 0) {
        RegDeleteKey(ports.get(), portName);
    }
    return TRUE;
}

PortContext* ListPorts(void) {
    UniqueRegKey ports;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH, 0, KEY_READ, ports.put()) !=
        ERROR_SUCCESS) {
        return nullptr;
    }
    MonitorLockGuard lock;
    PortContext* head = nullptr;
    PortContext** tail = &head;
    for (DWORD index = 0;; ++index) {
        TCHAR name[PORT_NAME_CHARS];
        DWORD nameChars = PORT_NAME_CHARS;
        name[0] = 0;
        LONG result =
            RegEnumKeyEx(ports.get(), index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
        // A name too long for the buffer still makes an entry (which cannot load); any other
        // failure ends the list, so a key that keeps failing cannot make the walk endless.
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) {
            break;
        }
        if (result == ERROR_MORE_DATA) {
            name[0] = 0;
        }
        auto* entry = static_cast<PortContext*>(MonitorAlloc(sizeof(PortContext)));
        if (entry == nullptr) {
            break; // out of memory: report the ports listed so far
        }
        *tail = entry;
        tail = &entry->next;
        if (name[0] != 0) {
            LoadPortSettings(name, entry);
        }
    }
    return head;
}

void FreePortList(PortContext* head) {
    MonitorLockGuard lock;
    while (head != nullptr) {
        PortContext* next = head->next;
        MonitorFree(head);
        head = next;
    }
}
