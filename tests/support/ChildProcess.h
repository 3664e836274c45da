// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>

#include <functional>
#include <optional>
#include <vector>

#include <csignal>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace TestSupport {

// Who a child process runs as (the superuser only can switch).
struct TUserIds {
    uid_t Uid = 65534;
    gid_t Gid = 65534;
    std::vector<gid_t> Groups;
};

struct TChildRun {
    bool Finished = false; // false: still running at the deadline, and killed
    int ExitCode = -1;
    QByteArray Report; // what the body returned
};

// Runs body in a forked child, which exits 0 when body returns an empty report and 1 otherwise;
// the report comes back through a pipe. A child still running after timeoutMs is killed, so a
// body that would hang fails its test instead. Its address space is limited to memoryLimit bytes
// (0: no limit) so a runaway read fails in the child rather than exhausting the machine.
inline TChildRun RunInChild(const std::function<QByteArray()> &body, int timeoutMs = 20000,
                            const std::optional<TUserIds> &user = std::nullopt, rlim_t memoryLimit = 0)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (memoryLimit) {
            const rlimit limit{memoryLimit, memoryLimit};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        if (user
            && (::setgroups(user->Groups.size(), user->Groups.data()) != 0 || ::setgid(user->Gid) != 0
                || ::setuid(user->Uid) != 0))
            ::_exit(3);
        const QByteArray report = body();
        (void)!::write(pipeFds[1], report.constData(), size_t(report.size()));
        ::_exit(report.isEmpty() ? 0 : 1);
    }
    ::close(pipeFds[1]);
    TChildRun run;
    QElapsedTimer timer;
    timer.start();
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            run.Finished = true;
            run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (timer.elapsed() > timeoutMs) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        ::usleep(2000);
    }
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        run.Report.append(buffer, n);
    ::close(pipeFds[0]);
    return run;
}

} // namespace TestSupport
