// Variants of the bare loop, each adding one ingredient of the monitor's work.
#pragma once

// Reports, per variant, its rate and its ratio to the plain loop of the same send size.
int ProbeBenchmark(int sinkPort, int mib, int rounds);
