// Benchmarks of the document entries (StartDocPort, WritePort, EndDocPort) against the sink.
#pragma once

enum JobMode { JOB_STREAMING, JOB_SPOOL_FILE };

// Rounds of a job of `mib` MiB through the monitor, each beside the bare loop. Returns an exit
// status.
int ThroughputBenchmark(int sinkPort, JobMode mode, int mib, int rounds);

// One job of `mib` MiB; reports the process's peak working set afterwards.
int MemoryBenchmark(int sinkPort, JobMode mode, int mib);

// One job of `mib` MiB in spooler pieces through the monitor's entries (no spooler) to the
// printer at uri, with the CPU time of this process, the wineserver and the printer (their
// stat files, as for LinuxCpuSeconds).
int DirectJobBenchmark(const char* uri, int mib, const char* serverStat, const char* printerStat);

// StartDocPort against an idle printer, beside a bare request of the status query's bytes.
int LatencyBenchmark(int sinkPort, int rounds);
