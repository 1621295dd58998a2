#pragma once

#include "test_streams.h"

// The piecewise costs of the receive thread (Google Benchmark), on the run's 1080p streams
// (which must be 1920 x 1080). Takes the benchmark library's command-line options; returns
// the process exit status.
int run_isolated_benchmarks(int argc, char **argv, const test_stream &cavlc1080,
                            const test_stream &cabac1080);
