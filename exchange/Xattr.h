// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <optional>

// The comment that the desktop's file managers keep in an extended attribute of the file.
inline constexpr char kCommentAttribute[] = "user.xdg.comment";

// Whether a symbolic link is followed. Not following it, a call acts on the link itself, which
// takes no user attributes: nothing then reaches the file that another user's link names.
enum class TLinks { Follow, NoFollow };

// The comment of the file or folder; nullopt when it has none or it cannot be read (*error then
// says why: 0 for none, else the system's error).
std::optional<QByteArray> ReadComment(const QByteArray &path, int *error = nullptr, TLinks links = TLinks::Follow);
// Sets the comment; 0 on success, else the system's error (ENOTSUP: no user attributes there).
int WriteComment(const QByteArray &path, const QByteArray &comment, TLinks links = TLinks::Follow);
// Removes the comment; 0 on success, else the system's error (ENODATA: there was none).
int RemoveComment(const QByteArray &path, TLinks links = TLinks::Follow);
