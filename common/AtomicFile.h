// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Whole-file reads and locked replacements of small text files by byte path.
//
// A replacement writes a new file in the same folder and renames it over the old one while an
// advisory lock (flock) is held on the old one, so a crash never leaves half a file and two
// processes editing the same file never lose each other's changes. The new file keeps the old
// one's owner, group, mode and extended attributes (its ACL among them). A symbolic link made by
// the running user or root is followed: the file it points to is replaced and the link stays.
// A link made by anyone else is never followed, for reading or writing, and nothing is created
// through it; nor is a file with several hard links in a folder that others can write to read
// or written. Where a rename would change what other users rely on (an owner or group the new
// file cannot keep, several hard links, a folder that refuses the rename, an attribute the new
// file cannot be given), the file is rewritten in place under the same lock instead, its old
// bytes kept in the user's cache folder until the new ones are on the disk.
// Only regular files are read or written; anything else reads as absent and is never written.

// Errors beyond the system's own codes.
inline constexpr int kErrorNotRegularFile = -1; // a folder, FIFO, device or socket
// The name is a symbolic link (or leads through one) that another user made.
inline constexpr int kErrorForeignLink = -2;
// The file has several hard links, and its folder lets others add names to it.
inline constexpr int kErrorSharedHardLink = -3;
// Files larger than this are refused (EFBIG) rather than read into memory.
inline constexpr long long kMaxFileSize = 256LL * 1024 * 1024;

// What went wrong, as a user reads it: "it is not a regular file", "it is larger than 256 MiB",
// "it is a link that another user made", "it has several hard links in a folder that others can
// write to", or the system's text for the error code.
QString FileErrorText(int error);

struct TFileStamp {
    bool Exists = false;
    unsigned long long Device = 0, Inode = 0;
    long long Size = 0, ModifiedNs = 0;
    bool operator==(const TFileStamp &) const = default;
};

TFileStamp StampOf(const QByteArray &path);
// The file's bytes; nullopt when it cannot be read: absent, unreadable, not a regular file,
// larger than kMaxFileSize, or refused as a link or hard link of another user's (*error, when
// given, then says which; 0 on success).
std::optional<QByteArray> ReadWholeFile(const QByteArray &path, TFileStamp *stamp = nullptr, int *error = nullptr);
// The same bytes handed to consume in consecutive pieces of at most pieceSize bytes (the whole
// file at once where a torn rewrite had to be repaired), for a reader that needs them only once:
// a large file is never held whole. Returns 0, or the error after which the pieces given so far
// must be dropped.
int ReadFileInPieces(const QByteArray &path, qsizetype pieceSize, const std::function<void(QByteArrayView)> &consume,
                     TFileStamp *stamp = nullptr);

// Runs edit(current) under the lock; current is nullopt when the file does not exist. When edit
// returns bytes they replace the file (or create it); nullopt leaves everything as it is.
// Returns 0 on success, else the error of the failure (the file is then unchanged). Others
// writing at the same time only make it wait, never fail.
using TFileEdit = std::function<std::optional<QByteArray>(const std::optional<QByteArray> &current)>;
struct TReplaceOptions {
    int CreateMode = -1; // permissions of a file created new; -1: 0666 less the umask
    bool Sync = false;   // the new content and its name are on the disk before this returns
};
int ReplaceFileLocked(const QByteArray &path, const TFileEdit &edit, TReplaceOptions options = {});

// An edit that changes one range of the content: the bytes [From, To) replaced by Insert. A file
// created new is the Insert alone (From and To 0).
struct TFileSplice {
    qsizetype From = 0;
    qsizetype To = 0;
    QByteArray Insert;
};
using TFileSpliceEdit = std::function<std::optional<TFileSplice>(const std::optional<QByteArray> &current)>;
// ReplaceFileLocked for such an edit: the new file is written from the old bytes and the insert,
// so a large file is not copied in memory for a change of one line. A range outside the content
// is refused (EINVAL) and nothing is written.
int SpliceFileLocked(const QByteArray &path, const TFileSpliceEdit &edit, TReplaceOptions options = {});

// An edit that takes a few ranges out of the content, each replaced by its Insert, chosen by
// reading the content once in pieces: neither the old content nor the new one is ever held whole,
// so a large file costs a piece's memory. `read` hands the current content to consume in
// consecutive pieces and returns 0 or the read's error. The splices returned are in file order
// and do not overlap; none or nullopt leaves the file as it is.
using TContentReader = std::function<int(const std::function<void(QByteArrayView)> &consume)>;
using TFileCutEdit = std::function<std::optional<std::vector<TFileSplice>>(const TContentReader &read)>;
// SpliceFileLocked for such an edit, with the same lock, link rules and in-place rewrites. A file
// that does not exist is left absent (edit is not called). Splices out of order, overlapping or
// outside the content are refused (EINVAL) and nothing is written.
int CutFileLocked(const QByteArray &path, const TFileCutEdit &edit, TReplaceOptions options = {});

// Creates the file with these bytes only when no file exists; it appears whole or not at all.
// Returns 0 on success or when a file already exists (another user's link counts as one: nothing
// is created through it), else the errno of the failure.
int CreateFileExclusive(const QByteArray &path, const QByteArray &bytes);

// Hands over what a complete read of the folder (open as dirFd) found under the names of
// crashed writers' temporary files: the next write into the folder within a minute looks at these
// names only, instead of reading the whole folder again for them.
void NoteLeftoverSearch(const QByteArray &folder, int dirFd, std::vector<std::string> names);

// Creates the missing folders of the path for the user alone (0700); existing ones stay as they
// are. True when the folder exists afterwards.
bool MakeUserFolder(const QByteArray &folder);

// Where an in-place rewrite keeps the old bytes meanwhile:
// ${XDG_CACHE_HOME:-$HOME/.cache}/KER-MOSS/DirNote/in-place (no trailing "/").
QByteArray InPlaceBackupFolder();
