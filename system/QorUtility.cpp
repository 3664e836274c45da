// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/QorUtility.h"

#include "common/Exceptions.h"
#include "common/MessageDlg.h"
#include "common/PathUtils.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// ---------------------------------------------------------------------------------------------
// Starting programs

// How often a wait looks at the process; the application's events are handled in between.
constexpr int PollIntervalMs = 10;
// "xdg-open" returns as soon as the application is launched, and its exit code is the only way
// to learn that a type has no application. Some desktops run the application in the foreground
// instead; after this long it counts as launched.
constexpr int XdgOpenPatienceMs = 5000;

// xdg-open's exit codes (4, the action failed, is what most desktops give for no application).
constexpr int XdgFileNotFound = 2;
constexpr int XdgNoApplication = 3;
constexpr int XdgNoPermission = 5;

QString Shown(const QByteArray &path)
{
    return QFile::decodeName(path);
}

void ShowShellError(const QString &text)
{
    MessageDlg(text, TMsgDlgType::mtError, mbOK, QApplication::activeWindow());
}

QString NotFoundText(const QByteArray &file)
{
    return QStringLiteral("Cannot find \"%1\". Make sure the name is correct, and try again.").arg(Shown(file));
}

QString XdgOpenFailureText(const QByteArray &file, int exitCode)
{
    if (exitCode == XdgFileNotFound)
        return NotFoundText(file);
    if (exitCode == XdgNoApplication)
        return QStringLiteral("There is no application to open \"%1\". Choose an application for "
                              "this type of file in the desktop's settings, and try again.")
            .arg(Shown(file));
    if (exitCode == XdgNoPermission)
        return QStringLiteral("You do not have permission to open \"%1\".").arg(Shown(file));
    // Desktops that open through their own tool report a type without application this way too.
    return QStringLiteral("\"%1\" could not be opened. There may be no application for this "
                          "type of file, or the application failed to start.")
        .arg(Shown(file));
}

// A child whose end nobody waits for any more is collected when it ends, so it leaves no zombie.
void ReapWhenEnded(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// Starts program (searched in PATH when it has no "/") with its arguments in folder (the
// current folder when empty), in a session of its own so it outlives a terminal's Ctrl+C.
// Returns the process id, or -errno.
pid_t Spawn(const QByteArray &program, const QByteArrayList &arguments, const QByteArray &folder)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!folder.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.constData()));
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int rc = program.contains('/')
                       ? posix_spawn(&pid, program.constData(), &actions, &attributes, argv.data(), environ)
                       : posix_spawnp(&pid, program.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -rc;
}

// The exit code of an ended child, or nothing while it runs.
std::optional<int> ExitCodeOf(pid_t pid)
{
    int status = 0;
    pid_t rc;
    do
        rc = ::waitpid(pid, &status, WNOHANG);
    while (rc < 0 && errno == EINTR);
    if (rc < 0)
        throw TOSError(errno);
    if (rc == 0)
        return std::nullopt;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

enum class TWaitEnd { Ended, Quitting, OutOfPatience };

// Waits for the child to end while the application handles its events. Quitting the
// application ends every running event loop, this one's too, which is how a request to quit is
// seen (also one made before the wait began).
TWaitEnd WaitForProcess(pid_t pid, int &exitCode, QDeadlineTimer patience = QDeadlineTimer::Forever)
{
    for (;;) {
        if (const std::optional<int> code = ExitCodeOf(pid)) {
            exitCode = *code;
            return TWaitEnd::Ended;
        }
        if (patience.hasExpired())
            return TWaitEnd::OutOfPatience;
        if (!QCoreApplication::instance()) {
            ::usleep(PollIntervalMs * 1000);
            continue;
        }
        QEventLoop loop;
        bool polled = false;
        QTimer::singleShot(PollIntervalMs, &loop, [&] {
            polled = true;
            loop.quit();
        });
        loop.exec();
        if (!polled)
            return TWaitEnd::Quitting;
    }
}

bool IsExecutableFile(const QByteArray &file)
{
    struct stat info {};
    return ::stat(file.constData(), &info) == 0 && S_ISREG(info.st_mode) && ::access(file.constData(), X_OK) == 0;
}

QByteArrayList SplitParameters(const QString &parameters)
{
    QByteArrayList result;
    for (const QString &parameter : QProcess::splitCommand(parameters))
        result.append(QFile::encodeName(parameter));
    return result;
}

// ---------------------------------------------------------------------------------------------
// Deleting for good

QByteArray WithoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// The folder holding path, and path's own name in it.
std::pair<QByteArray, QByteArray> SplitParent(const QByteArray &path)
{
    const QByteArray name = ExtractFileName(path);
    QByteArray parent = WithoutTrailingSlashes(ExtractFilePath(path));
    if (parent.isEmpty())
        parent = ".";
    return {parent, name};
}

// Entry names of an open folder, "." and ".." left out. Takes over fd.
std::optional<QByteArrayList> ReadNames(int fd)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }
    QByteArrayList names;
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    const bool failed = errno != 0;
    ::closedir(dir);
    if (failed)
        return std::nullopt;
    return names;
}

// Removes entries below an open folder, depth first, without ever following a symbolic link:
// every step names an entry relative to its folder's descriptor, and folders are opened with
// O_NOFOLLOW.
class TTreeRemover {
public:
    TTreeRemover(const QString &shownName, int showAfterMs) : FShownName(shownName), FShowAfterMs(showAfterMs) {}

    bool Remove(const QByteArray &parent, const QByteArrayList &names)
    {
        const int parentFd = ::open(parent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (parentFd < 0)
            return false;
        qint64 total = 0;
        for (const QByteArray &name : names)
            total += Count(parentFd, name);
        StartProgress(total);
        bool ok = true;
        for (const QByteArray &name : names)
            if (!(ok = RemoveEntry(parentFd, name)))
                break;
        ::close(parentFd);
        return ok && !Cancelled();
    }

private:
    qint64 Count(int parentFd, const QByteArray &name)
    {
        const int fd = OpenFolder(parentFd, name);
        if (fd < 0)
            return 1;
        qint64 count = 1;
        if (const auto names = ReadNames(::dup(fd)))
            for (const QByteArray &child : *names)
                count += Count(fd, child);
        ::close(fd);
        return count;
    }

    // A folder's descriptor, or -1 for anything else (a link to a folder included).
    static int OpenFolder(int parentFd, const QByteArray &name)
    {
        return ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }

    bool RemoveEntry(int parentFd, const QByteArray &name)
    {
        const int fd = OpenFolder(parentFd, name);
        if (fd < 0) {
            if (errno != ENOTDIR && errno != ELOOP)
                return false;
            return ::unlinkat(parentFd, name.constData(), 0) == 0 && Step();
        }
        const std::optional<QByteArrayList> children = ReadNames(::dup(fd));
        bool ok = children.has_value();
        if (ok)
            for (const QByteArray &child : *children)
                if (!(ok = RemoveEntry(fd, child)))
                    break;
        ::close(fd);
        return ok && ::unlinkat(parentFd, name.constData(), AT_REMOVEDIR) == 0 && Step();
    }

    void StartProgress(qint64 total)
    {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            return; // no widgets: deleting without a dialog
        FDialog.emplace(QStringLiteral("Deleting \"%1\"").arg(FShownName), QStringLiteral("Cancel"), 0,
                        int(qMin<qint64>(total, INT_MAX)), QApplication::activeWindow());
        FDialog->setWindowTitle(QStringLiteral("Deleting"));
        FDialog->setWindowModality(Qt::ApplicationModal);
        FDialog->setMinimumDuration(FShowAfterMs);
        FDialog->setAutoClose(false);
        FDialog->setAutoReset(false);
        FDialog->setValue(0);
    }

    // One more entry gone; false when the user asked to stop.
    bool Step()
    {
        ++FDone;
        if (FDialog)
            FDialog->setValue(int(qMin<qint64>(FDone, FDialog->maximum())));
        return !Cancelled();
    }

    bool Cancelled() const { return FDialog && FDialog->wasCanceled(); }

    QString FShownName;
    int FShowAfterMs;
    qint64 FDone = 0;
    std::optional<QProgressDialog> FDialog;
};

// Whether path's own entry can be taken out of its folder, so that deleting it for good can
// finish instead of emptying it and then failing.
bool CanRemoveEntry(const QByteArray &path)
{
    return ::access(SplitParent(path).first.constData(), W_OK | X_OK) == 0;
}

// QFile::moveToTrash takes a QString; a name that is not valid in the locale's encoding would
// reach it changed, so such a path cannot go to the trash.
bool NameSurvivesDecoding(const QByteArray &path)
{
    return QFile::encodeName(QFile::decodeName(path)) == path;
}

enum class TTrashResult { Trashed, NoTrash, Refused };

std::optional<dev_t> DeviceOf(const QByteArray &path)
{
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0)
        return std::nullopt;
    return info.st_dev;
}

// The volume of the user's own trash (or of the nearest folder above it, before it exists).
std::optional<dev_t> HomeTrashDevice()
{
    QByteArray folder = QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                                          + QStringLiteral("/Trash"));
    while (!folder.isEmpty()) {
        if (const std::optional<dev_t> device = DeviceOf(folder))
            return device;
        folder = WithoutTrailingSlashes(ExtractFilePath(WithoutTrailingSlashes(folder)));
        if (folder == "/")
            return DeviceOf(folder);
    }
    return std::nullopt;
}

// A failed move to the trash means "this volume has no trash" only for an entry on another
// volume than the user's trash (whose own trash could not be made) that is not a mount point
// itself. Anywhere else the move failed for another reason (the folder holds the trash, say),
// and deleting for good instead would destroy what the user meant to keep restorable.
bool VolumeHasNoTrash(const QByteArray &path)
{
    const std::optional<dev_t> device = DeviceOf(path);
    const std::optional<dev_t> parentDevice = DeviceOf(SplitParent(path).first);
    const std::optional<dev_t> trashDevice = HomeTrashDevice();
    return device && parentDevice && trashDevice && *device == *parentDevice && *device != *trashDevice;
}

// Moves one entry to the trash. NoTrash means that the volume has no trash and the entry may be
// deleted for good instead.
TTrashResult MoveToTrash(const QByteArray &path)
{
    if (!NameSurvivesDecoding(path) || !CanRemoveEntry(path))
        return TTrashResult::Refused;
    if (QFile::moveToTrash(QFile::decodeName(path)))
        return TTrashResult::Trashed;
    return VolumeHasNoTrash(path) ? TTrashResult::NoTrash : TTrashResult::Refused;
}

} // namespace

int ExecuteFile(const QByteArray &file, const QString &parameters, const QByteArray &workingDirectory, bool wait,
                TProcessHandle &processHandle, int showMode, bool suppressErrors)
{
    Q_UNUSED(showMode); // the window manager decides how new windows appear
    int result = ExecuteFileFailed;
    try {
        const QByteArray folder = workingDirectory.isEmpty() ? ExtractFilePath(file) : workingDirectory;
        struct stat info {};
        if (::stat(file.constData(), &info) != 0) {
            ShowShellError(NotFoundText(file));
            return result;
        }
        if (!folder.isEmpty() && (::stat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode))) {
            ShowShellError(
                QStringLiteral("The folder \"%1\" cannot be used as the working folder.").arg(Shown(folder)));
            return result;
        }

        pid_t pid = -ENOEXEC;
        if (IsExecutableFile(file)) {
            // Spawn searches PATH for a name without "/": a file here is never looked up there.
            const QByteArray program = file.contains('/') ? file : "./" + file;
            pid = Spawn(program, SplitParameters(parameters), folder);
            if (pid < 0 && pid != -ENOEXEC) {
                ShowShellError(QStringLiteral("\"%1\" could not be started: %2.")
                                   .arg(Shown(file), QString::fromLocal8Bit(std::strerror(-pid))));
                return result;
            }
        }
        const bool document = pid == -ENOEXEC; // not a program (also one marked executable)
        if (document) {
            pid = Spawn("xdg-open", {file}, folder);
            if (pid < 0) {
                ShowShellError(QStringLiteral("\"%1\" could not be opened: the desktop's opener "
                                              "\"xdg-open\" is missing.")
                                   .arg(Shown(file)));
                return result;
            }
        }

        if (!wait && !document) {
            ReapWhenEnded(pid);
            processHandle = 0;
            return result = 0;
        }
        int exitCode = StillActive;
        const QDeadlineTimer patience = wait ? QDeadlineTimer(QDeadlineTimer::Forever)
                                             : QDeadlineTimer(XdgOpenPatienceMs);
        const TWaitEnd end = WaitForProcess(pid, exitCode, patience);
        if (end != TWaitEnd::Ended)
            ReapWhenEnded(pid);
        if (document && end == TWaitEnd::Ended && exitCode != 0) {
            ShowShellError(XdgOpenFailureText(file, exitCode));
            return result;
        }
        processHandle = wait ? TProcessHandle(pid) : 0;
        result = wait ? exitCode : 0;
    } catch (...) {
        if (!suppressErrors)
            throw;
    }
    return result;
}

bool DeleteFolderTreeForGood(const QByteArray &path, bool contentsOnly, int showAfterMs)
{
    const QByteArray folder = WithoutTrailingSlashes(path);
    struct stat info {};
    if (::lstat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    if (contentsOnly) {
        const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const std::optional<QByteArrayList> names = fd < 0 ? std::nullopt : ReadNames(fd);
        return names && TTreeRemover(Shown(folder), showAfterMs).Remove(folder, *names);
    }
    if (folder == "/" || !CanRemoveEntry(folder))
        return false;
    const auto [parent, name] = SplitParent(folder);
    return TTreeRemover(Shown(folder), showAfterMs).Remove(parent, {name});
}

bool DeleteFolderTree(const QByteArray &path, bool contentsOnly)
{
    const QByteArray folder = WithoutTrailingSlashes(path);
    struct stat info {};
    if (folder.isEmpty() || ::stat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    if (::lstat(folder.constData(), &info) == 0 && S_ISLNK(info.st_mode)) {
        // A link to a folder: the link goes, what it points to stays.
        if (contentsOnly)
            return false;
        switch (MoveToTrash(folder)) {
        case TTrashResult::Trashed: return true;
        case TTrashResult::Refused: return false;
        case TTrashResult::NoTrash: return ::unlink(folder.constData()) == 0;
        }
    }
    if (!contentsOnly) {
        if (folder == "/")
            return false;
        switch (MoveToTrash(folder)) {
        case TTrashResult::Trashed: return true;
        case TTrashResult::Refused: return false;
        case TTrashResult::NoTrash: return DeleteFolderTreeForGood(folder, false);
        }
    }
    // Contents only: each entry to the trash, those the trash cannot take deleted for good.
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::optional<QByteArrayList> names = fd < 0 ? std::nullopt : ReadNames(fd);
    if (!names)
        return false;
    // A name the trash cannot take leaves everything as it was, rather than half of it.
    const QByteArray prefix = IncludeTrailingPathDelimiter(folder);
    for (const QByteArray &name : *names)
        if (!NameSurvivesDecoding(prefix + name) || !CanRemoveEntry(prefix + name))
            return false;
    QByteArrayList forGood;
    for (const QByteArray &name : *names) {
        switch (MoveToTrash(prefix + name)) {
        case TTrashResult::Trashed: break;
        case TTrashResult::Refused: return false;
        case TTrashResult::NoTrash: forGood.append(name); break;
        }
    }
    return forGood.isEmpty() || TTreeRemover(Shown(folder), ProgressShowAfterMs).Remove(folder, forGood);
}
