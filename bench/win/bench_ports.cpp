// Many ports: hundreds open at once with their status threads polling the fake printer, and
// EnumPorts over a thousand stored ports beside a bare walk of the same registry keys.
#include "bench/win/bench_ports.h"

#include "bench/win/bench_common.h"
#include "monitor/core/port_entries.h"
#include "monitor/core/port_settings.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Seconds after the last OpenPort before the steady state is measured: the first polls are done.
const DWORD SETTLE_MS = 5000;

// Seconds since 1970, as the fake printer stamps its records.
double UnixNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ULL) / 1e7;
}

DWORD WINAPI WaitingThread(LPVOID event) {
    WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

// Resident memory of one bare thread made as the monitor makes a status thread (16 KiB stack,
// lowest priority) and waiting on an event: what any thread costs under Wine. Returns KiB.
double BareThreadKib(int threads) {
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<HANDLE> handles;
    double before = Figures().workingSet;
    for (int i = 0; i < threads; ++i) {
        HANDLE thread = CreateThread(nullptr, 16384, WaitingThread, stop, 0, nullptr);
        if (thread == nullptr) {
            break;
        }
        SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
        handles.push_back(thread);
    }
    Sleep(1000);
    double after = Figures().workingSet;
    SetEvent(stop);
    for (HANDLE thread : handles) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    CloseHandle(stop);
    return handles.empty() ? 0 : (after - before) / static_cast<double>(handles.size()) / 1024.0;
}

} // namespace

int ScaleBenchmark(int printerPort, int ports, int seconds, const char* serverStat) {
    for (int i = 0; i < ports; ++i) {
        char uri[128];
        snprintf(uri, sizeof uri, "ipp://127.0.0.1:%d/ipp/print/%04d", printerPort, i);
        if (!StorePort(uri, 1)) {
            fprintf(stderr, "nimbench: cannot store port %d\n", i);
            return 1;
        }
    }
    Report("bare_thread_kib", BareThreadKib(ports));
    std::vector<HANDLE> handles(static_cast<size_t>(ports), nullptr);
    ProcessFigures before = Figures();
    double openedAt = UnixNow();
    double t0 = Now();
    for (int i = 0; i < ports; ++i) {
        char uri[128];
        snprintf(uri, sizeof uri, "ipp://127.0.0.1:%d/ipp/print/%04d", printerPort, i);
        std::wstring name = WideOf(uri);
        if (!OpenPort(&name[0], &handles[static_cast<size_t>(i)])) {
            fprintf(stderr, "nimbench: OpenPort %d failed, error %lu\n", i, GetLastError());
            return 1;
        }
    }
    double openSeconds = Now() - t0;
    Sleep(SETTLE_MS);

    ProcessFigures settled = Figures();
    SeamCounts c1 = CountingSeamsRead();
    double server1 = LinuxCpuSeconds(serverStat);
    double windowStart = UnixNow();
    double steadyStart = Now();
    double remaining = seconds - (steadyStart - t0);
    if (remaining > 0) {
        Sleep(static_cast<DWORD>(remaining * 1000));
    }
    ProcessFigures after = Figures();
    SeamCounts c2 = CountingSeamsRead();
    double server2 = LinuxCpuSeconds(serverStat);
    double windowEnd = UnixNow();
    double polls = c2.connects - c1.connects;

    Report("ports", ports);
    Report("open_all_s", openSeconds);
    Report("opened_unix", openedAt);
    Report("window_start_unix", windowStart);
    Report("window_end_unix", windowEnd);
    Report("window_s", Now() - steadyStart);
    Report("working_set_before", before.workingSet);
    Report("working_set_open", settled.workingSet);
    Report("working_set_end", after.workingSet);
    Report("kib_per_port", (settled.workingSet - before.workingSet) / ports / 1024.0);
    Report("private_kib_per_port", (settled.privateBytes - before.privateBytes) / ports / 1024.0);
    Report("polls_in_window", polls);
    Report("process_cpu_ms_per_poll",
           polls > 0 ? (after.cpuSeconds - settled.cpuSeconds) / polls * 1e3 : 0);
    Report("server_cpu_ms_per_poll", polls > 0 ? (server2 - server1) / polls * 1e3 : 0);
    Report("process_cpu_share", (after.cpuSeconds - settled.cpuSeconds) / (Now() - steadyStart));

    // Closing, one port after another as a spooler does: each waits for its status thread.
    std::vector<double> closing;
    double closeStart = Now();
    for (HANDLE handle : handles) {
        double c0 = Now();
        ClosePort(handle);
        closing.push_back(Now() - c0);
    }
    Report("close_all_s", Now() - closeStart);
    Report("close_port_ms", Median(closing) * 1e3);
    Report("close_port_max_ms", *std::max_element(closing.begin(), closing.end()) * 1e3);
    return 0;
}

int EnumBenchmark(int ports, int rounds) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH);
    for (int i = 0; i < ports; ++i) {
        char uri[128];
        snprintf(uri, sizeof uri, "ipp://printer-%04d.example:631/ipp/print", i);
        if (!StorePort(uri, 1)) {
            fprintf(stderr, "nimbench: cannot store port %d\n", i);
            return 1;
        }
    }

    auto enumerate = [](DWORD level, DWORD* count) {
        DWORD needed = 0, returned = 0;
        EnumPorts(nullptr, level, nullptr, 0, &needed, &returned);
        std::vector<BYTE> buffer(needed);
        if (!EnumPorts(nullptr, level, buffer.data(), needed, &needed, &returned)) {
            return false;
        }
        *count = returned;
        return true;
    };
    // The bare walk: every port key's name and its PortName value, nothing else.
    auto walk = [](DWORD* count) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PORTS_KEY_PATH, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        DWORD n = 0;
        for (DWORD index = 0;; ++index) {
            wchar_t name[PORT_NAME_CHARS];
            DWORD chars = PORT_NAME_CHARS;
            if (RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            HKEY sub;
            if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
                wchar_t value[PORT_NAME_CHARS];
                DWORD bytes = sizeof value;
                RegQueryValueExW(sub, L"PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                                 &bytes);
                RegCloseKey(sub);
            }
            ++n;
        }
        RegCloseKey(key);
        *count = n;
        return true;
    };

    DWORD count1 = 0, count2 = 0, countBare = 0;
    if (!enumerate(2, &count2) || !walk(&countBare)) { // warm-up
        fprintf(stderr, "nimbench: EnumPorts failed, error %lu\n", GetLastError());
        return 1;
    }
    std::vector<double> level1, level2, bare, ratios;
    for (int round = 0; round < rounds; ++round) {
        double t0 = Now();
        enumerate(1, &count1);
        double t1 = Now();
        enumerate(2, &count2);
        double t2 = Now();
        walk(&countBare);
        double t3 = Now();
        level1.push_back(t1 - t0);
        level2.push_back(t2 - t1);
        bare.push_back(t3 - t2);
        ratios.push_back((t2 - t1) / (t3 - t2));
    }
    Report("ports", ports);
    Report("returned_level1", count1);
    Report("returned_level2", count2);
    Report("level1_ms", Median(level1) * 1e3);
    Report("level2_ms", Median(level2) * 1e3);
    Report("bare_ms", Median(bare) * 1e3);
    Report("ratio", Median(ratios));
    return 0;
}
