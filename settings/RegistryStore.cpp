#include "settings/RegistryStore.h"

#include "common/AtomicFile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

namespace {

constexpr quint32 kHkeyCurrentUser = 0x80000001;

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
    if (const std::optional<QByteArray> bytes = ReadWholeFile(path))
        file.Parse(*bytes);
    return file;
}

TRegUpdateStatus UpdateRegistryFile(const QByteArray &path,
                                    const std::function<bool(TRegistryFile &)> &change,
                                    int *unreadableLine)
{
    if (path.isEmpty())
        return TRegUpdateStatus::Failed;
    const QByteArray target = ResolveLink(path);
    if (!MakeUserFolder(target.left(target.lastIndexOf('/'))))
        return TRegUpdateStatus::Failed;
    bool unparseable = false;
    // Settings are few and small: each write waits until it is on the disk.
    const int error = ReplaceFileLocked(
        target,
        [&](const std::optional<QByteArray> &current) -> std::optional<QByteArray> {
            TRegistryFile file;
            if (!file.Parse(current.value_or(QByteArray()))) {
                unparseable = true; // never overwritten
                if (unreadableLine)
                    *unreadableLine = file.UnreadableLine();
                return std::nullopt;
            }
            if (!change(file))
                return std::nullopt;
            return file.Serialize();
        },
        TReplaceOptions{0600, true});
    if (unparseable)
        return TRegUpdateStatus::Unparseable;
    return error ? TRegUpdateStatus::Failed : TRegUpdateStatus::Done;
}
