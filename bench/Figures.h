#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

// One line of the results table: a benchmark that runs the project and its
// reference in turns (InTurns).
struct Figure
{
    std::string title;
    std::string benchmark;
    double goal; // the ratio project / reference to stay within; 0: reported only
    // Whether the benchmark gives InTurns realTime: for the table's units.
    bool realTime = false;
};

// The body of a benchmark that runs project and reference in turns, each
// first on every second iteration, and times each apart: every sample of one
// is taken right beside a sample of the other, so both meet the same moods of
// the machine and the disk. A turn is `batch` calls, so that reading the
// clock costs nothing beside it (a turn of 50 us or more); the times are per
// call. Times are the thread's CPU time, which leaves out the time others held
// the core on a shared machine, or wall time for work that waits (disk syncs).
// `untimed`, when given, runs before every turn outside the clock (to undo
// what the last turn stored, for example).
void InTurns(benchmark::State& state, bool realTime, const std::function<void()>& project,
             const std::function<void()>& reference, int batch = 1,
             const std::function<void()>& untimed = {});

// Runs the benchmarks registered in this program, repeated (in random
// interleaving), and writes one JSON line per figure with both sides' time per
// call in every repetition to the file named by --rows=FILE (and to standard
// output). Other arguments are Google Benchmark's and override the defaults.
int RunFigures(int argc, char** argv, const std::vector<Figure>& figures);
