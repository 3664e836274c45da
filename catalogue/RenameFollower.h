#pragma once

#include <QByteArray>

#include <vector>

// Lets a listing keep the description of an entry that another program renamed, instead of
// pruning it. The catalogue knows nothing of how identities are remembered: an implementation
// (the per-user index) is handed to ReadFolderCatalogue.

// A stored key no entry claims any more, with its value.
struct TStaleKey {
    QByteArray Key;
    QByteArray Value;
};

// A description that moved from its old key to the entry's new name in the listing's one write.
struct TFollowedRename {
    bool IsFolder = false;
    QByteArray OldName;
    QByteArray NewName;
};

class TRenameFollower {
public:
    virtual ~TRenameFollower() = default;
    // Called for a table of a listing before anything is pruned, only when the table has stale
    // keys and undescribed entries. `folder` ends with "/". Returns, for each stale key in
    // order, the index in `undescribed` of the entry it belongs to, or -1 to let it be pruned.
    // Each entry may be given to one key at most.
    virtual std::vector<qsizetype> FollowRenames(const QByteArray &folder, bool isFolder,
                                                 const std::vector<TStaleKey> &stale,
                                                 const std::vector<QByteArray> &undescribed) = 0;
};
