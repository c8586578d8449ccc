#pragma once
// What a figure was measured on: the CPU, how many CPUs the benchmark may use, the load, and
// the worker counts the program's code derives when pinned to one CPU.
#include <QString>

namespace bench {

QString cpuModel();
// "load 3.10 2.80 2.50 (1, 5, 15 min)"
QString loadNow();
// Prints the lines every benchmark starts with.
void printMachine(const char* benchName);
// Prints the load again, to close a run.
void printLoadAtEnd();
// For the GUI children: the offscreen platform when no display is named, and a private runtime
// folder when none is set (Qt warns in every child otherwise). Call before any fork.
void prepareHeadless();

} // namespace bench
