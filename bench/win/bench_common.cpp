#include "bench/win/bench_common.h"

#include "monitor/core/clock.h"
#include "monitor/core/port_settings.h"
#include "monitor/core/text.h"
#include "monitor/transport/socket_ops.h"

#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Report(const char* name, double value) {
    printf("%s %.9g\n", name, value);
    fflush(stdout);
}

void ReportText(const char* name, const char* value) {
    printf("%s %s\n", name, value);
    fflush(stdout);
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::wstring WideOf(const std::string& narrow) {
    std::vector<wchar_t> wide(narrow.size() + 1);
    MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    return std::wstring(wide.data());
}

bool StorePort(const std::string& uri, DWORD checkInTime) {
    auto* port = static_cast<PortContext*>(calloc(1, sizeof(PortContext)));
    if (port == nullptr) {
        return false;
    }
    CopyText(port->portName, PORT_NAME_CHARS, WideOf(uri).c_str());
    CopyText(port->printerUri, sizeof port->printerUri, uri.c_str());
    port->checkInTime = checkInTime;
    bool ok = SavePortSettings(port) != FALSE;
    free(port);
    return ok;
}

ProcessFigures Figures() {
    ProcessFigures f{};
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        f.peakWorkingSet = static_cast<double>(memory.PeakWorkingSetSize);
        f.workingSet = static_cast<double>(memory.WorkingSetSize);
        f.privateBytes = static_cast<double>(memory.PrivateUsage);
    }
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        auto seconds = [](const FILETIME& t) {
            return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) |
                                       t.dwLowDateTime) /
                   1e7;
        };
        f.cpuSeconds = seconds(kernel) + seconds(user);
    }
    return f;
}

double LinuxCpuSeconds(const char* statPath) {
    if (statPath == nullptr) {
        return 0;
    }
    HANDLE file = CreateFileA(statPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    char text[1024] = {};
    DWORD n = 0;
    ReadFile(file, text, sizeof text - 1, &n, nullptr);
    CloseHandle(file);
    // Fields after the command name in parentheses: state is field 3, utime 14, stime 15.
    const char* at = strrchr(text, ')');
    if (at == nullptr) {
        return 0;
    }
    unsigned long long utime = 0, stime = 0;
    if (sscanf(at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) !=
        2) {
        return 0;
    }
    return static_cast<double>(utime + stime) / 100.0; // USER_HZ
}

SOCKET ConnectLoopback(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        return s;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    address.sin_port = htons(static_cast<u_short>(port));
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

bool SendWhole(SOCKET s, const char* data, int length) {
    while (length > 0) {
        int n = send(s, data, length, 0);
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= n;
    }
    return true;
}

bool ReadToClose(SOCKET s) {
    char buffer[16384];
    for (;;) {
        int n = recv(s, buffer, sizeof buffer, 0);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            return false;
        }
    }
}

bool ReadOneReply(SOCKET s) {
    std::string reply;
    char buffer[16384];
    size_t wanted = 0;
    for (;;) {
        int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return false;
        }
        reply.append(buffer, static_cast<size_t>(n));
        if (wanted == 0) {
            size_t end = reply.find("\r\n\r\n");
            if (end == std::string::npos) {
                continue;
            }
            size_t at = reply.find("Content-Length: ");
            if (at == std::string::npos || at > end) {
                return false;
            }
            wanted = end + 4 + strtoul(reply.c_str() + at + 16, nullptr, 10);
        }
        if (reply.size() >= wanted) {
            return true;
        }
    }
}

namespace {

const SocketOps* g_realSockets = nullptr;
SocketOps g_countingSockets;
ClockOps g_countingClock;
volatile LONG g_sends = 0;
volatile LONG g_looks = 0;
volatile LONG g_connects = 0;
// Sums of the time spent in the calls; only one thread of the benchmarks sends and looks.
double g_sendSeconds = 0;
double g_lookSeconds = 0;
double g_connectSeconds = 0;

int WSAAPI CountingSend(SOCKET s, const char* data, int length, int flags) {
    InterlockedIncrement(&g_sends);
    double t0 = Now();
    int result = g_realSockets->send(s, data, length, flags);
    g_sendSeconds += Now() - t0;
    return result;
}

int WSAAPI CountingConnect(SOCKET s, const sockaddr* address, int length) {
    InterlockedIncrement(&g_connects);
    double t0 = Now();
    int result = g_realSockets->connect(s, address, length);
    g_connectSeconds += Now() - t0;
    return result;
}

int CountingWaitReadable(SOCKET s, DWORD ms) {
    InterlockedIncrement(&g_looks);
    double t0 = Now();
    int result = ClockReal()->waitReadable(s, ms);
    g_lookSeconds += Now() - t0;
    return result;
}

} // namespace

void CountingSeamsInstall() {
    g_realSockets = Sockets();
    g_countingSockets = *g_realSockets;
    g_countingSockets.send = CountingSend;
    g_countingSockets.connect = CountingConnect;
    SocketsInstall(&g_countingSockets);
    g_countingClock = *ClockReal();
    g_countingClock.waitReadable = CountingWaitReadable;
    ClockInstall(&g_countingClock);
}

SeamCounts CountingSeamsRead() {
    return SeamCounts{InterlockedCompareExchange(&g_sends, 0, 0),
                      InterlockedCompareExchange(&g_looks, 0, 0),
                      InterlockedCompareExchange(&g_connects, 0, 0),
                      g_sendSeconds,
                      g_lookSeconds,
                      g_connectSeconds};
}

void CountingSeamsReset() {
    InterlockedExchange(&g_sends, 0);
    InterlockedExchange(&g_looks, 0);
    InterlockedExchange(&g_connects, 0);
    g_sendSeconds = 0;
    g_lookSeconds = 0;
    g_connectSeconds = 0;
}

std::vector<char> DocumentPiece(size_t bytes) {
    static const char line[] = "%!PS-Adobe-3.0\n% Nimbrel benchmark document, line of filler.\n";
    std::vector<char> piece(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        piece[i] = line[i % (sizeof line - 1)];
    }
    return piece;
}
