// nimbench: the Windows side of the benchmarks, run under Wine by bench/run.sh. It links the
// monitor's code and calls its entries the way the spooler does; each measurement sits beside a
// bare reference loop in the same process, so that only ratios need to be compared.
//
//   nimbench stream  SINK-PORT MIB ROUNDS       streaming jobs vs a loop of 4096-byte sends
//   nimbench spool   SINK-PORT MIB ROUNDS       spool-file jobs vs a loop of 64 KiB sends
//   nimbench memory  SINK-PORT stream|spool MIB one job, then the peak working set
//   nimbench job     URI MIB SERVER-STAT PRINTER-STAT   one job straight to a printer
//   nimbench latency SINK-PORT ROUNDS           StartDocPort vs a bare status request
//   nimbench probe   SINK-PORT MIB ROUNDS       the bare loop with one cost of the monitor added
//   nimbench scale   PRINTER-PORT PORTS SECONDS [SERVER-STAT]   open ports polling a printer
//   nimbench enum    PORTS ROUNDS               EnumPorts vs a bare registry walk
//   nimbench spooler-setup MONITOR.dll URI      install monitor, port and printer in Wine
//   nimbench spooler-print FILE [SERVER-STAT PRINTER-STAT]   print FILE through Wine's spooler
//
// Results go to stdout as "name value" lines; lines starting with '#' are remarks.
#include "bench/win/bench_common.h"
#include "bench/win/bench_jobs.h"
#include "bench/win/bench_ports.h"
#include "bench/win/bench_probe.h"
#include "bench/win/bench_spooler.h"
#include "monitor/core/monitor_globals.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

int Usage() {
    fprintf(stderr,
            "usage: nimbench stream|spool|memory|job|latency|probe|scale|enum|spooler-setup|"
            "spooler-print ARGS (see bench/win/nimbench.cpp)\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage();
    }
    setvbuf(stdout, nullptr, _IOLBF, 4096);
    MonitorGlobalsInit(GetModuleHandleW(nullptr));
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) {
        fprintf(stderr, "nimbench: Windows Sockets did not start\n");
        return 1;
    }
    const char* command = argv[1];
    auto arg = [&](int i) { return i < argc ? atoi(argv[i]) : 0; };

    if (strcmp(command, "spooler-setup") == 0 && argc == 4) {
        return SpoolerSetup(argv[2], argv[3]);
    }
    if (strcmp(command, "spooler-print") == 0 && (argc == 3 || argc == 5)) {
        return SpoolerPrint(argv[2], argc == 5 ? argv[3] : nullptr, argc == 5 ? argv[4] : nullptr);
    }
    CountingSeamsInstall();
    if (strcmp(command, "stream") == 0 && argc == 5) {
        return ThroughputBenchmark(arg(2), JOB_STREAMING, arg(3), arg(4));
    }
    if (strcmp(command, "spool") == 0 && argc == 5) {
        return ThroughputBenchmark(arg(2), JOB_SPOOL_FILE, arg(3), arg(4));
    }
    if (strcmp(command, "memory") == 0 && argc == 5) {
        JobMode mode = strcmp(argv[3], "spool") == 0 ? JOB_SPOOL_FILE : JOB_STREAMING;
        return MemoryBenchmark(arg(2), mode, arg(4));
    }
    if (strcmp(command, "job") == 0 && argc == 6) {
        return DirectJobBenchmark(argv[2], arg(3), argv[4], argv[5]);
    }
    if (strcmp(command, "probe") == 0 && argc == 5) {
        return ProbeBenchmark(arg(2), arg(3), arg(4));
    }
    if (strcmp(command, "latency") == 0 && argc == 4) {
        return LatencyBenchmark(arg(2), arg(3));
    }
    if (strcmp(command, "scale") == 0 && (argc == 5 || argc == 6)) {
        return ScaleBenchmark(arg(2), arg(3), arg(4), argc == 6 ? argv[5] : nullptr);
    }
    if (strcmp(command, "enum") == 0 && argc == 4) {
        return EnumBenchmark(arg(2), arg(3));
    }
    return Usage();
}
