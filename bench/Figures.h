#pragma once

#include <string>
#include <vector>

// One line of the results table: a benchmark of the project and the reference
// that the same run measures beside it.
struct Figure
{
    std::string title;
    std::string project;   // benchmark name
    std::string reference; // benchmark name
    double goal;           // the ratio project / reference to stay within; 0: reported only
    // CPU time suits work that only computes: on a shared machine it leaves out
    // the time others held the core. Real time is for work that waits (disk syncs).
    bool realTime = false;
};

// Runs the benchmarks registered in this program with repetitions in random
// interleaving, so that project and reference meet the same moods of a shared
// machine. Writes one JSON line per figure, with the time per iteration of
// every repetition of both sides, to the file named by --rows=FILE (and to
// standard output). Other
// arguments are Google Benchmark's and override the defaults.
int RunFigures(int argc, char** argv, const std::vector<Figure>& figures);
