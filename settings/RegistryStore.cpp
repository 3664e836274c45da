// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/RegistryStore.h"

#include "common/AtomicFile.h"
#include "common/PathUtils.h"

#include <cerrno>

namespace {

constexpr quint32 kHkeyCurrentUser = 0x80000001;

} // namespace

QByteArray RegistryFilePath(quint32 rootKey)
{
    if (rootKey != kHkeyCurrentUser)
        return {};
    return UserBaseFolder("XDG_CONFIG_HOME", ".config") + "/KER-MOSS/HKEY_CURRENT_USER.reg";
}

TRegistryFile LoadRegistryFile(const QByteArray &path)
{
    TRegistryFile file;
    if (const std::optional<QByteArray> bytes = ReadWholeFile(path))
        file.Parse(*bytes);
    return file;
}

TRegUpdateStatus UpdateRegistryFile(const QByteArray &path, const std::function<bool(TRegistryFile &)> &change,
                                    int *unreadableLine, int *error)
{
    int failure = ENOENT;
    const auto failed = [&] {
        if (error)
            *error = failure;
        return TRegUpdateStatus::Failed;
    };
    if (path.isEmpty())
        return failed();
    if (!MakeUserFolder(path.left(path.lastIndexOf('/')))) {
        failure = errno;
        return failed();
    }
    bool unparseable = false;
    // Settings are few and small: each write waits until it and its name are on the disk. A
    // symbolic link is followed, so the file it points to changes and the link stays.
    failure = ReplaceFileLocked(
        path,
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
    return failure ? failed() : TRegUpdateStatus::Done;
}
