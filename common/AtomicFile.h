#pragma once

#include <QByteArray>

#include <functional>
#include <optional>

// Whole-file reads and atomic, locked replacements of small text files by byte path.
//
// A replacement writes a new file in the same folder and renames it over the old one while an
// advisory lock (flock) is held on the old one, so a crash never leaves half a file and two
// processes editing the same file never lose each other's changes.

struct TFileStamp {
    bool Exists = false;
    unsigned long long Device = 0, Inode = 0;
    long long Size = 0, ModifiedNs = 0;
    bool operator==(const TFileStamp &) const = default;
};

TFileStamp StampOf(const QByteArray &path);
// The file's bytes; nullopt when it cannot be opened (absent or unreadable).
std::optional<QByteArray> ReadWholeFile(const QByteArray &path, TFileStamp *stamp = nullptr);

// Runs edit(current) under the lock; current is nullopt when the file does not exist. When edit
// returns bytes they replace the file (or create it); nullopt leaves everything as it is.
// Returns 0 on success, else the errno of the failure (the file is then unchanged).
using TFileEdit = std::function<std::optional<QByteArray>(const std::optional<QByteArray> &current)>;
struct TReplaceOptions {
    int CreateMode = -1; // permissions of a file created new; -1: 0666 less the umask
    bool Sync = false;   // wait until the new content is on the disk before it replaces the old
};
int ReplaceFileLocked(const QByteArray &path, const TFileEdit &edit, TReplaceOptions options = {});

// Creates the file with these bytes only when no file exists; it appears whole or not at all.
// Returns 0 on success or when a file already exists, else the errno of the failure.
int CreateFileExclusive(const QByteArray &path, const QByteArray &bytes);
