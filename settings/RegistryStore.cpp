#include "settings/RegistryStore.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr quint32 kHkeyCurrentUser = 0x80000001;

// Closes a descriptor on every way out (which also drops its lock).
class TFileHandle {
public:
    explicit TFileHandle(int fd) : FFd(fd) {}
    ~TFileHandle()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileHandle(const TFileHandle &) = delete;
    TFileHandle &operator=(const TFileHandle &) = delete;
    int Get() const { return FFd; }
    bool Close()
    {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0;
    }

private:
    int FFd;
};

bool ReadAll(int fd, QByteArray &bytes)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.append(buffer, n);
    }
}

bool WriteAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Missing folders on the way are created for the user alone; existing ones are left as they are.
bool MakeUserFolder(const QByteArray &folder)
{
    for (qsizetype slash = folder.indexOf('/', 1); ; slash = folder.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? folder : folder.left(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash < 0)
            break;
    }
    struct stat st {};
    return ::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The new content goes to a temporary file next to the old one and then replaces it in one
// step, so a reader or a crash sees either the old file or the new one, never a part.
bool ReplaceFile(const QByteArray &path, const QByteArray &bytes, mode_t mode)
{
    const qsizetype slash = path.lastIndexOf('/');
    QByteArray temp = path.left(slash + 1) + '.' + path.mid(slash + 1) + ".XXXXXX";
    TFileHandle file(::mkostemp(temp.data(), O_CLOEXEC));
    if (file.Get() < 0)
        return false;
    const bool written = ::fchmod(file.Get(), mode) == 0 && WriteAll(file.Get(), bytes) &&
                         ::fsync(file.Get()) == 0;
    if (!file.Close() || !written || ::rename(temp.constData(), path.constData()) != 0) {
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

// Writing through a symbolic link changes the file it points to and keeps the link.
QByteArray ResolveLink(const QByteArray &path)
{
    const QFileInfo info(QFile::decodeName(path));
    return info.isSymLink() ? QFile::encodeName(info.symLinkTarget()) : path;
}

} // namespace

QByteArray RegistryFilePath(quint32 rootKey)
{
    if (rootKey != kHkeyCurrentUser)
        return {};
    QByteArray base = qgetenv("XDG_CONFIG_HOME");
    if (!base.startsWith('/')) {
        QByteArray home = qgetenv("HOME");
        if (home.isEmpty())
            home = QFile::encodeName(QDir::homePath());
        base = home + "/.config";
    }
    return base + "/KER-MOSS/HKEY_CURRENT_USER.reg";
}

TRegistryFile LoadRegistryFile(const QByteArray &path)
{
    TRegistryFile file;
    QByteArray bytes;
    const TFileHandle handle(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (handle.Get() >= 0 && ReadAll(handle.Get(), bytes))
        file.Parse(bytes);
    return file;
}

TRegUpdateStatus UpdateRegistryFile(const QByteArray &path,
                                    const std::function<bool(TRegistryFile &)> &change)
{
    if (path.isEmpty())
        return TRegUpdateStatus::Failed;
    const QByteArray target = ResolveLink(path);
    if (!MakeUserFolder(target.left(target.lastIndexOf('/'))))
        return TRegUpdateStatus::Failed;

    // The lock is taken on the file itself. A writer that got the lock after another one
    // replaced the file holds the lock of the old file, so it checks and starts again.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        TFileHandle handle(::open(target.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600));
        if (handle.Get() < 0)
            return TRegUpdateStatus::Failed;
        int locked;
        while ((locked = ::flock(handle.Get(), LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0)
            return TRegUpdateStatus::Failed;
        struct stat opened {}, current {};
        if (::fstat(handle.Get(), &opened) != 0)
            return TRegUpdateStatus::Failed;
        if (::stat(target.constData(), &current) != 0 || current.st_ino != opened.st_ino ||
            current.st_dev != opened.st_dev)
            continue;

        QByteArray bytes;
        if (!ReadAll(handle.Get(), bytes))
            return TRegUpdateStatus::Failed;
        TRegistryFile file;
        if (!file.Parse(bytes))
            return TRegUpdateStatus::Unparseable;
        if (!change(file))
            return TRegUpdateStatus::Done;
        return ReplaceFile(target, file.Serialize(), opened.st_mode & 07777) ? TRegUpdateStatus::Done
                                                                              : TRegUpdateStatus::Failed;
    }
    return TRegUpdateStatus::Failed;
}
