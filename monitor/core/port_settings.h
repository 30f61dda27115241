// Port settings in the registry. Every port is a subkey of the Ports key named by its port name
// (the printer URI as the user typed it), holding six values. Nothing is cached: callers read
// the registry again whenever they need the settings.
#pragma once

#include "monitor/core/records.h"

#define MONITOR_KEY_PATH TEXT("System\\CurrentControlSet\\Control\\Print\\Monitors\\ORVIK IPP Port")
#define PORTS_KEY_PATH MONITOR_KEY_PATH TEXT("\\Ports")

// Buffer sizes of the values as read, in bytes.
#define SETTINGS_TEXT_BYTES 2048

// The six values of a port subkey as read. Texts are TCHAR text; a value that is missing, of
// the wrong type or too long for its buffer reads as empty text or 0.
struct PortValues {
    TCHAR printerUri[SETTINGS_TEXT_BYTES / sizeof(TCHAR)];
    TCHAR portName[SETTINGS_TEXT_BYTES / sizeof(TCHAR)];
    DWORD useProxy;
    TCHAR proxyServer[SETTINGS_TEXT_BYTES / sizeof(TCHAR)];
    DWORD proxyPort;
    DWORD checkInTime;
};

// Loads the port's settings into the record and derives host, port and path from the PortName
// value. On failure (no subkey, a name that is no printer URI, a text too long for its field)
// the record is left exactly as it was.
BOOL LoadPortSettings(const TCHAR* portName, PortContext* port);

// Reads the six values of one port subkey (path below HKEY_LOCAL_MACHINE).
BOOL ReadPortValues(const TCHAR* subkeyPath, PortValues* values);

// TRUE when the port's subkey can be opened.
BOOL PortSettingsExist(const TCHAR* portName);

// Creates or opens the port's subkey and writes all six values.
BOOL SavePortSettings(const PortContext* port);

// Deletes the port's subkey; deleting a port that is not there succeeds.
BOOL DeletePortSettings(const TCHAR* portName);

// One zero-filled record per port subkey, in registry order, each loaded (an entry that does not
// load keeps empty fields). nullptr when there are none.
PortContext* ListPorts(void);
void FreePortList(PortContext* head);
