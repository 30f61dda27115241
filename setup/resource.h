// Resource ids of nimsetup.exe. Included by the .rc file and by the code.
#pragma once

#define IDD_COMPLETION 102

#define IDS_MONITOR_MISSING 1 // shown when the monitor file or the monitor key is missing
#define IDS_NO_MEMORY 2       // in the table, shown by no path
#define IDS_CANNOT_ADD 3      // in the table, shown by no path

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
