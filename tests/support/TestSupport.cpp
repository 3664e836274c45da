#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TestSupport {

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
    ::mkdir(path.constData(), 0755);
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
    QByteArray result;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return result;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.append(buffer, n);
    }
    ::close(fd);
    return result;
}

void WriteFileBytes(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot write test file " + path.toStdString());
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
}

QByteArray FixturesDir()
{
    return QByteArrayLiteral(DIRNOTE_FIXTURES_DIR);
}

QByteArray ProgramPath()
{
    return QByteArrayLiteral(DIRNOTE_BINARY_DIR "/dirnote");
}

} // namespace TestSupport
