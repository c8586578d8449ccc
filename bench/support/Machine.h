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

} // namespace bench
