// The small modeless "Conectándose..." box that AddPort shows while it asks a new printer for
// its attributes.
#pragma once

#include "monitor/core/portable.h"

INT_PTR CALLBACK ConnectingBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
