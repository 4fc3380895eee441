#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

// One line of the results table: a benchmark of the project and the reference
// that the same run measures beside it.
struct Figure
{
    std::string title;
    // Benchmark names; an empty reference makes the project name a benchmark
    // that runs both in turns (InTurns).
    std::string project;
    std::string reference;
    double goal; // the ratio project / reference to stay within; 0: reported only
    // CPU time suits work that only computes: on a shared machine it leaves out
    // the time others held the core. Real time is for work that waits (disk syncs).
    bool realTime = false;
};

// The body of a benchmark that runs project and reference in turns, each
// first on every second iteration, and times each apart: every sample of one
// is taken right beside a sample of the other, so both meet the same moods of
// the machine and the disk. For calls of a millisecond or so, where reading
// the clock costs nothing. Times are the thread's CPU time, or wall time.
void InTurns(benchmark::State& state, bool realTime, const std::function<void()>& project,
             const std::function<void()>& reference);

// Runs the benchmarks registered in this program with repetitions in random
// interleaving, so that project and reference meet the same moods of a shared
// machine. Writes one JSON line per figure, with the time per iteration of
// every repetition of both sides, to the file named by --rows=FILE (and to
// standard output). Other arguments are Google Benchmark's and override the
// defaults.
int RunFigures(int argc, char** argv, const std::vector<Figure>& figures);
