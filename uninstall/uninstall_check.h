// nimuninst: the product's uninstaller calls these two entries, by name, before it removes the
// monitor. They share nothing with the monitor DLLs: the walk reads the registry directly.
#pragma once

#include <windows.h>

extern "C" {

// 0 when no printer prints to a port of the monitor (or the monitor has no ports): the removal
// may go on. -1 when a port is in use or the registry could not be read; the user has been told
// with a message box, and the removal must stop.
LONG WINAPI UninstInitialize(void);

// Nothing to undo; always 0.
LONG WINAPI UninstUnInitialize(void);

} // extern "C"
