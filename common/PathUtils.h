// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The path part of a path text: everything up to and including its last "/"; empty without one.
QByteArray ExtractFilePath(const QByteArray &path);
QString ExtractFilePath(const QString &path);
// The file-name part: what follows the last "/".
QByteArray ExtractFileName(const QByteArray &path);
QString ExtractFileName(const QString &path);
// The text with a trailing "/" added when it has none (the empty text stays empty).
QByteArray IncludeTrailingPathDelimiter(const QByteArray &path);
// ASCII upper-casing, as the description file's exclusion compares names.
QByteArray AsciiUpper(const QByteArray &text);
// A per-user base folder: the XDG variable when it holds an absolute path, else $HOME/<fallback>
// (for example XDG_CONFIG_HOME, else ~/.config). No trailing "/".
QByteArray UserBaseFolder(const char *xdgVariable, const char *fallbackInHome);
// Deletes a file at once and for good, by the name's bytes (a name that is not text is deleted
// all the same); a folder is never deleted. False, with errno set, when it could not be.
bool DeleteFile(const QByteArray &path);
