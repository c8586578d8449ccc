#pragma once
// One run of one side of a comparison, in a child process of its own so that its time, CPU time
// and peak memory are its own, on one CPU or on all the CPUs this process was given.
#include <QString>
#include <QStringList>

#include <functional>
#include <new>
#include <type_traits>

#include <time.h>

namespace bench {

struct Sample {
    double wallMs = -1;
    double cpuMs = -1;  // user + system, every thread of the child
    double peakMB = -1; // see runForked and runProcess
    // runForked: the peak less the file-backed and shared pages the run mapped meanwhile (code of
    // the libraries it first called, mapped files), which are shared and not the run's data.
    double privatePeakMB = -1;
    qint64 outBytes = 0;
    bool ok = false;
};

// CPUs to run on: one (the first this process may use) or all of them.
enum class Cores { one, all };

// Narrows this process to `cores` of the CPUs it was started with (or gives them all back);
// programs it starts later inherit them.
void setCores(Cores cores);

// Memory figures are in MB of 10^6 bytes, as sizes and rates are; the kernel counts KiB.
inline double megabytesOfKiB(double kib) { return kib * 1024.0 / 1e6; }

// Resets this process's peak resident size to its current size and answers that size, in MB.
double resetPeakMemory();
// This process's resident size now, and its highest since the last reset, in MB.
double residentMB();
double peakResidentMB();
// The part of this process's resident size that is file-backed or shared memory, in MB.
double sharedResidentMB();

// Number of CPUs this process may use.
int allowedCpus();

// Forks; the child takes `cores`, then times `work` (which returns the size of what it made, or
// -1 on failure). Peak = the child's highest resident size while `work` ran, above its resident
// size when it began (the kernel's high-water mark reset at the start): what the work itself
// allocated and touched, not the parent's pages it shares. The parent must not have started
// worker threads of its own (a fork keeps only the calling thread).
Sample runForked(Cores cores, const std::function<qint64()>& work);

// A warm call: in a child of its own, `work` once untimed, then timed again; the figures are the
// second call's (its peak above the resident size it began with).
Sample runWarm(Cores cores, const std::function<qint64()>& work);

// Milliseconds by `clock` (CLOCK_MONOTONIC, CLOCK_PROCESS_CPUTIME_ID).
double nowMs(clockid_t clock);

// Runs a program to its end, standard output to `outPath` (discarded when empty), standard input
// from `inPath` when given. Time and CPU time are the whole process's, start-up and file I/O
// included; peak = its max resident size as the kernel counts it (the whole program).
Sample runProcess(Cores cores, const QStringList& argv, const QString& outPath = {}, const QString& inPath = {});

// Zeroed memory that forked children write and the parent reads afterwards: for the figures a
// child measures beyond its Sample (a GUI's stall, a time to first paint). Never freed: small.
void* memorySharedWithChildren(size_t bytes);
template <class T>
T& sharedWithChildren()
{
    static_assert(std::is_trivially_copyable_v<T>);
    return *new (memorySharedWithChildren(sizeof(T))) T{};
}

} // namespace bench
