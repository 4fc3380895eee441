#pragma once

// Process-wide settings every Velmora program makes before it touches a file
// or a key: the process is not dumpable and leaves no core file.
// Safe before main (the application's database is opened by a static
// constructor): no iostreams, no allocation that can fail loudly.
void PrepareProcess() noexcept;

// Flushes standard output and tells whether everything written to it arrived
// (a full disk, a closed pipe or /dev/full lose it). On failure it writes one
// line "PROGRAM: cannot write the output: REASON" to standard error and
// returns false; the caller then exits non-zero.
bool FinishOutput(const char* program) noexcept;
