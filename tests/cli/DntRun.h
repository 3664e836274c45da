// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <cerrno>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <sys/xattr.h>
#include <unistd.h>

// The built dnt, run as a user runs it: a process of its own, its exit code and both outputs.
struct TDntRun {
    int Code = -1; // -1: it did not start or did not end normally
    QByteArray Out, Err;
};

inline QString Arg(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
}

inline TDntRun RunProgram(const QString &program, const QStringList &args, const QByteArray &input = {},
                          const QByteArray &workDir = {}, const QProcessEnvironment &environment = {})
{
    QProcess process;
    if (!workDir.isEmpty())
        process.setWorkingDirectory(Arg(workDir));
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, args);
    TDntRun run;
    if (!process.waitForStarted(10000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.Code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = process.readAllStandardOutput();
    run.Err = process.readAllStandardError();
    return run;
}

inline TDntRun Dnt(const QStringList &args, const QByteArray &input = {}, const QByteArray &workDir = {})
{
    return RunProgram(TestSupport::BuiltProgram("dnt"), args, input, workDir);
}

// The same with one more environment variable.
inline TDntRun DntWithEnvironment(const QStringList &args, const QString &name, const QString &value)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(name, value);
    return RunProgram(TestSupport::BuiltProgram("dnt"), args, {}, {}, environment);
}

// Whether DntAsOtherUser runs dnt as someone who is not root: as root through setpriv (as nobody).
inline bool CanRunAsOtherUser()
{
    return ::geteuid() != 0 || !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
}

// dnt as a user without root's rights, for whom a file's permissions count: nobody when this
// process is root, else this user.
inline TDntRun DntAsOtherUser(const QStringList &args)
{
    if (::geteuid() != 0)
        return Dnt(args);
    return RunProgram(QStringLiteral("setpriv"),
                      QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                  QStringLiteral("--clear-groups"), TestSupport::BuiltProgram("dnt")}
                          + args);
}

// Whether that user can read the path: a test folder under a private temporary folder is out of
// its reach, and the test is then skipped rather than failed.
inline bool OtherUserReads(const QByteArray &path)
{
    if (::geteuid() != 0)
        return ::access(path.constData(), R_OK) == 0;
    return RunProgram(QStringLiteral("setpriv"),
                      {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                       QStringLiteral("--clear-groups"), QStringLiteral("test"), QStringLiteral("-r"), Arg(path)})
               .Code
           == 0;
}

// dnt with its standard output on a pseudo-terminal, as in a person's shell (the terminal in raw
// mode, so the bytes arrive as dnt wrote them); standard error goes to a pipe.
inline TDntRun DntOnTerminal(const QStringList &args)
{
    TDntRun run;
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return run;
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(master);
        ::close(slave);
        return run;
    }
    std::vector<QByteArray> bytes{TestSupport::BuiltPath("dnt")};
    for (const QString &arg : args)
        bytes.push_back(arg.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(slave, STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(slave);
    ::close(errPipe[1]);
    if (pid < 0) {
        ::close(master);
        ::close(errPipe[0]);
        return run;
    }
    // Both are read as they come, so that neither fills up while dnt writes the other.
    pollfd fds[2] = {{master, POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    QByteArray *into[2] = {&run.Out, &run.Err};
    int open = 2;
    while (open > 0) {
        const int ready = ::poll(fds, 2, 60000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, n);
            } else if (n == 0 || errno != EINTR) { // a terminal whose other side closed says EIO
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd &fd : fds)
        if (fd.fd >= 0)
            ::close(fd.fd);
    if (open > 0) // it hung: ended, and the run counts as failed
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A folder whose file system keeps user extended attributes: the test's own, else one under
// /var/tmp (tmpfs may have none). Empty when neither has them.
inline QByteArray FolderWithUserXattrs(TestSupport::TTempDir &own, std::optional<QTemporaryDir> &other)
{
    auto supports = [](const QByteArray &folder) {
        const QByteArray probe = folder + "/.probe";
        TestSupport::WriteFileBytes(probe, "x");
        const bool ok = ::setxattr(probe.constData(), "user.probe", "1", 1, 0) == 0;
        ::unlink(probe.constData());
        return ok;
    };
    if (supports(own.Path()))
        return own.MakeDir("tree");
    other.emplace(QStringLiteral("/var/tmp/dnt-test-XXXXXX"));
    if (other->isValid() && supports(QFile::encodeName(other->path())))
        return QFile::encodeName(other->path());
    return {};
}
