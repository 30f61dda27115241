// Jobs through the monitor's document entries against the discarding sink, each beside a bare
// Winsock loop that moves the same bytes to the same sink: throughput of both modes, memory of a
// small and a large job, and the cost of StartDocPort.
#include "bench/win/bench_jobs.h"

#include "bench/win/bench_common.h"
#include "monitor/core/port_entries.h"
#include "monitor/ipp/ipp_request.h"
#include "monitor/core/port_settings.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const double MIB = 1024.0 * 1024.0;
// The pieces the spooler hands a monitor, and the sends of the bare spool-file reference.
const DWORD SPOOLER_PIECE_BYTES = 4096;
const DWORD BARE_SPOOL_SEND_BYTES = 65536;
const wchar_t DOCUMENT_NAME[] = L"nimbrel-bench.ps";

// The sink answers a target under /http10 with HTTP/1.0: the monitor then uses a spool file.
std::string PortUri(int sinkPort, JobMode mode) {
    char uri[128];
    snprintf(uri, sizeof uri, "ipp://127.0.0.1:%d%s/ipp/print", sinkPort,
             mode == JOB_SPOOL_FILE ? "/http10" : "");
    return uri;
}

struct OpenedPort {
    HANDLE handle = nullptr;
    ~OpenedPort() {
        if (handle != nullptr) {
            ClosePort(handle);
        }
    }
};

bool OpenBenchPort(int sinkPort, JobMode mode, OpenedPort* port) {
    std::string uri = PortUri(sinkPort, mode);
    if (!StorePort(uri, 0)) {
        fprintf(stderr, "nimbench: cannot store the port %s\n", uri.c_str());
        return false;
    }
    std::wstring name = WideOf(uri);
    if (!OpenPort(&name[0], &port->handle)) {
        fprintf(stderr, "nimbench: OpenPort failed, error %lu\n", GetLastError());
        return false;
    }
    return true;
}

BOOL StartJob(HANDLE port, DWORD jobId) {
    DOC_INFO_1W info{};
    info.pDocName = const_cast<LPWSTR>(DOCUMENT_NAME);
    // Wine's spooler passes no printer name; neither does the benchmark, so that no spooler call
    // is timed.
    return StartDocPort(port, nullptr, jobId, 1, reinterpret_cast<LPBYTE>(&info));
}

// Seconds of the WritePort calls of the last MonitorJob (the rest is EndDocPort).
double g_writeSeconds = 0;

// One job of `bytes` in spooler pieces. Returns the seconds from the first WritePort to the end
// of EndDocPort, or a negative value on failure.
double MonitorJob(HANDLE port, DWORD jobId, double bytes, const std::vector<char>& piece) {
    if (!StartJob(port, jobId)) {
        fprintf(stderr, "nimbench: StartDocPort failed, error %lu\n", GetLastError());
        return -1;
    }
    double start = Now();
    for (double sent = 0; sent < bytes; sent += piece.size()) {
        DWORD written = 0;
        if (!WritePort(port, reinterpret_cast<LPBYTE>(const_cast<char*>(piece.data())),
                       static_cast<DWORD>(piece.size()), &written) ||
            written != piece.size()) {
            fprintf(stderr, "nimbench: WritePort failed, error %lu\n", GetLastError());
            EndDocPort(port);
            return -1;
        }
    }
    g_writeSeconds = Now() - start;
    if (!EndDocPort(port)) {
        fprintf(stderr, "nimbench: EndDocPort failed, error %lu\n", GetLastError());
        return -1;
    }
    return Now() - start;
}

// The same bytes with nothing but send(): a POST with a Content-Length, the document in sends of
// `piece` bytes, and the reply. Timed like MonitorJob: from the first document byte to the reply.
double BareJob(int sinkPort, double bytes, const std::vector<char>& piece) {
    SOCKET s = ConnectLoopback(sinkPort);
    if (s == INVALID_SOCKET) {
        fprintf(stderr, "nimbench: cannot connect to the sink\n");
        return -1;
    }
    char head[256];
    int headBytes = snprintf(head, sizeof head,
                             "POST /bare HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                             "Content-Type: application/octet-stream\r\nContent-Length: %.0f\r\n"
                             "\r\n",
                             sinkPort, bytes);
    bool ok = SendWhole(s, head, headBytes);
    double start = Now();
    for (double sent = 0; ok && sent < bytes; sent += piece.size()) {
        ok = SendWhole(s, piece.data(), static_cast<int>(piece.size()));
    }
    ok = ok && ReadToClose(s);
    double seconds = Now() - start;
    closesocket(s);
    if (!ok) {
        fprintf(stderr, "nimbench: the bare loop failed, error %d\n", WSAGetLastError());
        return -1;
    }
    return seconds;
}

} // namespace

int ThroughputBenchmark(int sinkPort, JobMode mode, int mib, int rounds) {
    OpenedPort port;
    if (!OpenBenchPort(sinkPort, mode, &port)) {
        return 1;
    }
    const double bytes = mib * MIB;
    std::vector<char> piece = DocumentPiece(SPOOLER_PIECE_BYTES);
    std::vector<char> barePiece =
        DocumentPiece(mode == JOB_STREAMING ? SPOOLER_PIECE_BYTES : BARE_SPOOL_SEND_BYTES);

    // Warm-up: code paths, the sink's threads, the file system.
    if (MonitorJob(port.handle, 1, 8 * MIB, piece) < 0 ||
        BareJob(sinkPort, 8 * MIB, barePiece) < 0) {
        return 1;
    }

    std::vector<double> monitor, bare, ratios, writes;
    SeamCounts counts{};
    for (int round = 0; round < rounds; ++round) {
        // Alternate which goes first, so that a drift of the machine's load hits both alike.
        double m = 0, b = 0;
        CountingSeamsReset();
        if (round % 2 == 0) {
            m = MonitorJob(port.handle, 2 + round, bytes, piece);
            counts = CountingSeamsRead();
            b = BareJob(sinkPort, bytes, barePiece);
        } else {
            b = BareJob(sinkPort, bytes, barePiece);
            m = MonitorJob(port.handle, 2 + round, bytes, piece);
            counts = CountingSeamsRead();
        }
        if (m < 0 || b < 0) {
            return 1;
        }
        monitor.push_back(m);
        bare.push_back(b);
        ratios.push_back(b / m);
        writes.push_back(g_writeSeconds / m);
        printf("# round %d: monitor %.3f s (%.1f MB/s; WritePort %.3f s, EndDocPort %.3f s), "
               "bare %.3f s (%.1f MB/s), ratio %.3f\n",
               round + 1, m, bytes / m / 1e6, g_writeSeconds, m - g_writeSeconds, b,
               bytes / b / 1e6, b / m);
    }
    Report("mib", mib);
    Report("rounds", rounds);
    Report("monitor_mbps", bytes / Median(monitor) / 1e6);
    Report("bare_mbps", bytes / Median(bare) / 1e6);
    Report("ratio", Median(ratios));
    Report("ratio_min", *std::min_element(ratios.begin(), ratios.end()));
    Report("ratio_max", *std::max_element(ratios.begin(), ratios.end()));
    Report("writeport_share", Median(writes));
    // Of the last monitor job: calls through the monitor's seams per MiB of document (the
    // EndDocPort transfer included in spool-file mode; StartDocPort's query and head excluded
    // only approximately: they are a handful of calls per job).
    Report("sends_per_mib", counts.sends / static_cast<double>(mib));
    Report("looks_per_mib", counts.looks / static_cast<double>(mib));
    Report("bare_sends_per_mib", MIB / barePiece.size());
    Report("send_seconds", counts.sendSeconds);
    Report("look_seconds", counts.lookSeconds);
    return 0;
}

int MemoryBenchmark(int sinkPort, JobMode mode, int mib) {
    OpenedPort port;
    if (!OpenBenchPort(sinkPort, mode, &port)) {
        return 1;
    }
    std::vector<char> piece = DocumentPiece(SPOOLER_PIECE_BYTES);
    ProcessFigures before = Figures();
    double seconds = MonitorJob(port.handle, 1, mib * MIB, piece);
    if (seconds < 0) {
        return 1;
    }
    ProcessFigures after = Figures();
    Report("mib", mib);
    Report("seconds", seconds);
    Report("working_set_before", before.workingSet);
    Report("peak_working_set_before", before.peakWorkingSet);
    Report("peak_working_set", after.peakWorkingSet);
    Report("working_set_after", after.workingSet);
    Report("private_bytes_after", after.privateBytes);
    return 0;
}

int DirectJobBenchmark(const char* uri, int mib, const char* serverStat, const char* printerStat) {
    if (!StorePort(uri, 0)) {
        fprintf(stderr, "nimbench: cannot store the port %s\n", uri);
        return 1;
    }
    std::wstring name = WideOf(uri);
    OpenedPort port;
    if (!OpenPort(&name[0], &port.handle)) {
        fprintf(stderr, "nimbench: OpenPort failed, error %lu\n", GetLastError());
        return 1;
    }
    std::vector<char> piece = DocumentPiece(SPOOLER_PIECE_BYTES);
    double process0 = Figures().cpuSeconds;
    double server0 = LinuxCpuSeconds(serverStat);
    double printer0 = LinuxCpuSeconds(printerStat);
    double t0 = Now();
    double seconds = MonitorJob(port.handle, 1, mib * MIB, piece);
    double total = Now() - t0;
    if (seconds < 0) {
        return 1;
    }
    Report("bytes", mib * MIB);
    Report("job_s", total); // StartDocPort included
    Report("writeport_s", g_writeSeconds);
    Report("cpu_process_s", Figures().cpuSeconds - process0);
    Report("cpu_server_s", LinuxCpuSeconds(serverStat) - server0);
    Report("cpu_printer_s", LinuxCpuSeconds(printerStat) - printer0);
    return 0;
}

int LatencyBenchmark(int sinkPort, int rounds) {
    OpenedPort port;
    if (!OpenBenchPort(sinkPort, JOB_STREAMING, &port)) {
        return 1;
    }
    // The bare request: the very bytes of the monitor's status query (head and body).
    auto* request = static_cast<JobContext*>(calloc(1, sizeof(JobContext)));
    auto* record = static_cast<PortContext*>(calloc(1, sizeof(PortContext)));
    if (request == nullptr || record == nullptr) {
        return 1;
    }
    std::string uri = PortUri(sinkPort, JOB_STREAMING);
    LoadPortSettings(WideOf(uri).c_str(), record);
    PrepareIppRequest(request, record);
    request->jobId = 1;
    BYTE query[STATUS_QUERY_BYTES];
    char host[HOST_BYTES] = "";
    LONG targetPort = 0;
    size_t queryBytes =
        BuildStatusQuery(query, sizeof query, request, host, sizeof host, &targetPort);
    free(request);
    free(record);
    if (queryBytes == 0) {
        return 1;
    }

    std::vector<double> start, bare, ratios, connects, sends, looks;
    SeamCounts counts{};
    for (int round = 0; round < rounds + 1; ++round) {
        CountingSeamsReset();
        double t0 = Now();
        if (!StartJob(port.handle, 100 + round)) {
            fprintf(stderr, "nimbench: StartDocPort failed, error %lu\n", GetLastError());
            return 1;
        }
        double s = Now() - t0;
        counts = CountingSeamsRead();
        EndDocPort(port.handle);
        connects.push_back(counts.connectSeconds);
        sends.push_back(counts.sendSeconds);
        looks.push_back(counts.lookSeconds);

        t0 = Now();
        SOCKET sock = ConnectLoopback(sinkPort);
        bool ok =
            sock != INVALID_SOCKET &&
            SendWhole(sock, reinterpret_cast<const char*>(query), static_cast<int>(queryBytes)) &&
            ReadOneReply(sock);
        if (sock != INVALID_SOCKET) {
            closesocket(sock);
        }
        double b = Now() - t0;
        if (!ok) {
            fprintf(stderr, "nimbench: the bare request failed\n");
            return 1;
        }
        if (round == 0) {
            continue; // warm-up
        }
        start.push_back(s);
        bare.push_back(b);
        ratios.push_back(s / b);
    }
    Report("rounds", rounds);
    Report("query_bytes", static_cast<double>(queryBytes));
    Report("startdoc_ms", Median(start) * 1e3);
    Report("bare_ms", Median(bare) * 1e3);
    Report("ratio", Median(ratios));
    Report("startdoc_connects", counts.connects);
    Report("startdoc_sends", counts.sends);
    Report("startdoc_looks", counts.looks);
    // Where StartDocPort's time goes: inside connect(), send() and the readiness waits (the
    // printer's answer included); the rest is the monitor's own work (settings from the
    // registry, the request values, the reply's decoding, socket set-up).
    Report("startdoc_connect_ms", Median(connects) * 1e3);
    Report("startdoc_send_ms", Median(sends) * 1e3);
    Report("startdoc_wait_ms", Median(looks) * 1e3);

    // The monitor's own work, timed alone: the settings reload and the request values.
    std::vector<double> loads, prepares;
    auto* scratch = static_cast<PortContext*>(calloc(1, sizeof(PortContext)));
    auto* values = static_cast<JobContext*>(calloc(1, sizeof(JobContext)));
    for (int round = 0; round < rounds && scratch != nullptr && values != nullptr; ++round) {
        double t0 = Now();
        LoadPortSettings(WideOf(uri).c_str(), scratch);
        double t1 = Now();
        PrepareIppRequest(values, scratch);
        double t2 = Now();
        loads.push_back(t1 - t0);
        prepares.push_back(t2 - t1);
    }
    free(scratch);
    free(values);
    Report("load_settings_ms", Median(loads) * 1e3);
    Report("prepare_request_ms", Median(prepares) * 1e3);
    return 0;
}
