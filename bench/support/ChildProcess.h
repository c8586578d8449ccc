#pragma once
// Runs a program the way the benchmarks time their peers and their own child processes: the
// wall time of the whole run and the child's peak memory from the kernel's accounting.
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

struct ChildResult {
    double ms = -1;
    double maxRssMB = 0;
    bool ok = false;
};

// Standard output goes to `outPath` (discarded when empty); the program is found on PATH.
inline ChildResult spawnMeasured(const QStringList& args, const QString& outPath = QString())
{
    std::vector<QByteArray> storage;
    for (const QString& a : args)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const QByteArray out = outPath.isEmpty() ? QByteArray("/dev/null") : outPath.toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    ChildResult result;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return result;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.ms = timer.nsecsElapsed() / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.maxRssMB = usage.ru_maxrss / 1024.0;
    return result;
}

// This process's resident size now, from the kernel's status file.
inline double residentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}
