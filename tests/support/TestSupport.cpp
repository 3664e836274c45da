// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TestSupport {

namespace {
// Throws with the path and the system's reason; Google Test reports the throw as a failure of the
// running test.
[[noreturn]] void FailOnFile(const char *what, const QByteArray &path)
{
    throw std::runtime_error(std::string(what) + " " + path.toStdString() + ": " + std::strerror(errno));
}
} // namespace

TTempDir::TTempDir()
{
    if (!FDir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
}

QByteArray TTempDir::Path() const
{
    return QFile::encodeName(FDir.path());
}

QByteArray TTempDir::FilePath(const QByteArray &name) const
{
    return Path() + '/' + name;
}

QByteArray TTempDir::MakeDir(const QByteArray &relative) const
{
    const QByteArray path = FilePath(relative);
    struct stat st {};
    if (::mkdir(path.constData(), 0755) != 0
        && !(errno == EEXIST && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode)))
        FailOnFile("cannot create the test folder", path);
    return path;
}

QByteArray TTempDir::WriteFile(const QByteArray &relative, const QByteArray &bytes) const
{
    const QByteArray path = FilePath(relative);
    WriteFileBytes(path, bytes);
    return path;
}

QByteArray ReadFileBytes(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        FailOnFile("cannot read the test file", path);
    QByteArray result;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            errno = error;
            FailOnFile("cannot read the test file", path);
        }
        result.append(buffer, n);
    }
    ::close(fd);
    return result;
}

void WriteFileBytes(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        FailOnFile("cannot write the test file", path);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            errno = error;
            FailOnFile("cannot write the test file", path);
        }
        done += n;
    }
    if (::close(fd) != 0)
        FailOnFile("cannot write the test file", path);
}

QByteArray SourceDir()
{
    return QByteArrayLiteral(DIRNOTE_SOURCE_DIR);
}

QByteArray FixturesDir()
{
    return QByteArrayLiteral(DIRNOTE_FIXTURES_DIR);
}

QByteArray FixturePath(const QByteArray &relative)
{
    const QByteArray path = FixturesDir() + '/' + relative;
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        FailOnFile("missing test fixture", path);
    if (!S_ISREG(st.st_mode)) {
        errno = EISDIR;
        FailOnFile("test fixture is not a regular file", path);
    }
    return path;
}

QByteArray ProgramPath()
{
    return BuiltPath("dirnote");
}

QByteArray BuiltPath(const char *relative)
{
    return QByteArrayLiteral(DIRNOTE_BINARY_DIR "/") + relative;
}

QString BuiltProgram(const char *relative)
{
    return QFile::decodeName(BuiltPath(relative));
}

} // namespace TestSupport
