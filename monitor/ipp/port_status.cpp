#include "monitor/ipp/port_status.h"

#include "monitor/core/clock.h"
#include "monitor/core/monitor_globals.h"
#include "monitor/core/port_settings.h"
#include "monitor/core/spooler_services.h"
#include "monitor/ipp/ipp_request.h"
#include "monitor/ipp/query_printer.h"
#include "monitor/ipp/status_map.h"
#include "monitor/transport/printer_uri.h"

#include <string.h>

void SetPortStatus(PortContext* port, DWORD status) {
#ifdef NIMBREL_9X
    if (port->printerHandle != nullptr) {
        Spooler()->setPrinterA(port->printerHandle, 0,
                               reinterpret_cast<LPBYTE>(static_cast<uintptr_t>(status)),
                               PRINTER_CONTROL_SET_STATUS);
    }
#else
    PORT_INFO_3W info;
    info.dwStatus = status;
    info.pszStatus = nullptr;
    info.dwSeverity = status != 0 ? PORT_STATUS_TYPE_WARNING : 0;
    Spooler()->setPortW(nullptr, port->portName, 3, reinterpret_cast<LPBYTE>(&info));
#endif
}

namespace {

// The thread's own request record and answer texts; kept off its small stack.
struct StatusQueryState {
    JobContext request;
    PrinterWords words;
};

// Last act of the thread: release the wake event. After this the record may be freed at once.
// Under the global lock, so ClosePort never duplicates a handle that is being closed.
void ReleaseWakeEvent(PortContext* port) {
    MonitorLockGuard lock;
    HANDLE event = LoadSharedHandle(&port->wakeEvent);
    if (event != nullptr) {
        CloseHandle(event);
    }
    StoreSharedHandle(&port->wakeEvent, nullptr);
}

// One poll: asks the printer and returns the status to show.
DWORD PollPrinter(PortContext* port, StatusQueryState* state, DWORD requestId) {
    const DWORD offline = PortStatusValue(STATUS_OFFLINE, MONITOR_FLAVOR);
    JobContext* request = &state->request;
    memset(request, 0, sizeof *request);
    request->socket = INVALID_SOCKET;
    if (port->useProxy != 0) {
        FormatProxyUrl(request->proxyUrl, sizeof request->proxyUrl, port->proxyServer,
                       port->proxyPort);
    }
    PrepareIppRequest(request, port);
    memset(&state->words, 0, sizeof state->words);
    request->jobId = requestId;

    LONG httpStatus = 0;
    LONG ippStatus = 0;
    int answered = QueryPrinter(request, &httpStatus, &state->words, &ippStatus, port);
    StoreShared(&port->printerReachable, answered ? 1 : 0);
    if (!answered) {
        SetPortStatus(port, offline);
        StoreShared(&port->checkInTime, 0);
    }
    DWORD messageId = 0;
    DWORD error = 0;
    if (!CheckHttpStatus(httpStatus, &messageId, &error) ||
        !CheckIppStatus(ippStatus, &messageId, &error)) {
        SetPortStatus(port, offline);
        StoreShared(&port->checkInTime, 0);
    }
    return MapPrinterStatus(httpStatus, state->words.stateWord, state->words.reasonWord, &error);
}

// Polls until the port is closed or, in nimmon9x, its settings can no longer be read.
void WatchPort(PortContext* port, StatusQueryState* state) {
    DWORD previous = 0;
    DWORD nextRequestId = 1;
    for (;;) {
        // Settings may have changed through ConfigurePort since the last pass.
        BOOL loaded = LoadPortSettings(port->portName, port);
#ifdef NIMBREL_9X
        if (!loaded) {
            return; // the port's key is gone or its name no longer splits: stop watching it
        }
#else
        (void)loaded; // the last settings that loaded stay in force
#endif
        if ((PortFlags(port) & PORT_FLAG_OPEN) == 0) {
            return;
        }

        DWORD status = 0;
        if (state != nullptr &&
            (LoadShared(&port->checkInTime) != 0 || (PortFlags(port) & PORT_FLAG_DOC_ACTIVE))) {
            status = PollPrinter(port, state, nextRequestId++);
        }
        if (status != previous) {
            SetPortStatus(port, status);
            previous = status;
        }

        DWORD flags = PortFlags(port);
        bool printing = (flags & PORT_FLAG_DOC_ACTIVE) && (flags & PORT_FLAG_OPEN);
        ClockWaitObject(LoadSharedHandle(&port->wakeEvent),
                        printing ? STATUS_POLL_PRINTING_MS : STATUS_POLL_IDLE_MS);
    }
}

} // namespace

DWORD WINAPI StatusThread(LPVOID portRecord) {
    auto* port = static_cast<PortContext*>(portRecord);
    auto* state = static_cast<StatusQueryState*>(MonitorAlloc(sizeof(StatusQueryState)));
    WatchPort(port, state);
    // Everything of the thread's own is given back before the hand-over: once the event is
    // released ClosePort returns, and the spooler may free the record and unload the monitor.
    MonitorFree(state);
    SetPortStatus(port, 0);
    ReleaseWakeEvent(port);
    return 0;
}
