#include "support/Measure.h"

#include <QByteArray>
#include <QFile>

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <vector>

namespace bench {
namespace {

// The CPUs this process was started with, before any run narrowed its own copy.
const cpu_set_t& startMask()
{
    static const cpu_set_t mask = [] {
        cpu_set_t m;
        CPU_ZERO(&m);
        if (sched_getaffinity(0, sizeof m, &m) != 0)
            CPU_SET(0, &m);
        return m;
    }();
    return mask;
}

void takeCores(Cores cores)
{
    cpu_set_t mask = startMask();
    if (cores == Cores::one) {
        // The last one: the first tends to take the machine's interrupts.
        int last = CPU_SETSIZE - 1;
        while (last > 0 && !CPU_ISSET(last, &mask))
            --last;
        CPU_ZERO(&mask);
        CPU_SET(last, &mask);
    }
    sched_setaffinity(0, sizeof mask, &mask);
}

// kB figures of this process's status file.
double statusMB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return megabytesOfKiB(line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toDouble());
    }
    return -1;
}

bool writeAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

double nowMs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void setCores(Cores cores) { takeCores(cores); }

double resetPeakMemory()
{
    // Writing 5 resets the peak resident size to the current one.
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
    return residentMB();
}

double residentMB() { return statusMB("VmRSS:"); }

double peakResidentMB() { return statusMB("VmHWM:"); }

double sharedResidentMB() { return statusMB("RssFile:") + statusMB("RssShmem:"); }

int allowedCpus() { return CPU_COUNT(&startMask()); }

void* memorySharedWithChildren(size_t bytes)
{
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        std::perror("mmap");
        std::abort();
    }
    return p;
}

Sample runForked(Cores cores, const std::function<qint64()>& work)
{
    (void)startMask();
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return {};
    }
    if (pid == 0) {
        close(fds[0]);
        takeCores(cores);
        Sample s;
        const double startMB = resetPeakMemory(), sharedMB = sharedResidentMB();
        const double wall0 = nowMs(CLOCK_MONOTONIC), cpu0 = nowMs(CLOCK_PROCESS_CPUTIME_ID);
        s.outBytes = work();
        s.cpuMs = nowMs(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
        s.wallMs = nowMs(CLOCK_MONOTONIC) - wall0;
        s.peakMB = peakResidentMB() - startMB;
        // Such pages are not given back during a run, so the peak held them all.
        s.privatePeakMB = s.peakMB - (sharedResidentMB() - sharedMB);
        s.ok = s.outBytes >= 0;
        writeAll(fds[1], &s, sizeof s);
        _exit(0);
    }
    close(fds[1]);
    Sample s;
    size_t got = 0;
    while (got < sizeof s) {
        const ssize_t n = ::read(fds[0], reinterpret_cast<char*>(&s) + got, sizeof s - got);
        if (n <= 0)
            break;
        got += size_t(n);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (got != sizeof s || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return s;
}

Sample runWarm(Cores cores, const std::function<qint64()>& work)
{
    static Sample& second = sharedWithChildren<Sample>();
    second = Sample{};
    const Sample whole = runForked(cores, [&]() -> qint64 {
        if (work() < 0)
            return -1;
        const double startMB = resetPeakMemory(), sharedMB = sharedResidentMB();
        const double wall0 = nowMs(CLOCK_MONOTONIC), cpu0 = nowMs(CLOCK_PROCESS_CPUTIME_ID);
        const qint64 out = work();
        second.cpuMs = nowMs(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
        second.wallMs = nowMs(CLOCK_MONOTONIC) - wall0;
        second.peakMB = peakResidentMB() - startMB;
        second.privatePeakMB = second.peakMB - (sharedResidentMB() - sharedMB);
        return out;
    });
    if (!whole.ok)
        return whole;
    Sample s = second;
    s.outBytes = whole.outBytes;
    s.ok = true;
    return s;
}

Sample runProcess(Cores cores, const QStringList& argv, const QString& outPath, const QString& inPath)
{
    (void)startMask();
    std::vector<QByteArray> storage;
    for (const QString& a : argv)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> args;
    for (QByteArray& s : storage)
        args.push_back(s.data());
    args.push_back(nullptr);
    const QByteArray out = outPath.isEmpty() ? QByteArray("/dev/null") : outPath.toLocal8Bit();
    const QByteArray in = inPath.isEmpty() ? QByteArray("/dev/null") : inPath.toLocal8Bit();
    const double wall0 = nowMs(CLOCK_MONOTONIC);
    const pid_t pid = fork();
    if (pid < 0)
        return {};
    if (pid == 0) {
        takeCores(cores);
        const int o = open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int i = open(in.constData(), O_RDONLY);
        if (o < 0 || i < 0)
            _exit(127);
        dup2(o, 1);
        dup2(i, 0);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Sample s;
    s.wallMs = nowMs(CLOCK_MONOTONIC) - wall0;
    s.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    s.peakMB = megabytesOfKiB(double(usage.ru_maxrss));
    s.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!outPath.isEmpty())
        s.outBytes = QFile(outPath).size();
    return s;
}

} // namespace bench
