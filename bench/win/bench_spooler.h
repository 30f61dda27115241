// End to end through Wine's spooler: the monitor installed, a port and a printer added, a
// document printed.
#pragma once

// Installs the monitor DLL, stores a port for uri and adds a printer on it.
int SpoolerSetup(const char* dll, const char* uri);

// Prints the file through the printer of SpoolerSetup and reports the time of each phase, and
// the CPU time spent in it by this process, the wineserver and the printer (their stat files,
// as for LinuxCpuSeconds; null when not known).
int SpoolerPrint(const char* path, const char* serverStat, const char* printerStat);
