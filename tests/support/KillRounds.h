// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Writers killed at random moments: the shared part of the crash tests of the description file
// and the registry file.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <functional>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace TestSupport {

struct TKilledWriter {
    pid_t Pid = 0;
    int Completed = 0;  // writes that had returned when the child was killed
    QByteArray Failure; // the error of a write that failed
};

// Runs write(first), write(first + 1), ... in a forked child, which reports each write through
// a pipe as soon as it has returned, and kills the child with SIGKILL after delayUs microseconds.
// write returns its error text, empty on success.
inline TKilledWriter KillWhileWriting(int first, const std::function<QByteArray(int)> &write, int delayUs)
{
    TKilledWriter run;
    int fds[2];
    if (::pipe(fds) != 0) {
        run.Failure = "no pipe";
        return run;
    }
    run.Pid = ::fork();
    if (run.Pid == 0) {
        ::close(fds[0]);
        for (int i = first;; ++i) {
            const QByteArray error = write(i);
            if (!error.isEmpty()) {
                const QByteArray report = 'E' + error;
                (void)!::write(fds[1], report.constData(), size_t(report.size()));
                ::_exit(1);
            }
            (void)!::write(fds[1], "+", 1);
        }
    }
    ::close(fds[1]);
    ::usleep(useconds_t(delayUs));
    ::kill(run.Pid, SIGKILL);
    ::waitpid(run.Pid, nullptr, 0);
    QByteArray reports;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        reports.append(buffer, n);
    ::close(fds[0]);
    const qsizetype failed = reports.indexOf('E');
    run.Completed = int(failed < 0 ? reports.size() : failed);
    if (failed >= 0)
        run.Failure = reports.mid(failed + 1);
    return run;
}

// Every entry of the folder but fileName, hidden ones included.
inline QStringList OtherEntries(const QByteArray &folder, const QByteArray &fileName)
{
    QStringList entries = QDir(QFile::decodeName(folder))
                              .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    entries.removeAll(QFile::decodeName(fileName));
    return entries;
}

// Backdates the temporary files a killed writer left beside fileName by an hour, so that the
// next write may take them for leftovers of a process that is gone. Returns the entries that
// are not such files: a regular file named ".<fileName>.<pid>.<n>" after the killed writer.
inline QStringList BackdateLeftovers(const QByteArray &folder, const QByteArray &fileName, pid_t pid, int *backdated)
{
    QStringList stray;
    const QString prefix = u'.' + QFile::decodeName(fileName) + u'.' + QString::number(pid) + u'.';
    for (const QString &entry : OtherEntries(folder, fileName)) {
        const QByteArray path = folder + '/' + QFile::encodeName(entry);
        struct stat st {};
        bool number = false;
        entry.mid(prefix.size()).toUInt(&number);
        if (!entry.startsWith(prefix) || !number || ::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
            stray << entry;
            continue;
        }
        const timespec hourAgo[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
        ::utimensat(AT_FDCWD, path.constData(), hourAgo, 0);
        ++*backdated;
    }
    return stray;
}

} // namespace TestSupport
