// Entries whose behaviour is not built yet. Each fails cleanly: FALSE with
// ERROR_CALL_NOT_IMPLEMENTED, nothing touched.
#include "monitor/core/port_entries.h"

namespace {
BOOL NotYet() {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
} // namespace

BOOL WINAPI EnumPorts(LPTSTR, DWORD, LPBYTE, DWORD, LPDWORD bytesNeeded, LPDWORD returned) {
    if (bytesNeeded != nullptr) {
        *bytesNeeded = 0;
    }
    if (returned != nullptr) {
        *returned = 0;
    }
    SetLastError(0);
    return TRUE; // no ports to report yet
}
BOOL WINAPI OpenPort(LPTSTR, PHANDLE) { return NotYet(); }
BOOL WINAPI StartDocPort(HANDLE, LPTSTR, DWORD, DWORD, LPBYTE) { return NotYet(); }
BOOL WINAPI WritePort(HANDLE, LPBYTE, DWORD, LPDWORD) { return NotYet(); }
BOOL WINAPI EndDocPort(HANDLE) { return NotYet(); }
BOOL WINAPI ClosePort(HANDLE) { return NotYet(); }
BOOL WINAPI AddPort(LPTSTR, HWND, LPTSTR) { return NotYet(); }
BOOL WINAPI ConfigurePort(LPTSTR, HWND, LPTSTR) { return NotYet(); }
BOOL WINAPI DeletePort(LPTSTR, HWND, LPTSTR) { return NotYet(); }
