// nim9xfront.dll: lets Wine's spooler, which loads only NT-style monitors, drive nimmon9x.dll as
// the Windows 95/98 spooler would. Registered as the driver of "ORVIK IPP Port", it loads
// nimmon9x.dll from the system directory, has it fill its 13-slot table through
// InitializeMonitorEx, and hands the spooler an NT table whose entries turn wide texts into
// narrow ones (ANSI code page) and call the 9x table. Part of the 9x spooler stand-in, not of
// the product.
//
// NIMBREL_9XFRONT_TRACE may name a file that gets one line per port call and its result, so a
// test can see what the spooler asked of the monitor.
#include "hosts/win9x/monitor9x_host.h"

#include <winspool.h>
#include <winsplp.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

const DWORD TEXT_CHARS = 2048; // longer texts are refused, not cut

Monitor9xHost g_host;
MONITOREX g_front;

void Trace(const char* format, ...) {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("NIMBREL_9XFRONT_TRACE", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0) {
        return;
    }
    length = length < static_cast<int>(sizeof line - 2) ? length : sizeof line - 2;
    line[length++] = '\n';
    DWORD error = GetLastError();
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
        CloseHandle(file);
    }
    SetLastError(error);
}

// A wide text of the spooler as the narrow text the 9x monitor expects; null stays null.
class Narrow {
  public:
    explicit Narrow(const wchar_t* wide) : null_(wide == nullptr), ok_(true) {
        text_[0] = '\0';
        if (wide != nullptr) {
            ok_ =
                WideCharToMultiByte(CP_ACP, 0, wide, -1, text_, TEXT_CHARS, nullptr, nullptr) != 0;
            if (!ok_) {
                text_[0] = '\0';
            }
        }
    }
    BOOL ok() const { return ok_; }
    char* get() { return null_ ? nullptr : text_; }

  private:
    char text_[TEXT_CHARS];
    bool null_;
    bool ok_;
};

BOOL RefuseText() {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
}

// Wide characters needed for a narrow text, terminator included; 0 for null.
DWORD WideChars(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    return n > 0 ? static_cast<DWORD>(n) : 0;
}

// Copies a narrow text as wide text to *cursor and moves the cursor on; null stays null.
LPWSTR PlaceWide(const char* text, wchar_t** cursor) {
    DWORD chars = WideChars(text);
    if (chars == 0) {
        return nullptr;
    }
    LPWSTR placed = *cursor;
    MultiByteToWideChar(CP_ACP, 0, text, -1, placed, static_cast<int>(chars));
    *cursor += chars;
    return placed;
}

// The 9x monitor's ports at LEVEL, in a buffer of its own (narrow PORT_INFO records).
BOOL EnumPorts9x(DWORD level, BYTE** buffer, DWORD* count) {
    DWORD needed = 0;
    *buffer = nullptr;
    *count = 0;
    if (g_host.table.pfnEnumPorts(nullptr, level, nullptr, 0, &needed, count)) {
        return TRUE; // no ports
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
        return FALSE;
    }
    *buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed));
    if (*buffer == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (!g_host.table.pfnEnumPorts(nullptr, level, *buffer, needed, &needed, count)) {
        DWORD error = GetLastError();
        HeapFree(GetProcessHeap(), 0, *buffer);
        *buffer = nullptr;
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI FrontEnumPorts(LPWSTR, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                           LPDWORD returned) {
    if (level != 1 && level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    BYTE* narrow = nullptr;
    DWORD count = 0;
    if (!EnumPorts9x(level, &narrow, &count)) {
        return FALSE;
    }
    auto* one = reinterpret_cast<PORT_INFO_1A*>(narrow);
    auto* two = reinterpret_cast<PORT_INFO_2A*>(narrow);
    DWORD recordSize = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    DWORD total = count * recordSize;
    for (DWORD i = 0; i < count; ++i) {
        if (level == 1) {
            total += WideChars(one[i].pName) * sizeof(wchar_t);
        } else {
            total += (WideChars(two[i].pPortName) + WideChars(two[i].pMonitorName) +
                      WideChars(two[i].pDescription)) *
                     sizeof(wchar_t);
        }
    }
    *needed = total;
    *returned = 0;
    if (size < total || (ports == nullptr && total > 0)) {
        HeapFree(GetProcessHeap(), 0, narrow);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* cursor = reinterpret_cast<wchar_t*>(ports + count * recordSize);
    for (DWORD i = 0; i < count; ++i) {
        if (level == 1) {
            auto* out = reinterpret_cast<PORT_INFO_1W*>(ports) + i;
            out->pName = PlaceWide(one[i].pName, &cursor);
        } else {
            auto* out = reinterpret_cast<PORT_INFO_2W*>(ports) + i;
            out->pPortName = PlaceWide(two[i].pPortName, &cursor);
            out->pMonitorName = PlaceWide(two[i].pMonitorName, &cursor);
            out->pDescription = PlaceWide(two[i].pDescription, &cursor);
            out->fPortType = two[i].fPortType;
            out->Reserved = two[i].Reserved;
        }
    }
    *returned = count;
    HeapFree(GetProcessHeap(), 0, narrow);
    SetLastError(0);
    return TRUE;
}

BOOL WINAPI FrontOpenPort(LPWSTR portName, PHANDLE port) {
    Narrow name(portName);
    return name.ok() ? g_host.table.pfnOpenPort(name.get(), port) : RefuseText();
}

BOOL WINAPI FrontStartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level,
                              LPBYTE docInfo) {
    if (level != 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    Narrow printer(printerName);
    DOC_INFO_1W empty{};
    const DOC_INFO_1W* wide = docInfo != nullptr ? reinterpret_cast<DOC_INFO_1W*>(docInfo) : &empty;
    Narrow document(wide->pDocName);
    Narrow output(wide->pOutputFile);
    Narrow datatype(wide->pDatatype);
    if (!printer.ok() || !document.ok() || !output.ok() || !datatype.ok()) {
        return RefuseText();
    }
    DOC_INFO_1A info{document.get(), output.get(), datatype.get()};
    return g_host.table.pfnStartDocPort(port, printer.get(), jobId, 1,
                                        docInfo != nullptr ? reinterpret_cast<LPBYTE>(&info)
                                                           : nullptr);
}

BOOL WINAPI FrontWritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written) {
    return g_host.table.pfnWritePort(port, buffer, count, written);
}

BOOL WINAPI FrontReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) {
    return g_host.table.pfnReadPort(port, buffer, count, read);
}

BOOL WINAPI FrontEndDocPort(HANDLE port) {
    return g_host.table.pfnEndDocPort(port);
}

BOOL WINAPI FrontClosePort(HANDLE port) {
    return g_host.table.pfnClosePort(port);
}

BOOL WINAPI FrontAddPort(LPWSTR serverName, HWND owner, LPWSTR monitorName) {
    Narrow server(serverName);
    Narrow monitor(monitorName);
    if (!server.ok() || !monitor.ok()) {
        return RefuseText();
    }
    BOOL added = g_host.table.pfnAddPort(server.get(), owner, monitor.get());
    Trace("AddPort %s -> %d, error %lu", monitor.get() ? monitor.get() : "(null)", added,
          GetLastError());
    return added;
}

BOOL WINAPI FrontConfigurePort(LPWSTR serverName, HWND owner, LPWSTR portName) {
    Narrow server(serverName);
    Narrow port(portName);
    if (!server.ok() || !port.ok()) {
        return RefuseText();
    }
    BOOL done = g_host.table.pfnConfigurePort(server.get(), owner, port.get());
    Trace("ConfigurePort %s -> %d", port.get() ? port.get() : "(null)", done);
    return done;
}

BOOL WINAPI FrontDeletePort(LPWSTR serverName, HWND owner, LPWSTR portName) {
    Narrow server(serverName);
    Narrow port(portName);
    if (!server.ok() || !port.ok()) {
        return RefuseText();
    }
    BOOL done = g_host.table.pfnDeletePort(server.get(), owner, port.get());
    Trace("DeletePort %s -> %d", port.get() ? port.get() : "(null)", done);
    return done;
}

} // namespace

// The spooler unloads a monitor after each call from its user interface; the 9x monitor goes
// with this front, so that its file is free again as it would be on Windows 95/98.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        UnloadMonitor9x(&g_host);
    }
    return TRUE;
}

extern "C" LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR) {
    if (g_host.module == nullptr) {
        wchar_t path[MAX_PATH];
        UINT n = GetSystemDirectoryW(path, MAX_PATH - 16);
        if (n == 0 || n >= MAX_PATH - 16) {
            return nullptr;
        }
        lstrcatW(path, L"\\nimmon9x.dll");
        if (!LoadMonitor9x(path, &g_host)) {
            Trace("InitializePrintMonitor: cannot load nimmon9x.dll, error %lu", GetLastError());
            return nullptr;
        }
        Trace("InitializePrintMonitor: nimmon9x.dll loaded");
    }
    // Only the slots that the 9x monitor fills; the spooler treats null slots as unsupported.
    memset(&g_front, 0, sizeof g_front);
    g_front.dwMonitorSize = sizeof g_front.Monitor;
    MONITOR& t = g_front.Monitor;
    const MonitorTable9x& m = g_host.table;
    t.pfnEnumPorts = m.pfnEnumPorts ? FrontEnumPorts : nullptr;
    t.pfnOpenPort = m.pfnOpenPort ? FrontOpenPort : nullptr;
    t.pfnStartDocPort = m.pfnStartDocPort ? FrontStartDocPort : nullptr;
    t.pfnWritePort = m.pfnWritePort ? FrontWritePort : nullptr;
    t.pfnReadPort = m.pfnReadPort ? FrontReadPort : nullptr;
    t.pfnEndDocPort = m.pfnEndDocPort ? FrontEndDocPort : nullptr;
    t.pfnClosePort = m.pfnClosePort ? FrontClosePort : nullptr;
    t.pfnAddPort = m.pfnAddPort ? FrontAddPort : nullptr;
    t.pfnConfigurePort = m.pfnConfigurePort ? FrontConfigurePort : nullptr;
    t.pfnDeletePort = m.pfnDeletePort ? FrontDeletePort : nullptr;
    // OpenPortEx and SetPortTimeOuts: the 9x monitor has neither. GetPrinterDataFromPort passes
    // buffers whose form depends on the control code, so no conversion can be right for all.
    return &g_front;
}
