// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The per-user index of descriptions: a cache of every listed Folder.dnt (which stays the one
// source of truth) that remembers each described entry's identity, so that a description can
// follow its file when another program renames or moves it, that keeps pruned descriptions for
// 90 days, and that answers full-text searches. It may be deleted at any time; listings rebuild
// it. A damaged, locked or unwritable index makes the object unusable, never the program.

#include "catalogue/FolderCatalogue.h"
#include "catalogue/RenameFollower.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <stop_token>
#include <vector>

struct sqlite3;

// ${XDG_DATA_HOME:-~/.local/share}/KER-MOSS/DirNote/index.sqlite
QString DefaultIndexPath();

// What tells one file from another across renames: the device and inode, and the birth time
// where the file system records one, else (files only) the size and modification time. A folder
// without a birth time is never followed: its inode alone could name a newer folder.
struct TEntryIdentity {
    quint64 Device = 0, Inode = 0;
    qint64 BirthNs = -1; // -1: none
    qint64 Size = -1, MTimeNs = -1;
    bool IsFolder = false;
    bool IsFollowable() const;
    bool SameEntry(const TEntryIdentity &other) const;
};

// The identity of the entry `name` of an open folder (following a symbolic link, as the listing
// does); false when it cannot be read. Tests hand in a stand-in to simulate reused inodes.
using TIdentityReader = std::function<bool(int dirFd, const QByteArray &name, TEntryIdentity &)>;
bool ReadEntryIdentity(int dirFd, const QByteArray &name, TEntryIdentity &identity);

struct TIndexHit {
    QByteArray Folder; // with its trailing "/"
    QByteArray Name;
    bool IsFolder;
    QString Text;
    QString Snippet; // Text with matches between \x01 and \x02
};
struct TPrunedDescription {
    qint64 Id;
    QByteArray Folder;
    QByteArray Name;
    bool IsFolder;
    QByteArray Text;
    QDateTime Pruned;
};
struct TTreeProgress {
    qint64 FoldersDone = 0; // indexed so far
    qint64 FoldersSeen = 0; // found so far; once Counted, every folder of the tree
    bool Counted = false;   // the tree is counted: FoldersSeen stays, FoldersDone grows to it
    QByteArray Current;
};

// A description that another program's move brought into a listed folder.
struct TFollowedMove {
    bool IsFolder = false;
    QByteArray OldFolder; // with its trailing "/"
    QByteArray OldName;
    QByteArray NewName;
};

// What the index did after a listing.
struct TFolderUpdate {
    // Descriptions written into the folder's Folder.dnt for entries moved there; the listing
    // shown is then out of date.
    std::vector<TFollowedMove> Moved;
    // A write of those descriptions failed: the message; they stay pruned in the index.
    QString Error;
};

// The status line's text for followed renames and moves: "1 description followed its file (old
// name → new name)", "3 descriptions followed their files", and the like for moves.
QString FollowedRenamesMessage(const std::vector<TFollowedRename> &renamed);
QString FollowedMovesMessage(const std::vector<TFollowedMove> &moved);

class TDescriptionIndex : public TRenameFollower {
public:
    explicit TDescriptionIndex(const QString &path = DefaultIndexPath());
    ~TDescriptionIndex() override;
    TDescriptionIndex(const TDescriptionIndex &) = delete;
    TDescriptionIndex &operator=(const TDescriptionIndex &) = delete;

    const QString &Path() const { return FPath; }
    bool IsUsable() const; // false after a failure; the program then works without it
    QString TakeProblem(); // the first failure's message, once (empty afterwards)
    // Work on this object once `token` asks to stop (from any thread) waits no more for another
    // writer and, when `interrupt` is set, ends at its next step in the database: what it had
    // begun is rolled back, the index stays usable and no problem is reported. Closing uses it
    // not to wait for work it can drop. A default token never stops.
    void SetStopToken(std::stop_token token, bool interrupt = true);

    // Search: FTS5, case- and accent-insensitive, each word a prefix; at most `limit` hits;
    // `below` limits to a folder tree ("" = all). The user's words are quoted, never FTS syntax.
    std::vector<TIndexHit> Search(const QString &query, int limit = 200, const QByteArray &below = {});
    // Pruned descriptions of the last 90 days, newest first; Forget removes one (after a
    // restore).
    std::vector<TPrunedDescription> Pruned();
    void ForgetPruned(qint64 id);
    // Keeps a text that an entry's description replaced (another program's, overwritten by the
    // user's) among the pruned descriptions, so that it can be restored.
    void KeepPruned(const QByteArray &folder, bool isFolder, const QByteArray &name, const QByteArray &text);
    // Walks a tree and indexes every Folder.dnt below root (root included): first counts its
    // folders, then indexes them, so that the progress has a fixed total. Calls progress after
    // each folder of either pass (from the calling thread), the last call with the final
    // counts; returning false cancels; what was indexed until then stays usable. Safe to call
    // on a worker thread with its own TDescriptionIndex object.
    bool IndexTree(const QByteArray &root, const std::function<bool(const TTreeProgress &)> &progress);

    // After a listing (may run after its rows are shown, on another thread with its own
    // object): records the described entries with their identities when Folder.dnt changed
    // (its size, time and inode tell), keeps the catalogue's pruned descriptions as pruned, and
    // writes into Folder.dnt the pruned descriptions whose entries turn up undescribed here
    // (moved from another folder of the same device).
    TFolderUpdate UpdateFolder(const TFolderCatalogue &catalogue);
    // Indexes one folder's Folder.dnt as it is on disk (no listing, no pruning, no following).
    void IndexFolder(const QByteArray &folder);
    // After a commit of the entry's description: its row alone, by its name and with its
    // identity, as a listing records it (an empty text drops it). The file is not read again;
    // the folder's next listing brings the rest up to date.
    void EntryWritten(const QByteArray &folder, bool isFolder, const QByteArray &name, const QByteArray &text);

    // TRenameFollower: gives a stale key the undescribed entry with the identity the index
    // recorded for it; stats the undescribed entries only when some stale key has one.
    std::vector<qsizetype> FollowRenames(const QByteArray &folder, bool isFolder, const std::vector<TStaleKey> &stale,
                                         const std::vector<QByteArray> &undescribed) override;

    // TRenameFollower: gives each entry that now holds the file whose identity the index
    // recorded under another name (a stale key, or a described entry that no longer holds it)
    // that name's description. Reads the disk only when a stale key has an identity or the
    // described names' inode numbers differ from what the index recorded.
    std::vector<TDescriptionMove> FollowIdentities(const QByteArray &folder, const TFollowedTable &table) override;

    // Tests: a stand-in for reading identities, and a clock for the 90 days.
    void SetIdentityReader(TIdentityReader reader);
    void SetClock(std::function<QDateTime()> clock);

private:
    class TImpl;
    QString FPath;
    std::unique_ptr<TImpl> FImpl;

public:
    // The comments an export wrote into user.xdg.comment attributes, per folder (with its
    // trailing "/"): each entry's name, device and inode, and the text written, so that a later
    // export removes a comment only while it is still that text on that file.
    struct TExportedComment {
        QByteArray Name;
        quint64 Device = 0, Inode = 0;
        QByteArray Text;
    };
    std::vector<TExportedComment> ExportedComments(const QByteArray &folder);
    // Replaces what is recorded for the folder; false when the index failed.
    bool SetExportedComments(const QByteArray &folder, const std::vector<TExportedComment> &comments);
};
