#pragma once

// Measures the CPU time the process takes while it idles: after a warm-up of
// 3 s, over VELMORA_BENCH_IDLE_SECONDS (20 by default), then writes the line
// "idle <cpu seconds> <wall seconds>" to standard output and quits the
// application. Call once the window is shown.
void StartIdleProbe();
