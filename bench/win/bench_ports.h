// Benchmarks of many ports: open ports with their status threads, and EnumPorts.
#pragma once

// Opens `ports` ports on the fake printer, each polling every 20 s, and watches them for
// `seconds`. serverStat: Z:\proc\PID\stat of the wineserver (its CPU time), or null.
int ScaleBenchmark(int printerPort, int ports, int seconds, const char* serverStat);

// EnumPorts at levels 1 and 2 over `ports` stored ports, beside a bare registry walk.
int EnumBenchmark(int ports, int rounds);
