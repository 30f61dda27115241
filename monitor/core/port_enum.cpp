// EnumPorts: the ports stored in the registry, as PORT_INFO_1 or PORT_INFO_2 records with their
// texts packed downward from the end of the caller's buffer (the packing: port_info_pack.h).
#include "monitor/core/monitor_globals.h"
#include "monitor/core/port_entries.h"
#include "monitor/core/port_info_pack.h"
#include "monitor/core/port_settings.h"

namespace {

struct PortListFree {
    PortContext* head;
    ~PortListFree() { FreePortList(head); }
};

struct NameArrayFree {
    const TCHAR** names;
    ~NameArrayFree() { MonitorFree(names); }
};

} // namespace

BOOL WINAPI EnumPorts(LPTSTR, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD bytesNeeded,
                      LPDWORD returned) {
    if (bytesNeeded == nullptr || returned == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PortListFree list{ListPorts()};

    // The packing takes the names as an array, in list order.
    DWORD count = 0;
    for (PortContext* port = list.head; port != nullptr; port = port->next) {
        ++count;
    }
    NameArrayFree names{nullptr};
    if (count > 0) {
        names.names = static_cast<const TCHAR**>(MonitorAlloc(count * sizeof(const TCHAR*)));
        if (names.names == nullptr) {
            *bytesNeeded = 0;
            *returned = 0;
            SetLastError(ERROR_OUTOFMEMORY);
            return FALSE;
        }
        DWORD i = 0;
        for (PortContext* port = list.head; port != nullptr; port = port->next) {
            names.names[i++] = port->portName;
        }
    }

    MonitorLockGuard lock;
    return PackPortInfo(names.names, count, level, buffer, bufferSize, bytesNeeded, returned);
}
