// What the Windows benchmarks share: a clock, results as "name value" lines, the ports they
// store, plain Winsock helpers for the bare reference loops, and counters put into the monitor's
// socket and clock seams (sends and readiness looks per MiB).
#pragma once

#include "monitor/core/records.h"

#include <string>
#include <vector>

// Seconds since an arbitrary start, from the performance counter.
double Now();

// One result line on stdout: "name value". The harness (bench/report.py) reads them.
void Report(const char* name, double value);
void ReportText(const char* name, const char* value);

// Medians of timed rounds.
double Median(std::vector<double> values);

// Stores a port named by its URI, as the port dialog does. checkInTime 0: the status thread
// makes no query of its own between jobs.
bool StorePort(const std::string& uri, DWORD checkInTime);
std::wstring WideOf(const std::string& narrow);

// Peak and current working set of this process, and its CPU time (user + kernel), in bytes and
// seconds. Under Wine the working set is the Linux resident set.
struct ProcessFigures {
    double peakWorkingSet;
    double workingSet;
    double privateBytes;
    double cpuSeconds;
};
ProcessFigures Figures();

// User plus system seconds of a Linux process from its stat file ("Z:\\proc\\PID\\stat": Wine
// maps Z: to /); 0 when statPath is null or unreadable.
double LinuxCpuSeconds(const char* statPath);

// A connected blocking socket to 127.0.0.1:port, or INVALID_SOCKET.
SOCKET ConnectLoopback(int port);
bool SendWhole(SOCKET s, const char* data, int length);
// Reads until the peer closes; false on error.
bool ReadToClose(SOCKET s);
// Reads one reply with a Content-Length body; false on error.
bool ReadOneReply(SOCKET s);

// Calls the monitor makes through its seams, counted while installed.
struct SeamCounts {
    LONG sends;
    LONG looks; // readiness waits (select) on sockets
    LONG connects;
    double sendSeconds; // time spent inside send(), the looks and connect()
    double lookSeconds;
    double connectSeconds;
};
void CountingSeamsInstall();
SeamCounts CountingSeamsRead();
void CountingSeamsReset();

// A document piece: the pattern of a PostScript file, so that real printers accept it too.
std::vector<char> DocumentPiece(size_t bytes);
