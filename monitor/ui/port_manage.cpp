// AddPort, ConfigurePort and DeletePort: the spooler's way of letting a user manage the
// monitor's ports. Each works on a port record of its own on the stack, never on an open port.
#include "monitor/core/port_entries.h"

#include "monitor/core/handles.h"
#include "monitor/core/monitor_globals.h"
#include "monitor/core/port_settings.h"
#include "monitor/ipp/ipp_request.h"
#include "monitor/ipp/query_printer.h"
#include "monitor/ipp/status_map.h"
#include "monitor/transport/printer_uri.h"
#include "monitor/ui/connecting_box.h"
#include "monitor/ui/message_box.h"
#include "monitor/ui/port_dialog.h"
#include "monitor/ui/resource.h"

#include <string.h>

namespace {

#ifndef NIMBREL_9X

// Joins the calling thread's input with that of the owner window's thread for the time of a
// dialog, so that the dialog can come to the front over the window that asked for it.
class InputJoin {
  public:
    explicit InputJoin(HWND owner)
        : self_(GetCurrentThreadId()), ownerThread_(GetWindowThreadProcessId(owner, nullptr)),
          joined_(AttachThreadInput(self_, ownerThread_, TRUE)) {}
    // Detaching names the two threads as the attach did.
    ~InputJoin() {
        if (joined_) {
            LastErrorGuard keep;
            AttachThreadInput(self_, ownerThread_, FALSE);
        }
    }
    InputJoin(const InputJoin&) = delete;
    InputJoin& operator=(const InputJoin&) = delete;

  private:
    DWORD self_;
    DWORD ownerThread_;
    BOOL joined_;
};

#endif

// The "Conectándose..." box, on screen while the printer is asked. It is painted once: no
// message loop runs while the query blocks. Its text is a control of its own, which painting
// the box alone (UpdateWindow) leaves blank: the box is painted with its controls. A look at the
// queue for paint messages alone (it dispatches nothing) then lets a system that composes
// windows later (Wine) put the painted box on the screen before the thread blocks.
class ConnectingBox {
  public:
    explicit ConnectingBox(HWND owner)
        : box_(CreateDialogParam(g_monitorInstance, MAKEINTRESOURCE(IDD_CONNECTING), owner,
                                 ConnectingBoxProc, 0)) {
        if (box_ != nullptr) {
            ShowWindow(box_, SW_SHOWNOACTIVATE);
            UpdateWindow(box_);
            RedrawWindow(box_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            MSG pending;
            PeekMessage(&pending, box_, WM_PAINT, WM_PAINT, PM_NOREMOVE | PM_QS_PAINT);
        }
    }
    ~ConnectingBox() {
        if (box_ != nullptr) {
            LastErrorGuard keep;
            DestroyWindow(box_);
        }
    }
    ConnectingBox(const ConnectingBox&) = delete;
    ConnectingBox& operator=(const ConnectingBox&) = delete;

  private:
    HWND box_;
};

// Asks the new printer for its attributes once. TRUE when it answered and the answer is
// acceptable; otherwise the message and the error code that tell why.
BOOL TryPrinter(HWND owner, const PortContext* port, DWORD* messageId, DWORD* error) {
    JobContext query;
    memset(&query, 0, sizeof query);
    query.socket = INVALID_SOCKET;
    query.jobId = 1; // the IPP request id
    if (port->useProxy != 0) {
        FormatProxyUrl(query.proxyUrl, sizeof query.proxyUrl, port->proxyServer, port->proxyPort);
    }
    PrepareIppRequest(&query, port);

    // The texts of the answer are not used: no model message is shown after a good answer.
    PrinterWords words;
    memset(&words, 0, sizeof words);
    LONG httpStatus = 0;
    LONG ippStatus = 0;
    int answered;
    {
        ConnectingBox box(owner);
        answered = QueryPrinter(&query, &httpStatus, &words, &ippStatus, port);
    }
    if (answered != 1) {
        *messageId = IDS_CANNOT_CONNECT;
        *error = ERROR_NETWORK_UNREACHABLE;
        return FALSE;
    }
    return CheckHttpStatus(httpStatus, messageId, error) &&
           CheckIppStatus(ippStatus, messageId, error);
}

} // namespace

BOOL WINAPI AddPort(LPTSTR, HWND owner, LPTSTR) {
    PortContext port;
    memset(&port, 0, sizeof port);

    BOOL accepted;
    {
#ifndef NIMBREL_9X
        InputJoin join(owner);
#endif
        accepted = RunPortConfigDialog(owner, &port);
    }
    if (!accepted) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    }

    DWORD messageId = 0;
    DWORD error = 0;
    if (LoadShared(&port.queryOnAdd) == 0 || TryPrinter(owner, &port, &messageId, &error)) {
        SavePortSettings(&port); // a failed save is not reported
        SetLastError(0);
        return TRUE;
    }
    ShowResourceMessage(owner, MB_ICONERROR, IDS_CAPTION, messageId, port.portName);
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI ConfigurePort(LPTSTR, HWND owner, LPTSTR portName) {
    DWORD callerError = GetLastError();
    PortContext port;
    memset(&port, 0, sizeof port);
    BOOL loaded;
    {
#ifndef NIMBREL_9X
        InputJoin join(owner);
#endif
        // A port whose settings cannot be loaded (no entry, or a name that is no printer URI)
        // has nothing to configure: the dialog would open empty, in add mode, and OK would
        // replace the port by whatever was typed.
        loaded = LoadPortSettings(portName, &port);
        if (loaded) {
            PortContext* record = &port;
            if (DialogBoxParam(g_monitorInstance, MAKEINTRESOURCE(IDD_PORT_CONFIG), owner,
                               PortConfigDialogProc, reinterpret_cast<LPARAM>(&record)) == 1) {
                // The name may have changed in the case of its letters: the entry is written
                // again under the new name. The results are not reported.
                DeletePortSettings(portName);
                SavePortSettings(&port);
            }
        }
    }
    if (!loaded) {
        SetLastError(ERROR_UNKNOWN_PORT);
        return FALSE;
    }
    SetLastError(callerError);
    return TRUE;
}

BOOL WINAPI DeletePort(LPTSTR, HWND, LPTSTR portName) {
    LastErrorGuard keep;
    // Deleting a port that is not there succeeds as well.
    DeletePortSettings(portName);
    return TRUE;
}
