// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/AtomicFile.h"

#include "common/PathUtils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <string>
#include <tuple>
#include <vector>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <ctime>
#include <map>
#include <optional>
#include <mutex>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {
class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    ~TFd() { Reset(); }
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    int Get() const { return FFd; }
    int Release() { return std::exchange(FFd, -1); }
    void Reset(int fd = -1)
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = fd;
    }

private:
    int FFd;
};

// Not an error code: the rename path cannot keep what others rely on, so write in place.
constexpr int kUseInPlace = -1000;
// A hidden temporary file of a crashed writer is only taken for a leftover once it is this old,
// so a writer on another machine sharing the folder (its process ids mean nothing here) keeps its
// file for as long as a write can take.
constexpr time_t kLeftoverAgeSeconds = 60;

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

// Opens without blocking (a FIFO would wait for a writer forever) and keeps the descriptor only
// when it is a regular file; then reads block as usual. A symbolic link is not followed (ELOOP):
// links are checked and followed by OpenNamed. Returns 0, an errno or kErrorNotRegularFile.
int OpenRegular(const QByteArray &path, int access, TFd &fd, struct stat &st)
{
    const int f = ::open(path.constData(), access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
    if (f < 0)
        return errno == EISDIR || errno == ENXIO ? kErrorNotRegularFile : errno;
    fd.Reset(f);
    if (::fstat(f, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return kErrorNotRegularFile;
    const int flags = ::fcntl(f, F_GETFL);
    if (flags < 0 || ::fcntl(f, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return errno;
    return 0;
}

// Reads from the current position to the end, at most kMaxFileSize bytes (EFBIG beyond).
int ReadFd(int fd, qsizetype sizeHint, QByteArray &bytes)
{
    // Read straight into the buffer; a file that grows meanwhile is read to its end all the same.
    bytes = QByteArray(std::clamp<qsizetype>(sizeHint, 0, kMaxFileSize) + 1, Qt::Uninitialized);
    qsizetype used = 0;
    for (;;) {
        if (used > kMaxFileSize)
            return EFBIG;
        if (used == bytes.size())
            bytes.resize(std::min<qsizetype>(bytes.size() * 2, kMaxFileSize + 1));
        const ssize_t n = ::read(fd, bytes.data() + used, size_t(bytes.size() - used));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        used += n;
    }
    bytes.truncate(used);
    return 0;
}

int WriteAllAt(int fd, QByteArrayView bytes, off_t offset = -1)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = offset < 0
                              ? ::write(fd, bytes.constData() + done, size_t(bytes.size() - done))
                              : ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), offset + done);
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

// Whether a name made by this owner may lead where it likes: the running user's own, or root's.
bool TrustedOwner(uid_t owner)
{
    return owner == ::geteuid() || owner == 0;
}

// Whether users other than the running one (and root) can put names into the folder: it is
// writable by its group or by everyone, or it belongs to someone else. Write granted by an ACL
// shows too, as an ACL's mask is the group's bits of the mode.
bool FolderOpenToOthers(const QByteArray &folder)
{
    struct stat st;
    if (::stat(folder.constData(), &st) != 0)
        return true; // nothing known of it: the careful answer
    return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 || !TrustedOwner(st.st_uid);
}

// The file a path names once symbolic links are followed; a dangling link gives the path it
// points to, where a new file is then created. Only links of the running user or root are
// followed: one that another user made gives kErrorForeignLink, as that user could otherwise
// make this one write into a file of their own choosing.
int FollowLinks(const QByteArray &path, QByteArray &target)
{
    target = path;
    for (int depth = 0;; ++depth) {
        struct stat st;
        if (::lstat(target.constData(), &st) != 0)
            return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(st.st_mode))
            return 0;
        if (!TrustedOwner(st.st_uid))
            return kErrorForeignLink;
        if (depth == 40)
            return ELOOP;
        QByteArray link(qsizetype(std::max<off_t>(st.st_size, 255)) + 1, Qt::Uninitialized);
        const ssize_t n = ::readlink(target.constData(), link.data(), size_t(link.size()));
        if (n < 0)
            return errno;
        if (n == link.size())
            return ENAMETOOLONG;
        link.truncate(n);
        target = link.startsWith('/') ? link : ExtractFilePath(target) + link;
    }
}

// Opens the regular file the path names: the name itself when it is no link (the common case
// costs no extra call), else the file its trusted links lead to. The last name is opened without
// following a link, so a link put there after the check is checked in turn, never followed
// unchecked. A file with several hard links in a folder that others can write to is refused
// (kErrorSharedHardLink): another user may have made that name for a file of this one's.
// `target` is the path opened, or where a missing file would be created (ENOENT).
int OpenNamed(const QByteArray &path, int access, QByteArray &target, TFd &fd, struct stat &st)
{
    target = path;
    for (int attempt = 0;; ++attempt) {
        const int error = OpenRegular(target, access, fd, st);
        if (error == ELOOP && attempt < 16) {
            if (const int linkError = FollowLinks(path, target))
                return linkError;
            continue;
        }
        if (error)
            return error;
        if (st.st_nlink > 1 && FolderOpenToOthers(FolderOf(target))) {
            fd.Reset();
            return kErrorSharedHardLink;
        }
        return 0;
    }
}

// Opens the file the path names for reading; one over kMaxFileSize is refused (EFBIG).
int OpenToRead(const QByteArray &path, QByteArray &target, TFd &fd, struct stat &st)
{
    const int failure = OpenNamed(path, O_RDONLY, target, fd, st);
    return !failure && st.st_size > kMaxFileSize ? EFBIG : failure;
}

// Hidden temporary names: ".<name>.<pid>.<n>", so a leftover tells which process made it.
QByteArray TemporaryName(const QByteArray &path, unsigned n)
{
    return FolderOf(path) + '.' + ExtractFileName(path) + '.' + QByteArray::number(::getpid()) + '.'
           + QByteArray::number(n);
}

unsigned NextTemporaryNumber()
{
    static std::atomic<unsigned> counter{0};
    return counter++;
}

// When each folder was last searched for leftovers, and what a listing that read the whole folder
// found there and left for the next write to look at.
struct TLeftoverSearch {
    dev_t Device;
    ino_t Inode;
    time_t Time;
    std::optional<std::vector<std::string>> Noted;
};
std::mutex gSearchMutex;
std::map<QByteArray, TLeftoverSearch> gLastSearch;

// Whether the folder is due for a search for leftovers. A search reads the whole folder, which
// takes tens of milliseconds for 100,000 entries, so each process searches a folder at its first
// write and then no more often than a leftover comes of age; where a listing has just read the
// folder, its names stand in for the search (*noted).
bool LeftoverSearchDue(const QByteArray &folder, const struct stat &st, std::optional<std::vector<std::string>> &noted)
{
    const std::lock_guard lock(gSearchMutex);
    const time_t now = ::time(nullptr);
    if (const auto it = gLastSearch.find(folder); it != gLastSearch.end() && it->second.Device == st.st_dev
                                                  && it->second.Inode == st.st_ino && now >= it->second.Time
                                                  && now - it->second.Time < kLeftoverAgeSeconds) {
        noted = std::exchange(it->second.Noted, std::nullopt);
        return noted.has_value();
    }
    if (gLastSearch.size() > 4096) // a long session in many folders: start afresh
        gLastSearch.clear();
    gLastSearch[folder] = {st.st_dev, st.st_ino, now, std::nullopt};
    return true;
}

// Removes the name when it is a leftover of the file's writers ("<prefix><pid>.<n>") whose
// process is gone and that has come of age (only a regular file).
void RemoveIfLeftover(int dirFd, std::string_view prefix, const std::string &name, time_t now)
{
    if (!std::string_view(name).starts_with(prefix))
        return;
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    const size_t dot = rest.find('.');
    const auto digits = [](std::string_view s) {
        return !s.empty() && s.size() <= 10
               && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (dot == std::string_view::npos || !digits(rest.substr(0, dot)) || !digits(rest.substr(dot + 1)))
        return;
    const long long pid = std::stoll(std::string(rest.substr(0, dot)));
    if (pid <= 0 || pid == ::getpid() || pid > 0x7fffffff || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
        return;
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)
        || now - st.st_mtim.tv_sec < kLeftoverAgeSeconds)
        return;
    ::unlinkat(dirFd, name.c_str(), 0);
}

// A crash between naming the temporary file and the rename leaves it behind. Those of processes
// that are gone are removed (only regular files under the exact name pattern).
void RemoveLeftovers(const QByteArray &path)
{
    const QByteArray folder = FolderOf(path);
    TFd dirFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (dirFd.Get() < 0 || ::fstat(dirFd.Get(), &st) != 0)
        return;
    std::optional<std::vector<std::string>> noted;
    if (!LeftoverSearchDue(folder, st, noted))
        return;
    const QByteArray prefixBytes = '.' + ExtractFileName(path) + '.';
    const std::string_view prefix(prefixBytes.constData(), size_t(prefixBytes.size()));
    const time_t now = ::time(nullptr);
    if (noted) {
        for (const std::string &name : *noted)
            RemoveIfLeftover(dirFd.Get(), prefix, name, now);
        return;
    }
    DIR *dir = ::fdopendir(dirFd.Release());
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir))
        if (std::string_view(entry->d_name).starts_with(prefix))
            RemoveIfLeftover(::dirfd(dir), prefix, entry->d_name, now);
    ::closedir(dir);
}

// The names of a file's extended attributes, each ended by a NUL; none where the file system
// keeps none.
int AttributeNames(int fd, QByteArray &names)
{
    names.resize(1024);
    for (;;) {
        const ssize_t n = ::flistxattr(fd, names.data(), size_t(names.size()));
        if (n >= 0) {
            names.truncate(n);
            return 0;
        }
        if (errno == ENOTSUP) {
            names.clear();
            return 0;
        }
        if (errno != ERANGE)
            return errno;
        const ssize_t needed = ::flistxattr(fd, nullptr, 0);
        if (needed < 0)
            return errno;
        names.resize(qsizetype(needed) + 1);
    }
}

// One attribute's value; ENODATA when the file has none of that name.
int AttributeValue(int fd, const char *name, QByteArray &value)
{
    value.resize(256);
    for (;;) {
        const ssize_t n = ::fgetxattr(fd, name, value.data(), size_t(value.size()));
        if (n >= 0) {
            value.truncate(n);
            return 0;
        }
        if (errno != ERANGE)
            return errno;
        const ssize_t needed = ::fgetxattr(fd, name, nullptr, 0);
        if (needed < 0)
            return errno;
        value.resize(qsizetype(needed) + 1);
    }
}

std::vector<const char *> SplitNames(const QByteArray &names)
{
    std::vector<const char *> list;
    for (qsizetype at = 0; at < names.size(); at += qsizetype(std::strlen(names.constData() + at)) + 1)
        list.push_back(names.constData() + at);
    return list;
}

// Gives the new file the extended attributes of the one it replaces, its ACL among them
// (system.posix_acl_access), and none other (a default ACL of the folder gives a new file one of
// its own). kUseInPlace when any of them cannot be copied (a security.* label this user may not
// set): a rewrite in place keeps the file and so all of them.
int CopyAttributes(int from, int to)
{
    QByteArray oldNames, newNames;
    if (AttributeNames(from, oldNames) != 0 || AttributeNames(to, newNames) != 0)
        return kUseInPlace;
    if (oldNames.isEmpty() && newNames.isEmpty())
        return 0; // the usual case: two calls, nothing to copy
    const std::vector<const char *> oldList = SplitNames(oldNames);
    QByteArray value, present;
    for (const char *name : oldList) {
        if (AttributeValue(from, name, value) != 0)
            return kUseInPlace;
        // One the new file has already (a label given to every file) needs no right to set it.
        if (AttributeValue(to, name, present) == 0 && present == value)
            continue;
        if (::fsetxattr(to, name, value.constData(), size_t(value.size()), 0) != 0)
            return kUseInPlace;
    }
    for (const char *name : SplitNames(newNames))
        if (std::none_of(oldList.begin(), oldList.end(),
                         [name](const char *old) { return std::strcmp(old, name) == 0; })
            && ::fremovexattr(to, name) != 0)
            return kUseInPlace;
    return 0;
}

// Writes the bytes into a new file of the folder that has no name yet where the file system
// allows it (nothing is left behind by a crash), else under a hidden temporary name.
// A file that replaces another (open as replacedFd) gets that file's owner, group, mode and
// extended attributes (kUseInPlace when it cannot); a file created new gets `mode`, or 0666 less
// the umask when mode is negative.
// On success fd is open and tempName is empty (unnamed) or the temporary name.
// `content` writes the bytes into the new file open as its argument and returns 0 or an errno.
int WriteNewFile(const QByteArray &path, const std::function<int(int)> &content, const struct stat *replaced,
                 int replacedFd, int mode, bool sync, TFd &fd, QByteArray &tempName)
{
    // A replacement starts private and gets its final mode once its owner is right.
    const mode_t openMode = replaced ? 0600 : mode < 0 ? 0666 : mode_t(mode);
    tempName.clear();
    // An unnamed file gets its name through /proc/self/fd; without /proc (a chroot, a sandbox)
    // only a named temporary file can be published.
    const bool procFds = ::access("/proc/self/fd", F_OK) == 0;
    int f = -1;
    errno = EOPNOTSUPP;
    if (procFds)
        f = ::open(FolderOf(path).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, openMode);
    if (f < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            tempName = TemporaryName(path, NextTemporaryNumber());
            f = ::open(tempName.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, openMode);
            if (f >= 0 || errno != EEXIST)
                break;
        }
    }
    if (f < 0) {
        const int error = errno;
        tempName.clear();
        return replaced && (error == EACCES || error == EPERM) ? kUseInPlace : error;
    }
    fd.Reset(f);
    int error = 0;
    if (replaced) {
        struct stat st;
        if (::fstat(f, &st) != 0)
            error = errno;
        else if ((st.st_uid != replaced->st_uid || st.st_gid != replaced->st_gid)
                 && ::fchown(f, replaced->st_uid, replaced->st_gid) != 0)
            error = kUseInPlace; // another user's or group's file stays theirs
        if (!error && ::fchmod(f, replaced->st_mode & 07777) != 0)
            error = errno;
        if (!error)
            error = CopyAttributes(replacedFd, f);
    } else if (mode >= 0 && ::fchmod(f, mode_t(mode)) != 0) {
        error = errno;
    }
    if (!error)
        error = content(f);
    if (!error && (sync || SyncWrites()) && ::fdatasync(f) != 0)
        error = errno;
    if (error && !tempName.isEmpty())
        ::unlink(tempName.constData());
    return error;
}

// Writes the pieces one after the other where they lie: a spliced content is never joined in memory.
int WritePieces(int f, std::initializer_list<QByteArrayView> pieces)
{
    off_t offset = 0;
    for (const QByteArrayView piece : pieces) {
        if (const int error = WriteAllAt(f, piece, offset))
            return error;
        offset += off_t(piece.size());
    }
    return 0;
}

int WriteNewFile(const QByteArray &path, std::initializer_list<QByteArrayView> pieces, const struct stat *replaced,
                 int replacedFd, int mode, bool sync, TFd &fd, QByteArray &tempName)
{
    return WriteNewFile(
        path, [pieces](int f) { return WritePieces(f, pieces); }, replaced, replacedFd, mode, sync, fd, tempName);
}

void SyncFolderOf(const QByteArray &path)
{
    TFd folder(::open(FolderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() >= 0)
        ::fsync(folder.Get());
}

// Gives the written file its final name: link() when it must not replace anything, rename()
// otherwise. A rename the folder refuses gives kUseInPlace.
int PublishNewFile(const QByteArray &path, TFd &fd, QByteArray tempName, bool replace)
{
    if (tempName.isEmpty()) {
        const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(fd.Get());
        if (!replace)
            return ::linkat(AT_FDCWD, procPath.constData(), AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) == 0 ? 0
                                                                                                                : errno;
        // rename() needs a name: link under a hidden one, then rename over the old file.
        for (int attempt = 0; attempt < 100 && tempName.isEmpty(); ++attempt) {
            tempName = TemporaryName(path, NextTemporaryNumber());
            if (::linkat(AT_FDCWD, procPath.constData(), AT_FDCWD, tempName.constData(), AT_SYMLINK_FOLLOW) == 0)
                break;
            if (errno != EEXIST)
                return errno == EACCES || errno == EPERM ? kUseInPlace : errno;
            tempName.clear();
        }
        if (tempName.isEmpty())
            return EEXIST;
    }
    int error = 0;
    if (replace) {
        if (::rename(tempName.constData(), path.constData()) != 0)
            error = errno == EACCES || errno == EPERM ? kUseInPlace : errno;
    } else if (::link(tempName.constData(), path.constData()) != 0) {
        error = errno;
    }
    if (error || !replace)
        ::unlink(tempName.constData());
    return error;
}

// The old bytes of a file rewritten in place, on the disk, under a name that tells which file
// they belong to.
QByteArray BackupStem(const QByteArray &path)
{
    const QByteArray absolute = path.startsWith('/') ? path : QFile::encodeName(QDir::currentPath()) + '/' + path;
    QByteArray stem = absolute.toPercentEncoding();
    if (stem.size() > 180)
        stem = QCryptographicHash::hash(absolute, QCryptographicHash::Sha1).toHex() + '-'
               + ExtractFileName(path).left(100).toPercentEncoding().left(120);
    return stem;
}

int KeepBackup(const QByteArray &path, const QByteArray &bytes, QByteArray &backup)
{
    const QByteArray folder = InPlaceBackupFolder();
    if (!MakeUserFolder(folder))
        return errno ? errno : EACCES;
    const QByteArray stem = BackupStem(path);
    TFd fd;
    QByteArray part;
    for (unsigned n = 0; fd.Get() < 0; ++n) {
        backup = folder + '/' + stem + '.' + QByteArray::number(::getpid()) + '.' + QByteArray::number(n);
        part = backup + ".part";
        if (::access(backup.constData(), F_OK) == 0)
            continue;
        fd.Reset(::open(part.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
        if (fd.Get() < 0 && (errno != EEXIST || n == 100))
            return errno;
    }
    // Only a whole backup gets its name: a writer killed while keeping it leaves a ".part" that
    // nobody takes for the old text.
    int error = WriteAllAt(fd.Get(), bytes);
    if (!error && ::fdatasync(fd.Get()) != 0)
        error = errno;
    if (!error && ::rename(part.constData(), backup.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(part.constData());
        return error;
    }
    SyncFolderOf(backup);
    return 0;
}

int WriteFdInPlace(int fd, const QByteArray &bytes)
{
    if (const int error = WriteAllAt(fd, bytes, 0))
        return error;
    if (::ftruncate(fd, off_t(bytes.size())) != 0 || ::fdatasync(fd) != 0)
        return errno;
    return 0;
}

// The backups of this file's old bytes that are still in the cache folder, oldest first.
// A backup lives only while its writer holds the file's exclusive lock, so one seen by a
// process holding the lock was left by a writer that died in the middle of a rewrite: the file
// may hold part of the new bytes after part of the old.
std::vector<QByteArray> TornRewriteBackups(const QByteArray &target, std::vector<QByteArray> *parts = nullptr)
{
    const QByteArray folder = InPlaceBackupFolder();
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return {};
    const QByteArray prefix = BackupStem(target) + '.';
    std::vector<std::pair<timespec, QByteArray>> found;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (!name.starts_with(std::string_view(prefix.constData(), size_t(prefix.size()))))
            continue;
        // The rest is "<pid>.<n>": a longer stem of another file never passes for this one.
        std::string_view rest = name.substr(size_t(prefix.size()));
        const bool part = rest.ends_with(".part");
        if (part)
            rest.remove_suffix(5);
        const size_t dot = rest.find('.');
        const auto digits = [](std::string_view s) {
            return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
        };
        struct stat st;
        if (dot == std::string_view::npos || !digits(rest.substr(0, dot)) || !digits(rest.substr(dot + 1))
            || ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (part) {
            if (parts)
                parts->push_back(folder + '/' + QByteArray(entry->d_name));
            continue;
        }
        found.emplace_back(st.st_mtim, folder + '/' + QByteArray(entry->d_name));
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
        return std::tie(a.first.tv_sec, a.first.tv_nsec, a.second)
               < std::tie(b.first.tv_sec, b.first.tv_nsec, b.second);
    });
    std::vector<QByteArray> paths;
    for (auto &[time, path] : found)
        paths.push_back(std::move(path));
    return paths;
}

// Whether the cache folder holds any backup at all: the cheap test before a read looks closer.
bool AnyInPlaceBackup()
{
    DIR *dir = ::opendir(InPlaceBackupFolder().constData());
    if (!dir)
        return false;
    bool any = false;
    while (const dirent *entry = ::readdir(dir))
        if (std::string_view name(entry->d_name); name != "." && name != "..") {
            any = true;
            break;
        }
    ::closedir(dir);
    return any;
}

int ReadBackup(const QByteArray &backup, QByteArray &bytes)
{
    TFd fd(::open(backup.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st;
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0)
        return errno;
    if (st.st_size > kMaxFileSize)
        return EFBIG;
    return ReadFd(fd.Get(), qsizetype(st.st_size), bytes);
}

// Puts back the old bytes of a rewrite in place that a crash cut short, before anyone builds on
// the torn text. The oldest backup is the last text known whole. `fd` is open for writing and
// holds the exclusive lock; `bytes` becomes the file's text.
int RecoverTornRewrite(int fd, const QByteArray &target, QByteArray &bytes)
{
    std::vector<QByteArray> parts;
    const std::vector<QByteArray> backups = TornRewriteBackups(target, &parts);
    for (const QByteArray &part : parts) // the file was never touched after these
        ::unlink(part.constData());
    if (backups.empty())
        return 0;
    QByteArray old;
    if (const int error = ReadBackup(backups.front(), old))
        return error;
    if (const int error = WriteFdInPlace(fd, old))
        return error;
    for (const QByteArray &backup : backups)
        ::unlink(backup.constData());
    bytes = std::move(old);
    return 0;
}

// Rewrites the open, locked file with new bytes, keeping its inode and so its owner, group,
// mode and every hard link. The old bytes wait in the cache folder until the new ones are on
// the disk; a failed write puts the old bytes back.
int RewriteInPlace(int fd, const QByteArray &path, const QByteArray &old, const QByteArray &bytes)
{
    QByteArray backup;
    if (const int error = KeepBackup(path, old, backup))
        return error;
    const int error = WriteFdInPlace(fd, bytes);
    if (!error || WriteFdInPlace(fd, old) == 0)
        ::unlink(backup.constData());
    return error;
}
} // namespace

QString FileErrorText(int error)
{
    if (error == kErrorNotRegularFile)
        return QStringLiteral("it is not a regular file");
    if (error == EFBIG)
        return QStringLiteral("it is larger than 256 MiB");
    if (error == kErrorForeignLink)
        return QStringLiteral("it is a link that another user made");
    if (error == kErrorSharedHardLink)
        return QStringLiteral("it has several hard links in a folder that others can write to");
    return qt_error_string(error);
}

bool MakeUserFolder(const QByteArray &folder)
{
    for (qsizetype slash = folder.indexOf('/', 1);; slash = folder.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? folder : folder.left(slash);
        if (!part.isEmpty() && ::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash < 0)
            break;
    }
    struct stat st {};
    if (::stat(folder.constData(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode))
        errno = ENOTDIR;
    return S_ISDIR(st.st_mode);
}

QByteArray InPlaceBackupFolder()
{
    return UserBaseFolder("XDG_CACHE_HOME", ".cache") + "/KER-MOSS/DirNote/in-place";
}

TFileStamp StampOf(const QByteArray &path)
{
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return {};
    return StampFromStat(st);
}

std::optional<QByteArray> ReadWholeFile(const QByteArray &path, TFileStamp *stamp, int *error)
{
    TFd fd;
    struct stat st;
    QByteArray target;
    int failure = OpenToRead(path, target, fd, st);
    QByteArray bytes;
    if (!failure) {
        // A writer rewriting the file in place holds the exclusive lock: read whole texts only.
        while (::flock(fd.Get(), LOCK_SH) != 0 && errno == EINTR) {
        }
        if (AnyInPlaceBackup() && !TornRewriteBackups(target).empty()) {
            // A writer died while rewriting the file in place: the old text is put back under
            // the exclusive lock, or, where this user may not write the file, read from the backup.
            fd.Reset();
            const int repair = ReplaceFileLocked(path, [](const std::optional<QByteArray> &) { return std::nullopt; });
            const std::vector<QByteArray> backups = TornRewriteBackups(target);
            if (repair != 0 || !backups.empty()) {
                failure = backups.empty() ? EAGAIN : ReadBackup(backups.front(), bytes);
                if (!failure && stamp)
                    *stamp = StampOf(path);
                if (error)
                    *error = failure;
                return failure ? std::nullopt : std::optional<QByteArray>(bytes);
            }
            return ReadWholeFile(path, stamp, error);
        }
        if (stamp)
            *stamp = StampFromStat(st);
        failure = ReadFd(fd.Get(), qsizetype(st.st_size), bytes);
    }
    if (error)
        *error = failure;
    if (failure)
        return std::nullopt;
    return bytes;
}

int ReadFileInPieces(const QByteArray &path, qsizetype pieceSize, const std::function<void(QByteArrayView)> &consume,
                     TFileStamp *stamp)
{
    TFd fd;
    struct stat st;
    QByteArray target;
    int failure = OpenToRead(path, target, fd, st);
    if (failure)
        return failure;
    while (::flock(fd.Get(), LOCK_SH) != 0 && errno == EINTR) {
    }
    if (AnyInPlaceBackup() && !TornRewriteBackups(target).empty()) {
        // Rare: a torn rewrite is repaired or read from its backup by the whole-file reader.
        fd.Reset();
        const std::optional<QByteArray> bytes = ReadWholeFile(path, stamp, &failure);
        if (bytes)
            consume(*bytes);
        return failure;
    }
    if (stamp)
        *stamp = StampFromStat(st);
    QByteArray piece(std::max<qsizetype>(pieceSize, 1), Qt::Uninitialized);
    qsizetype total = 0;
    for (;;) {
        const ssize_t n = ::read(fd.Get(), piece.data(), size_t(piece.size()));
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        // A file that grows past the limit while it is read is refused as one that was too large.
        if ((total += n) > kMaxFileSize)
            return EFBIG;
        consume(QByteArrayView(piece.constData(), n));
    }
}

int CreateFileExclusive(const QByteArray &path, const QByteArray &bytes)
{
    struct stat st;
    if (::stat(path.constData(), &st) == 0)
        return 0; // the common case: nothing to write, so no new file is even started
    QByteArray target;
    if (const int error = FollowLinks(path, target))
        // The name is taken by another user's link: nothing is created through it, and the
        // reads and writes of the file that follow say why they refuse it.
        return error == kErrorForeignLink ? 0 : error;
    TFd fd;
    QByteArray tempName;
    if (const int error = WriteNewFile(target, {bytes}, nullptr, -1, -1, false, fd, tempName))
        return error;
    const int error = PublishNewFile(target, fd, tempName, false);
    return error == EEXIST ? 0 : error;
}

namespace {
// From this size on, a replaced file's text and pages are let go as below.
constexpr qsizetype kLargeFile = 4 << 20;

// The last close of a replaced large file frees its pages and blocks, and its text read for the
// edit frees its memory: tens of milliseconds at 100 MB, which a commit made as the cursor leaves a
// row need not wait for. The file is no longer named, so nothing waits for its lock either.
void ReleaseReplaced(TFd &fd, QByteArray &bytes, qsizetype size)
{
    if (size < kLargeFile)
        return;
    const int replaced = fd.Release();
    try {
        std::thread([replaced, text = std::move(bytes)]() mutable {
            ::close(replaced);
            text = QByteArray();
        }).detach();
    } catch (const std::system_error &) {
        ::close(replaced); // no thread to be had: released here after all
    }
}

// The text of a large file about to be replaced is held in memory already: its cached pages can
// go before the new text is written, rather than three copies being held at once.
void DropCachedText(int fd, qsizetype size)
{
    if (size >= kLargeFile)
        (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

// The pieces a file is read and copied in where its text is never held whole.
constexpr qsizetype kCopyPiece = 256 << 10;

// Hands the bytes [from, to) of the file to consume in pieces; a file that ends early (cut by a
// writer that ignores the lock) gives EIO, so no short copy is taken for the whole.
int ReadRange(int fd, qsizetype from, qsizetype to, const std::function<void(QByteArrayView)> &consume)
{
    QByteArray piece(std::clamp<qsizetype>(to - from, 1, kCopyPiece), Qt::Uninitialized);
    while (from < to) {
        const ssize_t n = ::pread(fd, piece.data(), size_t(std::min(piece.size(), to - from)), off_t(from));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        consume(QByteArrayView(piece.constData(), n));
        from += n;
    }
    return 0;
}

// Copies the bytes [from, to) of one file to the other at outAt without passing them through
// this process where the kernel can, else in pieces.
int CopyRange(int in, int out, qsizetype from, qsizetype to, off_t &outAt)
{
    loff_t inOffset = from;
    loff_t outOffset = outAt;
    while (inOffset < to) {
        const ssize_t n = ::copy_file_range(in, &inOffset, out, &outOffset, size_t(to - inOffset), 0);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        if (n == 0)
            return EIO;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return errno;
        // Not between these files: the rest goes through a piece of memory.
        int writeError = 0;
        const int error = ReadRange(in, qsizetype(inOffset), to, [&](QByteArrayView piece) {
            if (!writeError)
                writeError = WriteAllAt(out, piece, off_t(outOffset));
            outOffset += loff_t(piece.size());
        });
        if (error || writeError)
            return error ? error : writeError;
        break;
    }
    outAt = off_t(outOffset);
    return 0;
}

// The file's bytes with the splices made, into the new file `out`.
int CopyWithSplices(int in, int out, qsizetype size, const std::vector<TFileSplice> &splices)
{
    off_t outAt = 0;
    qsizetype at = 0;
    for (const TFileSplice &splice : splices) {
        if (const int error = CopyRange(in, out, at, splice.From, outAt))
            return error;
        if (const int error = WriteAllAt(out, splice.Insert, outAt))
            return error;
        outAt += off_t(splice.Insert.size());
        at = splice.To;
    }
    return CopyRange(in, out, at, size, outAt);
}

// Opens the file the path names for writing and takes its exclusive lock. kReplacedMeanwhile when
// another writer replaced the file while this one waited for the lock: lock the new one then.
constexpr int kReplacedMeanwhile = -1001;
int LockExisting(const QByteArray &path, QByteArray &target, TFd &fd, struct stat &locked)
{
    if (const int openError = OpenNamed(path, O_RDWR, target, fd, locked))
        return openError;
    while (::flock(fd.Get(), LOCK_EX) != 0)
        if (errno != EINTR)
            return errno;
    struct stat current;
    if (::fstat(fd.Get(), &locked) != 0)
        return errno;
    if (::stat(path.constData(), &current) != 0 || current.st_ino != locked.st_ino || current.st_dev != locked.st_dev)
        return kReplacedMeanwhile;
    return locked.st_size > kMaxFileSize ? EFBIG : 0;
}

// Rare (hard links, another user's file): a rewrite in place holds both texts whole.
int RewriteSplicedInPlace(int fd, const QByteArray &target, qsizetype size, qsizetype newSize,
                          const std::vector<TFileSplice> &splices)
{
    QByteArray old;
    old.reserve(size);
    if (const int readError = ReadRange(fd, 0, size, [&old](QByteArrayView piece) { old += piece; }))
        return readError;
    QByteArray bytes;
    bytes.reserve(newSize);
    qsizetype from = 0;
    for (const TFileSplice &splice : splices) {
        bytes.append(old.constData() + from, splice.From - from).append(splice.Insert);
        from = splice.To;
    }
    bytes.append(old.constData() + from, size - from);
    return RewriteInPlace(fd, target, old, bytes);
}

// The end of an edit of the locked file (open as fd, as `locked` describes it): the new text,
// which `content` writes, goes into a new file that takes the old one's place. Where that would
// change what others rely on (hard links, another user's file), rewriteInPlace() writes it into
// the file itself. `held` is the old text where it was read whole (else empty), `size` the old
// text's size: a large file's pages and text are let go as soon as it is replaced.
int ReplaceLocked(const QByteArray &target, TFd &fd, const struct stat &locked, bool sync, QByteArray &held,
                  qsizetype size, const std::function<int(int)> &content, const std::function<int()> &rewriteInPlace)
{
    RemoveLeftovers(target);
    // A second name would keep the old text, so hard links are always written in place.
    int error = locked.st_nlink > 1 ? kUseInPlace : 0;
    if (!error) {
        DropCachedText(fd.Get(), held.size());
        TFd newFd;
        QByteArray tempName;
        error = WriteNewFile(target, content, &locked, fd.Get(), -1, sync, newFd, tempName);
        if (!error)
            error = PublishNewFile(target, newFd, tempName, true);
        if (!error && sync)
            SyncFolderOf(target);
        if (!error)
            ReleaseReplaced(fd, held, size);
    }
    return error == kUseInPlace ? rewriteInPlace() : error;
}

// The file an edit found, open and under its exclusive lock.
struct TLockedFile {
    QByteArray Target; // the file the path names, its links followed
    TFd Fd;
    struct stat Locked;
};

// Hands the file the path names to `edit` under its exclusive lock, or its target to `missing`
// where there is none. A pass that gives kReplacedMeanwhile found the file replaced (or created)
// by another writer, which made progress: so it is tried again however busy the file is.
int EditLockedFile(const QByteArray &path, const std::function<int(const QByteArray &)> &missing,
                   const std::function<int(TLockedFile &)> &edit)
{
    for (;;) {
        TLockedFile file;
        int error = LockExisting(path, file.Target, file.Fd, file.Locked);
        if (error == ENOENT)
            error = missing(file.Target);
        else if (!error)
            error = edit(file);
        if (error != kReplacedMeanwhile)
            return error;
    }
}

// A splice of a file that is not there: only an insertion at its start creates it.
int CreateSpliced(const QByteArray &target, const TFileSpliceEdit &edit, int createMode, bool sync)
{
    const std::optional<TFileSplice> created = edit(std::nullopt);
    if (!created)
        return 0;
    if (created->From != 0 || created->To != 0)
        return EINVAL;
    if (created->Insert.size() > kMaxFileSize)
        return EFBIG;
    TFd newFd;
    QByteArray tempName;
    if (const int error = WriteNewFile(target, {created->Insert}, nullptr, -1, createMode, sync, newFd, tempName))
        return error;
    const int error = PublishNewFile(target, newFd, tempName, false);
    if (error == EEXIST)
        return kReplacedMeanwhile; // someone else created it meanwhile: edit theirs
    if (!error && sync)
        SyncFolderOf(target);
    return error;
}

// A splice of the locked file, read whole.
int SpliceLocked(TLockedFile &file, const TFileSpliceEdit &edit, bool sync)
{
    QByteArray bytes;
    if (const int error = ReadFd(file.Fd.Get(), qsizetype(file.Locked.st_size), bytes))
        return error;
    if (const int error = RecoverTornRewrite(file.Fd.Get(), file.Target, bytes))
        return error; // the torn text is no base for an edit
    const std::optional<TFileSplice> changed = edit(bytes);
    if (!changed)
        return 0;
    if (changed->From < 0 || changed->From > changed->To || changed->To > bytes.size())
        return EINVAL;
    const QByteArrayView head = QByteArrayView(bytes).first(changed->From);
    const QByteArrayView tail = QByteArrayView(bytes).sliced(changed->To);
    if (QByteArrayView(changed->Insert) == QByteArrayView(bytes).sliced(changed->From, changed->To - changed->From))
        return 0;
    if (head.size() + changed->Insert.size() + tail.size() > kMaxFileSize)
        return EFBIG;
    return ReplaceLocked(
        file.Target, file.Fd, file.Locked, sync, bytes, bytes.size(),
        [&](int out) {
            return WritePieces(out, {head, changed->Insert, tail});
        },
        [&] {
            return RewriteInPlace(file.Fd.Get(), file.Target, bytes,
                                  head.toByteArray().append(changed->Insert).append(tail));
        });
}

// Cuts of the locked file, which is read and copied in pieces, never held whole.
int CutLocked(TLockedFile &file, const TFileCutEdit &edit, bool sync)
{
    const int fd = file.Fd.Get();
    QByteArray torn;
    if (const int error = RecoverTornRewrite(fd, file.Target, torn))
        return error; // the torn text is no base for an edit
    if (!torn.isEmpty() && ::fstat(fd, &file.Locked) != 0)
        return errno; // the old text is back in the file, and read from there
    torn = QByteArray();
    const qsizetype size = qsizetype(file.Locked.st_size);
    const TContentReader read = [fd, size](const std::function<void(QByteArrayView)> &consume) {
        return ReadRange(fd, 0, size, consume);
    };
    const std::optional<std::vector<TFileSplice>> splices = edit(read);
    if (!splices || splices->empty())
        return 0;
    qsizetype at = 0, newSize = size;
    for (const TFileSplice &splice : *splices) {
        if (splice.From < at || splice.From > splice.To || splice.To > size)
            return EINVAL;
        at = splice.To;
        newSize += splice.Insert.size() - (splice.To - splice.From);
    }
    if (newSize > kMaxFileSize)
        return EFBIG;
    return ReplaceLocked(
        file.Target, file.Fd, file.Locked, sync, torn, size,
        [&](int out) { return CopyWithSplices(fd, out, size, *splices); },
        [&] { return RewriteSplicedInPlace(fd, file.Target, size, newSize, *splices); });
}
} // namespace

int SpliceFileLocked(const QByteArray &path, const TFileSpliceEdit &edit, TReplaceOptions options)
{
    const bool sync = options.Sync || SyncWrites();
    return EditLockedFile(
        path, [&](const QByteArray &target) { return CreateSpliced(target, edit, options.CreateMode, sync); },
        [&](TLockedFile &file) { return SpliceLocked(file, edit, sync); });
}

int ReplaceFileLocked(const QByteArray &path, const TFileEdit &edit, TReplaceOptions options)
{
    return SpliceFileLocked(
        path,
        [&edit](const std::optional<QByteArray> &current) -> std::optional<TFileSplice> {
            std::optional<QByteArray> changed = edit(current);
            if (!changed)
                return std::nullopt;
            return TFileSplice{0, current ? current->size() : 0, std::move(*changed)};
        },
        options);
}

int CutFileLocked(const QByteArray &path, const TFileCutEdit &edit, TReplaceOptions options)
{
    const bool sync = options.Sync || SyncWrites();
    return EditLockedFile(
        path, [](const QByteArray &) { return 0; }, [&](TLockedFile &file) { return CutLocked(file, edit, sync); });
}

void NoteLeftoverSearch(const QByteArray &folder, int dirFd, std::vector<std::string> names)
{
    struct stat st;
    if (::fstat(dirFd, &st) != 0)
        return;
    const QByteArray key = IncludeTrailingPathDelimiter(folder.isEmpty() ? QByteArrayLiteral(".") : folder);
    const std::lock_guard lock(gSearchMutex);
    if (gLastSearch.size() > 4096)
        gLastSearch.clear();
    gLastSearch[key] = {st.st_dev, st.st_ino, ::time(nullptr), std::move(names)};
}
