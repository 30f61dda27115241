// The port dialog (template 200): the one place where a user creates or changes a port. It
// checks what the user typed and writes it into a PortContext that its caller owns; storing the
// record is the caller's business (AddPort, ConfigurePort).
#pragma once

#include "monitor/core/records.h"

// The version shown in the dialog's version label, as "Nimbrel <version>".
#define MONITOR_VERSION_TEXT TEXT("1.1bS")

// Characters read from each field on OK, terminator included.
#define URI_READ_CHARS 1024
#define PROXY_SERVER_READ_CHARS 1024
#define PROXY_PORT_READ_CHARS 32

// Runs the dialog modally on the record. TRUE only when the user's input was accepted (the
// dialog ended with 1); Cancel, the close box or a dialog that cannot be created give FALSE.
BOOL RunPortConfigDialog(HWND owner, PortContext* port);

// The dialog procedure. The initialisation parameter is the address of a variable that holds
// the record's address; it must stay valid until the dialog has ended.
INT_PTR CALLBACK PortConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The OK button: checks the fields in a fixed order and either writes the record and ends the
// dialog with 1 (TRUE), or shows why the input is refused and keeps the dialog open (FALSE).
BOOL OnPortConfigOk(HWND dialog);
