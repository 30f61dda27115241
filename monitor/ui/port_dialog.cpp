#include "monitor/ui/port_dialog.h"

#include "monitor/core/monitor_globals.h"
#include "monitor/core/port_settings.h"
#include "monitor/core/text.h"
#include "monitor/transport/printer_uri.h"
#include "monitor/ui/help_hook.h"
#include "monitor/ui/message_box.h"
#include "monitor/ui/resource.h"

#include <string.h>

namespace {

// The four controls that belong to "Utilizar Proxy".
const int PROXY_CONTROLS[] = {IDC_PROXY_LABEL, IDC_PROXY_SERVER, IDC_PROXY_PORT_LABEL,
                              IDC_PROXY_PORT};

// The host and path found in the typed URI, before they go into the record.
const size_t SPLIT_PART_BYTES = 1024;

// Largest port number a printer URI may name.
const LONG MAX_PORT_NUMBER = 65535;

PortContext* RecordOf(HWND dialog) {
    auto** slot = reinterpret_cast<PortContext**>(GetWindowLongPtr(dialog, GWLP_USERDATA));
    return slot != nullptr ? *slot : nullptr;
}

void EnableProxyControls(HWND dialog, BOOL enable) {
    for (int id : PROXY_CONTROLS) {
        EnableWindow(GetDlgItem(dialog, id), enable);
    }
}

void ShowProxyValues(HWND dialog, const PortContext* port, BOOL emptyPortWhenZero) {
    TCHAR number[16] = TEXT("");
    if (!(emptyPortWhenZero && port->proxyPort == 0)) {
        wsprintf(number, TEXT("%d"), static_cast<int>(port->proxyPort));
    }
    SetDlgItemText(dialog, IDC_PROXY_PORT, number);
    TCHAR server[PROXY_SERVER_BYTES];
    TextFromNarrow(server, PROXY_SERVER_BYTES, port->proxyServer);
    SetDlgItemText(dialog, IDC_PROXY_SERVER, server);
}

void InitPortConfigDialog(HWND dialog, LPARAM param) {
    SetForegroundWindow(dialog);
    SetWindowLongPtr(dialog, GWLP_USERDATA, param);
    SendDlgItemMessage(dialog, IDC_URI, EM_LIMITTEXT, URI_TYPING_LIMIT, 0);
    SendDlgItemMessage(dialog, IDC_PROXY_SERVER, EM_LIMITTEXT, PROXY_SERVER_TYPING_LIMIT, 0);
    SendDlgItemMessage(dialog, IDC_PROXY_PORT, EM_LIMITTEXT, PROXY_PORT_TYPING_LIMIT, 0);
#ifndef NIMBREL_9X
    InstallHelpHook(dialog);
#endif
}

BOOL OnInitDialog(HWND dialog, LPARAM param) {
    TCHAR version[64];
    wsprintf(version, TEXT("Nimbrel %s"), MONITOR_VERSION_TEXT);
    SetDlgItemText(dialog, IDC_VERSION, version);

    InitPortConfigDialog(dialog, param);
    PortContext* port = RecordOf(dialog);
    if (port == nullptr) {
        EndDialog(dialog, 0); // no record to edit
        return TRUE;
    }
    // A stored UseProxy other than 0 and 1 shows unchecked; the record says so too, so that
    // the check box and the record never disagree.
    if (port->useProxy != 1) {
        port->useProxy = 0;
    }

    if (LoadShared(&port->checkInTime) != 0) {
        CheckDlgButton(dialog, IDC_CHECK_IN_TIME, BST_CHECKED);
    }
    HWND uriField = GetDlgItem(dialog, IDC_URI);
    if (port->portName[0] != 0) {
        SetWindowText(dialog, TEXT("Configurar el puerto"));
        TCHAR uri[URI_BYTES];
        TextFromNarrow(uri, URI_BYTES, port->printerUri);
        SetWindowText(uriField, uri);
        EnableWindow(uriField, FALSE);
        // The label is the control just before the field (it has no id of its own in every
        // build).
        EnableWindow(GetWindow(uriField, GW_HWNDPREV), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_QUERY_ON_ADD), FALSE);
    } else {
        SetWindowText(uriField, TEXT("http://"));
    }

    if (port->useProxy == 1) {
        CheckDlgButton(dialog, IDC_USE_PROXY, BST_CHECKED);
#ifdef NIMBREL_9X
        ShowProxyValues(dialog, port, TRUE);
#else
        ShowProxyValues(dialog, port, FALSE);
#endif
        EnableProxyControls(dialog, TRUE);
    } else {
        EnableProxyControls(dialog, FALSE);
    }
    UpdateWindow(dialog);
    return TRUE;
}

// Disabling keeps what the fields show; enabling shows the record's values again.
void OnUseProxyClicked(HWND dialog, PortContext* port) {
    if (port->useProxy != 0) {
        EnableProxyControls(dialog, FALSE);
        port->useProxy = 0;
    } else {
        EnableProxyControls(dialog, TRUE);
        ShowProxyValues(dialog, port, TRUE);
        port->useProxy = 1;
    }
    UpdateWindow(dialog);
}

void Flip(DWORD* flag) {
    StoreShared(flag, LoadShared(flag) == 0 ? 1 : 0);
}

BOOL OnPortConfigCancel(HWND dialog) {
    EndDialog(dialog, 0);
    return TRUE;
}

// Shows why the input is refused; the dialog stays open with the user's input.
BOOL Refuse(HWND dialog, UINT messageId, const TCHAR* argument) {
    ShowResourceMessage(dialog, MB_ICONERROR, IDS_CAPTION, messageId, argument);
    return FALSE;
}

// The typed URI in the ANSI code page. FALSE when it does not fit, or when it holds a character
// that the code page cannot represent: a stand-in "?" would make the stored printer URI name a
// different printer than the one typed.
BOOL UriToNarrow(char* uri, size_t uriBytes, const TCHAR* typed) {
#ifdef UNICODE
    BOOL usedDefault = FALSE;
    int needed = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, typed, -1, nullptr, 0, nullptr,
                                     &usedDefault);
    if (needed <= 0 || static_cast<size_t>(needed) > uriBytes || usedDefault) {
        return FALSE;
    }
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, typed, -1, uri,
                               static_cast<int>(uriBytes), nullptr, nullptr) > 0;
#else
    return CopyText(uri, uriBytes, typed);
#endif
}

// Makes the scheme lower case. FALSE when it is neither "http://" nor "ipp://".
BOOL LowerScheme(char* uri) {
    if (CompareNoCaseN(uri, "http://", 7) == 0) {
        memcpy(uri, "http", 4);
        return TRUE;
    }
    if (CompareNoCaseN(uri, "ipp://", 6) == 0) {
        memcpy(uri, "ipp", 3);
        return TRUE;
    }
    return FALSE;
}

} // namespace

BOOL OnPortConfigOk(HWND dialog) {
    PortContext* port = RecordOf(dialog);
    if (port == nullptr) {
        return FALSE;
    }

    // 1. The URI as typed.
    TCHAR typed[URI_READ_CHARS] = {};
    GetDlgItemText(dialog, IDC_URI, typed, URI_READ_CHARS);
    if (typed[0] == 0) {
        return Refuse(dialog, IDS_BAD_PRINTER_URI, typed);
    }

    // 2. Split into host, port and path.
    char uri[URI_BYTES];
    char host[SPLIT_PART_BYTES] = "";
    char path[SPLIT_PART_BYTES] = "";
    LONG number = 0;
    if (!UriToNarrow(uri, sizeof uri, typed) ||
        !SplitPrinterUri(uri, host, sizeof host, &number, path, sizeof path)) {
        return Refuse(dialog, IDS_BAD_PRINTER_URI, typed);
    }

    // 3. Only http and ipp; any other scheme is ignored without a word.
    if (!LowerScheme(uri)) {
        return FALSE;
    }
#ifdef NIMBREL_9X
    // From here on the Windows 95/98 build names the URI with its scheme in lower case.
    const TCHAR* name = uri;
#else
    const TCHAR* name = typed;
#endif

    // 4.-6. Host, path and port number. A host or path longer than the record's fields is
    // refused too, rather than stored cut.
    if (!IsValidHostName(host) || !IsValidUriPath(path) || number < 0 || number > MAX_PORT_NUMBER ||
        BoundedLength(host, sizeof host) >= HOST_BYTES ||
        BoundedLength(path, sizeof path) >= PATH_BYTES) {
        return Refuse(dialog, IDS_BAD_PRINTER_URI, name);
    }

    // 7. The printer's address goes into the record.
    CopyText(port->host, HOST_BYTES, host);
    CopyText(port->path, PATH_BYTES, path);
    port->port = number;

    // 8. The proxy, when one is used.
    if (port->useProxy == 1) {
        TCHAR proxyText[PROXY_SERVER_READ_CHARS] = {};
        TCHAR portText[PROXY_PORT_READ_CHARS] = {};
        GetDlgItemText(dialog, IDC_PROXY_SERVER, proxyText, PROXY_SERVER_READ_CHARS);
        if (proxyText[0] == 0) {
            return Refuse(dialog, IDS_BAD_PROXY_NAME, proxyText);
        }
        GetDlgItemText(dialog, IDC_PROXY_PORT, portText, PROXY_PORT_READ_CHARS);
        char proxyServer[PROXY_SERVER_BYTES];
        if (NarrowFromText(proxyServer, sizeof proxyServer, proxyText) == 0 ||
            !IsValidHostName(proxyServer)) {
            return Refuse(dialog, IDS_BAD_PROXY_NAME, proxyText);
        }
        char portNarrow[PROXY_PORT_READ_CHARS];
        if (NarrowFromText(portNarrow, sizeof portNarrow, portText) == 0 ||
            !IsValidPortText(portNarrow)) {
            return Refuse(dialog, IDS_BAD_PROXY_PORT, portText);
        }
        port->proxyPort = static_cast<DWORD>(ReadDecimal(portNarrow));
        CopyText(port->proxyServer, PROXY_SERVER_BYTES, proxyServer);
    } else {
        port->proxyPort = 0;
        port->proxyServer[0] = '\0';
    }

    // 9. The name must be this port's own or still free. Registry key names are matched
    // without regard to case, and so is this.
    if (lstrcmpi(name, port->portName) != 0 && PortSettingsExist(name)) {
        return Refuse(dialog, IDS_PORT_EXISTS, name);
    }

    // 10. Accepted.
    CopyText(port->printerUri, URI_BYTES, uri);
    CopyText(port->portName, PORT_NAME_CHARS, name);
    EndDialog(dialog, 1);
    return TRUE;
}

INT_PTR CALLBACK PortConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog, lParam);
    case WM_COMMAND: {
        PortContext* port = RecordOf(dialog);
        switch (LOWORD(wParam)) {
        case IDOK:
            return OnPortConfigOk(dialog);
        case IDCANCEL:
            return OnPortConfigCancel(dialog);
        case IDC_USE_PROXY:
            if (port == nullptr || HIWORD(wParam) != BN_CLICKED) {
                return FALSE;
            }
            OnUseProxyClicked(dialog, port);
            return TRUE;
        case IDC_QUERY_ON_ADD:
            if (port == nullptr || HIWORD(wParam) != BN_CLICKED) {
                return FALSE;
            }
            Flip(&port->queryOnAdd);
            return TRUE;
        case IDC_CHECK_IN_TIME:
            if (port == nullptr || HIWORD(wParam) != BN_CLICKED) {
                return FALSE;
            }
            Flip(&port->checkInTime);
            return TRUE;
        default:
            return FALSE; // edit notifications and the like
        }
    }
    case WM_DESTROY:
#ifndef NIMBREL_9X
        RemoveHelpHook(dialog);
#endif
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL RunPortConfigDialog(HWND owner, PortContext* port) {
    INT_PTR result = DialogBoxParam(g_monitorInstance, MAKEINTRESOURCE(IDD_PORT_CONFIG), owner,
                                    PortConfigDialogProc, reinterpret_cast<LPARAM>(&port));
    return result == 1;
}
