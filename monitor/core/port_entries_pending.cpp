// Entries whose behaviour is not built yet. Each fails cleanly: FALSE with
// ERROR_CALL_NOT_IMPLEMENTED, nothing touched.
#include "monitor/core/port_entries.h"

namespace {
BOOL NotYet() {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
} // namespace

BOOL WINAPI AddPort(LPTSTR, HWND, LPTSTR) { return NotYet(); }
BOOL WINAPI ConfigurePort(LPTSTR, HWND, LPTSTR) { return NotYet(); }
BOOL WINAPI DeletePort(LPTSTR, HWND, LPTSTR) { return NotYet(); }
