#include "common/AtomicFile.h"

#include "common/PathUtils.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    ~TFd() { Reset(); }
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    int Get() const { return FFd; }
    void Reset(int fd = -1)
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = fd;
    }

private:
    int FFd;
};

TFileStamp StampFromStat(const struct stat &st)
{
    TFileStamp stamp;
    stamp.Exists = true;
    stamp.Device = st.st_dev;
    stamp.Inode = st.st_ino;
    stamp.Size = st.st_size;
    stamp.ModifiedNs = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    return stamp;
}

std::optional<QByteArray> ReadFd(int fd, qsizetype sizeHint)
{
    // Read straight into the buffer; a file that grows meanwhile is read to its end all the same.
    QByteArray bytes(std::max<qsizetype>(sizeHint, 0) + 1, Qt::Uninitialized);
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size())
            bytes.resize(bytes.size() * 2);
        const ssize_t n = ::read(fd, bytes.data() + used, size_t(bytes.size() - used));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        used += n;
    }
    bytes.truncate(used);
    return bytes;
}

int WriteAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += n;
    }
    return 0;
}

bool SyncWrites()
{
    static const bool sync = qEnvironmentVariableIntValue("DIRNOTE_SYNC_WRITES") != 0;
    return sync;
}

QByteArray FolderOf(const QByteArray &path)
{
    const QByteArray folder = ExtractFilePath(path);
    return folder.isEmpty() ? QByteArrayLiteral("./") : folder;
}

// Writes the bytes into a new file of the folder that has no name yet where the file system
// allows it (nothing is left behind by a crash), else under a hidden temporary name.
// On success *fd is open and *tempName is empty (unnamed) or the temporary name.
int WriteNewFile(const QByteArray &path, const QByteArray &bytes, mode_t mode, bool sync, TFd &fd,
                 QByteArray &tempName)
{
    const QByteArray folder = FolderOf(path);
    tempName.clear();
    int f = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (f < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        QByteArray pattern = folder + '.' + ExtractFileName(path) + ".XXXXXX";
        f = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (f >= 0)
            tempName = pattern;
    }
    if (f < 0)
        return errno;
    fd.Reset(f);
    ::fchmod(f, mode);
    int error = WriteAll(f, bytes);
    if (!error && (sync || SyncWrites()) && ::fdatasync(f) != 0)
        error = errno;
    if (error && !tempName.isEmpty())
        ::unlink(tempName.constData());
    return error;
}

// Gives the written file its final name: link() when it must not replace anything, rename()
// otherwise.
int PublishNewFile(const QByteArray &path, TFd &fd, const QByteArray &tempName, bool replace)
{
    if (tempName.isEmpty()) {
        const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(fd.Get());
        if (!replace) {
            if (::linkat(AT_FDCWD, procPath.constData(), AT_FDCWD, path.constData(),
                         AT_SYMLINK_FOLLOW) != 0)
                return errno;
            return 0;
        }
        // rename() needs a name: link under a hidden one, then rename over the old file.
        QByteArray name;
        for (int attempt = 0; attempt < 100; ++attempt) {
            name = FolderOf(path) + '.' + ExtractFileName(path) + '.'
                   + QByteArray::number(::getpid()) + '.' + QByteArray::number(attempt);
            if (::linkat(AT_FDCWD, procPath.constData(), AT_FDCWD, name.constData(),
                         AT_SYMLINK_FOLLOW) == 0)
                break;
            if (errno != EEXIST)
                return errno;
            name.clear();
        }
        if (name.isEmpty())
            return EEXIST;
        if (::rename(name.constData(), path.constData()) != 0) {
            const int error = errno;
            ::unlink(name.constData());
            return error;
        }
        return 0;
    }
    int error = 0;
    if (replace) {
        if (::rename(tempName.constData(), path.constData()) != 0)
            error = errno;
    } else if (::link(tempName.constData(), path.constData()) != 0) {
        error = errno;
    }
    if (error || !replace)
        ::unlink(tempName.constData());
    return error;
}
} // namespace

TFileStamp StampOf(const QByteArray &path)
{
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return {};
    return StampFromStat(st);
}

std::optional<QByteArray> ReadWholeFile(const QByteArray &path, TFileStamp *stamp)
{
    TFd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        return std::nullopt;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0 || S_ISDIR(st.st_mode))
        return std::nullopt;
    if (stamp)
        *stamp = StampFromStat(st);
    return ReadFd(fd.Get(), qsizetype(st.st_size));
}

int CreateFileExclusive(const QByteArray &path, const QByteArray &bytes)
{
    struct stat st;
    if (::lstat(path.constData(), &st) == 0)
        return 0; // the common case: nothing to write, so no new file is even started
    TFd fd;
    QByteArray tempName;
    const mode_t umaskNow = ::umask(0);
    ::umask(umaskNow);
    if (const int error = WriteNewFile(path, bytes, 0666 & ~umaskNow, false, fd, tempName))
        return error;
    const int error = PublishNewFile(path, fd, tempName, false);
    return error == EEXIST ? 0 : error;
}

int ReplaceFileLocked(const QByteArray &path, const TFileEdit &edit, TReplaceOptions options)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        TFd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
        if (fd.Get() < 0) {
            if (errno != ENOENT)
                return errno;
            const std::optional<QByteArray> created = edit(std::nullopt);
            if (!created)
                return 0;
            TFd newFd;
            QByteArray tempName;
            mode_t mode = mode_t(options.CreateMode);
            if (options.CreateMode < 0) {
                const mode_t umaskNow = ::umask(0);
                ::umask(umaskNow);
                mode = 0666 & ~umaskNow;
            }
            if (const int error = WriteNewFile(path, *created, mode, options.Sync, newFd, tempName))
                return error;
            const int error = PublishNewFile(path, newFd, tempName, false);
            if (error == EEXIST)
                continue; // someone else created it meanwhile: edit theirs
            return error;
        }
        while (::flock(fd.Get(), LOCK_EX) != 0)
            if (errno != EINTR)
                return errno;
        struct stat locked, current;
        if (::fstat(fd.Get(), &locked) != 0)
            return errno;
        if (S_ISDIR(locked.st_mode))
            return EISDIR;
        if (::stat(path.constData(), &current) != 0 || current.st_ino != locked.st_ino
            || current.st_dev != locked.st_dev)
            continue; // replaced while we waited for the lock: lock the new one
        if (::access(path.constData(), W_OK) != 0)
            return errno;
        const std::optional<QByteArray> bytes = ReadFd(fd.Get(), qsizetype(locked.st_size));
        if (!bytes)
            return errno ? errno : EIO;
        const std::optional<QByteArray> changed = edit(bytes);
        if (!changed || *changed == *bytes)
            return 0;
        TFd newFd;
        QByteArray tempName;
        if (const int error = WriteNewFile(path, *changed, locked.st_mode & 07777, options.Sync, newFd, tempName))
            return error;
        // Keep the owner where we may (root editing a user's file).
        if (::fchown(newFd.Get(), locked.st_uid, locked.st_gid) != 0) {
        }
        return PublishNewFile(path, newFd, tempName, true);
    }
    return EAGAIN;
}
