// The port-in-use walk: every port of the monitor against every printer's "Port" value, port by
// port and printer by printer; the first match stops the walk.
#include "uninstall/uninstall_check.h"

#include <stdio.h>
#include <string.h>

namespace {

const char MONITOR_KEY_PATH[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ORVIK IPP Port";
const char PORTS_KEY_PATH[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ORVIK IPP Port\\Ports";
const char PRINTERS_KEY_PATH[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
const char PORT_VALUE_NAME[] = "Port";

const char MESSAGE_CAPTION[] = "Nimbrel";
const char MESSAGE_CANNOT_OPEN_KEY[] = "Cannot Open Registry.";
const char MESSAGE_CANNOT_OPEN_PRINTER[] = "Cannot Open Registry";
const char MESSAGE_PORT_IN_USE[] = "ORVIK IPP Port is in use.Please Check Printer Port.";

const LONG UNINST_MAY_REMOVE = 0;
const LONG UNINST_MUST_STOP = -1;

const DWORD WALK_BUFFER_SIZE = 4096;

// The four working texts of one walk.
struct WalkBuffers {
    char portName[WALK_BUFFER_SIZE];
    char printerName[WALK_BUFFER_SIZE];
    char portValue[WALK_BUFFER_SIZE];
    char printerPath[WALK_BUFFER_SIZE];
};

// Closes a registry key on every way out, the ways out with -1 included.
class OpenKey {
  public:
    OpenKey() = default;
    ~OpenKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    BOOL Open(const char* path) { return RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key_) == 0; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

void ShowError(const char* text) {
    MessageBoxA(nullptr, text, MESSAGE_CAPTION, MB_ICONERROR);
}

// The subkey enumeration of the walk. Only ERROR_SUCCESS yields a name; ERROR_NO_MORE_ITEMS and
// every other failure end the list, since a failure that repeats for every index (a key deleted
// under the walk) would otherwise never end it.
BOOL NextSubkeyName(HKEY key, DWORD index, char* name) {
    return RegEnumKeyA(key, index, name, WALK_BUFFER_SIZE) == ERROR_SUCCESS;
}

// Reads the printer's "Port" value as a terminated text. A printer without the value, or with
// one the buffer cannot hold, yields the empty text, which matches no port name.
void ReadPortValue(HKEY printerKey, char* value) {
    DWORD size = WALK_BUFFER_SIZE;
    if (RegQueryValueExA(printerKey, PORT_VALUE_NAME, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS) {
        value[0] = '\0';
    }
    // A stored value need not end with a null character.
    value[WALK_BUFFER_SIZE - 1] = '\0';
}

// The printers walk for one port. Returns 0 when no printer uses it, else -1 after the message.
LONG CheckPortAgainstPrinters(WalkBuffers* buffers) {
    OpenKey printers;
    if (!printers.Open(PRINTERS_KEY_PATH)) {
        ShowError(MESSAGE_CANNOT_OPEN_KEY);
        return UNINST_MUST_STOP;
    }
    for (DWORD index = 0; NextSubkeyName(printers.get(), index, buffers->printerName); ++index) {
        OpenKey printer;
        int length = snprintf(buffers->printerPath, WALK_BUFFER_SIZE, "%s\\%s", PRINTERS_KEY_PATH,
                              buffers->printerName);
        // A path that does not fit would name another key: count it as a key that cannot be
        // opened.
        if (length < 0 || static_cast<DWORD>(length) >= WALK_BUFFER_SIZE ||
            !printer.Open(buffers->printerPath)) {
            ShowError(MESSAGE_CANNOT_OPEN_PRINTER);
            return UNINST_MUST_STOP;
        }
        ReadPortValue(printer.get(), buffers->portValue);
        if (strcmp(buffers->portName, buffers->portValue) == 0) {
            ShowError(MESSAGE_PORT_IN_USE);
            return UNINST_MUST_STOP;
        }
        memset(buffers->printerName, 0, WALK_BUFFER_SIZE);
        memset(buffers->portValue, 0, WALK_BUFFER_SIZE);
        memset(buffers->printerPath, 0, WALK_BUFFER_SIZE);
    }
    return UNINST_MAY_REMOVE;
}

LONG CheckPortsInUse() {
    WalkBuffers buffers;
    memset(&buffers, 0, sizeof buffers);

    OpenKey monitor;
    if (!monitor.Open(MONITOR_KEY_PATH)) {
        ShowError(MESSAGE_CANNOT_OPEN_KEY);
        return UNINST_MUST_STOP;
    }
    OpenKey ports;
    if (!ports.Open(PORTS_KEY_PATH)) {
        return UNINST_MAY_REMOVE; // a monitor without ports has none in use
    }
    for (DWORD index = 0; NextSubkeyName(ports.get(), index, buffers.portName); ++index) {
        if (CheckPortAgainstPrinters(&buffers) != UNINST_MAY_REMOVE) {
            return UNINST_MUST_STOP;
        }
        memset(&buffers, 0, sizeof buffers);
    }
    return UNINST_MAY_REMOVE;
}

} // namespace

extern "C" LONG WINAPI UninstInitialize(void) {
    return CheckPortsInUse();
}

extern "C" LONG WINAPI UninstUnInitialize(void) {
    return UNINST_MAY_REMOVE;
}
