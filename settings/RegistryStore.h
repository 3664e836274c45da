// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/RegistryFile.h"

#include <functional>

// The file that holds a root key: ${XDG_CONFIG_HOME:-$HOME/.config}/KER-MOSS/<root name>.reg.
// Empty for a root key this store does not keep.
QByteArray RegistryFilePath(quint32 rootKey);

// Reads the file. A missing file, or one the user may not read, reads as an empty store; so
// does one that is no registry export, whose UnreadableLine() then says where it went wrong.
TRegistryFile LoadRegistryFile(const QByteArray &path);

enum class TRegUpdateStatus { Done, Unparseable, Failed };

// Reads, changes and replaces the file under an exclusive advisory lock, so concurrent writers
// never lose each other's values. The change returns false when there is nothing to write.
// The file is replaced atomically (temporary file, then rename; both synced to the disk); its
// folder is created for the user alone. A file that cannot be parsed is never overwritten;
// `unreadableLine` then gets the line where it went wrong. On Failed, *error (when given) holds
// the error for FileErrorText.
TRegUpdateStatus UpdateRegistryFile(const QByteArray &path, const std::function<bool(TRegistryFile &)> &change,
                                    int *unreadableLine = nullptr, int *error = nullptr);
