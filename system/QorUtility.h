// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shell operations for the keyboard commands: open a document with the desktop's application for
// its type (or start a program), and delete a folder tree to the desktop trash.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// ExecuteFile's result when nothing could be started (each byte 0x0F).
inline constexpr int ExecuteFileFailed = 0x0F0F0F0F;
// ExecuteFile's result when its wait ended because the application is quitting; the started
// process goes on running.
inline constexpr int StillActive = 259;
// The show mode callers pass; the window manager places new windows, so it only travels along.
inline constexpr int SW_SHOWNORMAL = 1;

// The started process's id; 0 when none was asked for.
using TProcessHandle = qint64;

// Opens file (a full path): an executable file is started directly with parameters (split as a
// shell splits a command line, with double quotes grouping); any other file goes to "xdg-open",
// which opens it with the desktop's default application (and takes no parameters). An empty
// workingDirectory means the file's own folder.
// When wait is true, returns the process's exit code once it ends (128 + the signal number when a
// signal ended it), handling the application's events meanwhile, or StillActive when the
// application is asked to quit first; processHandle receives the process id. Without waiting the
// result is 0 and processHandle is set to 0. A failed start, a missing file and a type without an
// application show an error box and return ExecuteFileFailed, leaving processHandle untouched.
// An error raised while waiting (by an event handler without the application's own error report)
// passes on unless suppressErrors is true.
int ExecuteFile(const QByteArray &file, const QString &parameters, const QByteArray &workingDirectory, bool wait,
                TProcessHandle &processHandle, int showMode, bool suppressErrors);

// Deletes the folder path with everything in it, or only what is inside it when contentsOnly is
// true. What is deleted goes to the desktop trash, where the user can restore it; where the
// volume has no trash it is deleted for good (DeleteFolderTreeForGood). When the trash refuses it
// for any other reason (the folder holds the trash, its name is not text in the locale's encoding,
// its parent is read-only), nothing is deleted and the result is false. Symbolic links are never
// followed: a link inside the tree is deleted as a link, and a path that is itself a link to a
// folder deletes the link alone (contents-only on such a path deletes nothing and gives false).
// False when path is not an existing folder (nothing is touched), and when any part could not be
// deleted or the user cancelled.
bool DeleteFolderTree(const QByteArray &path, bool contentsOnly);

// Deletes for good, without the trash. A progress dialog appears once the deletion has taken
// showAfterMs; its Cancel stops it (the result is then false, and what is left stays).
inline constexpr int ProgressShowAfterMs = 500;
bool DeleteFolderTreeForGood(const QByteArray &path, bool contentsOnly, int showAfterMs = ProgressShowAfterMs);
