// Where the time of a transfer goes under Wine: the bare loop with one ingredient of the monitor's
// work added at a time (a readiness look after each send, the socket time-outs the monitor sets,
// a zero-filled buffer per send, reading the data from a file). Each variant moves the same bytes
// to the sink, alternating with the plain loop, and is reported as a ratio to it.
#include "bench/win/bench_probe.h"

#include "bench/win/bench_common.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const double MIB = 1024.0 * 1024.0;

struct Variant {
    const char* name;
    size_t sendBytes;
    bool look;     // select() with a zero time-out after each send
    bool timeouts; // SO_SNDTIMEO and SO_RCVTIMEO as the monitor sets them
    bool allocate; // a zero-filled heap block per send, copied into
    bool fromFile; // the data read from a file in pieces of sendBytes
    int fileOnly;  // no socket: 1 writes a new file in pieces of sendBytes, 2 reads the file
    bool fionread; // ioctlsocket(FIONREAD) after each send: is there anything to read?
};

const Variant VARIANTS[] = {
    {"send_4k", 4096, false, false, false, false, 0, false},
    {"send_4k_look", 4096, true, false, false, false, 0, false},
    {"send_4k_timeouts", 4096, false, true, false, false, 0, false},
    {"send_4k_alloc", 4096, false, false, true, false, 0, false},
    {"send_4k_fionread", 4096, false, false, false, false, 0, true},
    {"send_16k", 16384, false, false, false, false, 0, false},
    {"send_64k", 65536, false, false, false, false, 0, false},
    {"send_64k_look", 65536, true, false, false, false, 0, false},
    {"send_64k_file", 65536, false, false, false, true, 0, false},
    {"send_64k_file_look", 65536, true, false, false, true, 0, false},
    {"file_write_4k", 4096, false, false, false, false, 1, false},
    {"file_write_64k", 65536, false, false, false, false, 1, false},
    {"file_read_64k", 65536, false, false, false, false, 2, false},
};

const wchar_t PROBE_WRITE_FILE[] = L"C:\\nimbrel-probe-write.bin";

const wchar_t PROBE_FILE[] = L"C:\\nimbrel-probe.bin";

bool MakeFile(double bytes) {
    HANDLE file = CreateFileW(PROBE_FILE, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::vector<char> piece = DocumentPiece(65536);
    bool ok = true;
    for (double done = 0; ok && done < bytes; done += piece.size()) {
        DWORD n = 0;
        ok = WriteFile(file, piece.data(), static_cast<DWORD>(piece.size()), &n, nullptr) &&
             n == piece.size();
    }
    CloseHandle(file);
    return ok;
}

// File-only variants: writing a new file, or reading the probe file, piece by piece.
double RunFileVariant(const Variant& v, double bytes) {
    bool writing = v.fileOnly == 1;
    HANDLE file = writing ? CreateFileW(PROBE_WRITE_FILE, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                          : CreateFileW(PROBE_FILE, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    std::vector<char> piece = DocumentPiece(v.sendBytes);
    bool ok = true;
    double start = Now();
    for (double done = 0; ok && done < bytes; done += piece.size()) {
        DWORD n = 0;
        ok = (writing
                  ? WriteFile(file, piece.data(), static_cast<DWORD>(piece.size()), &n, nullptr)
                  : ReadFile(file, piece.data(), static_cast<DWORD>(piece.size()), &n, nullptr)) &&
             n == piece.size();
    }
    double seconds = Now() - start;
    CloseHandle(file);
    if (writing) {
        DeleteFileW(PROBE_WRITE_FILE);
    }
    return ok ? seconds : -1;
}

double RunVariant(int sinkPort, const Variant& v, double bytes) {
    if (v.fileOnly != 0) {
        return RunFileVariant(v, bytes);
    }
    SOCKET s = ConnectLoopback(sinkPort);
    if (s == INVALID_SOCKET) {
        return -1;
    }
    if (v.timeouts) {
        DWORD timeout = 300000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof timeout);
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof timeout);
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    if (v.fromFile) {
        file = CreateFileW(PROBE_FILE, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            closesocket(s);
            return -1;
        }
    }
    char head[256];
    int headBytes =
        snprintf(head, sizeof head,
                 "POST /probe HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: %.0f\r\n\r\n", bytes);
    std::vector<char> piece = DocumentPiece(v.sendBytes);
    bool ok = SendWhole(s, head, headBytes);
    double start = Now();
    for (double sent = 0; ok && sent < bytes; sent += piece.size()) {
        const char* data = piece.data();
        char* block = nullptr;
        if (v.fromFile) {
            DWORD n = 0;
            ok = ReadFile(file, piece.data(), static_cast<DWORD>(piece.size()), &n, nullptr) &&
                 n == piece.size();
        }
        if (v.allocate) {
            block = static_cast<char*>(
                HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, piece.size() + 64));
            memcpy(block, piece.data(), piece.size());
            data = block;
        }
        ok = ok && SendWhole(s, data, static_cast<int>(piece.size()));
        if (block != nullptr) {
            HeapFree(GetProcessHeap(), 0, block);
        }
        if (v.fionread) {
            u_long waiting = 0;
            ioctlsocket(s, FIONREAD, &waiting);
        }
        if (v.look) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            timeval zero{0, 0};
            select(0, &readable, nullptr, nullptr, &zero);
        }
    }
    ok = ok && ReadToClose(s);
    double seconds = Now() - start;
    closesocket(s);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return ok ? seconds : -1;
}

} // namespace

int ProbeBenchmark(int sinkPort, int mib, int rounds) {
    const double bytes = mib * MIB;
    if (!MakeFile(bytes)) {
        fprintf(stderr, "nimbench: cannot write the probe file\n");
        return 1;
    }
    for (const Variant& v : VARIANTS) {
        RunVariant(sinkPort, v, 8 * MIB); // warm-up
    }
    Report("mib", mib);
    const Variant& plain4k = VARIANTS[0];
    const Variant& plain64k = VARIANTS[6];
    for (const Variant& v : VARIANTS) {
        const Variant& base = v.sendBytes >= 65536 ? plain64k : plain4k;
        std::vector<double> ratios, times;
        for (int round = 0; round < rounds; ++round) {
            double b = RunVariant(sinkPort, base, bytes);
            double t = RunVariant(sinkPort, v, bytes);
            if (b < 0 || t < 0) {
                fprintf(stderr, "nimbench: probe %s failed\n", v.name);
                return 1;
            }
            ratios.push_back(b / t);
            times.push_back(t);
        }
        std::string name = std::string("probe_") + v.name;
        Report((name + "_mbps").c_str(), bytes / Median(times) / 1e6);
        Report((name + "_ratio").c_str(), Median(ratios));
    }
    DeleteFileW(PROBE_FILE);

    // A spool file's life after the job: written in spooler pieces, read back once, deleted.
    std::vector<double> reads, deletes;
    for (int round = 0; round < rounds; ++round) {
        HANDLE file = CreateFileW(PROBE_WRITE_FILE, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        std::vector<char> piece = DocumentPiece(4096);
        for (double done = 0; done < bytes; done += piece.size()) {
            DWORD n = 0;
            WriteFile(file, piece.data(), static_cast<DWORD>(piece.size()), &n, nullptr);
        }
        CloseHandle(file);
        double t0 = Now();
        file = CreateFileW(PROBE_WRITE_FILE, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        std::vector<char> buffer(65536);
        DWORD n = 0;
        while (ReadFile(file, buffer.data(), 65536, &n, nullptr) && n > 0) {
        }
        CloseHandle(file);
        double t1 = Now();
        DeleteFileW(PROBE_WRITE_FILE);
        double t2 = Now();
        reads.push_back(t1 - t0);
        deletes.push_back(t2 - t1);
    }
    Report("probe_spool_file_read_s", Median(reads));
    Report("probe_spool_file_delete_s", Median(deletes));
    return 0;
}
