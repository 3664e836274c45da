// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <cstdint>
#include <string_view>
#include <vector>

// Lets a listing keep the description of an entry that another program renamed, instead of
// pruning it, and give each name the description of the file it now holds when other programs
// swapped or overwrote described files. The catalogue knows nothing of how identities are
// remembered: an implementation (the per-user index) is handed to ListAndPruneFolder.

struct TCatalogueEntry;

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

// One table of a listing as the follower sees it, before anything is pruned: its entries in the
// listing's own order (with the descriptions found), the inode number the folder's enumeration
// gave each of them (d_ino: a symbolic link's own), and the stale keys.
struct TFollowedTable {
    bool IsFolder = false;
    const std::vector<TCatalogueEntry> *Entries = nullptr;
    const std::vector<std::uint64_t> *Inodes = nullptr;
    const std::vector<TStaleKey> *Stale = nullptr;
    // A digest of the described entries' names with their inode numbers (DescribedDigest).
    std::uint64_t Digest = 0;
};

// A description that goes to the entry `To` (an index into the table's entries): a stale key's
// (`From` indexes the stale keys) or another entry's (`From` indexes the entries).
struct TDescriptionMove {
    bool FromStale = false;
    qsizetype From = -1;
    qsizetype To = -1;
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
    // Called for each table of a listing before anything is pruned (a listing that may prune).
    // Returns where descriptions go because entries now hold files whose identities were
    // recorded under other names: at most one move to each entry, from a stale key or from an
    // entry. An entry whose description goes elsewhere and that gets none is left undescribed;
    // a description left by an entry that gets another one and that goes nowhere is pruned.
    // By default the stale keys are given to undescribed entries, as FollowRenames decides.
    virtual std::vector<TDescriptionMove> FollowIdentities(const QByteArray &folder, const TFollowedTable &table);
};

// The digest of a table's described entries by name and inode number, the same whatever their
// order: a follower that recorded it for the folder knows, without reading the disk, that no
// described name holds another file since.
std::uint64_t DescribedDigest(const std::vector<TCatalogueEntry> &entries, const std::vector<std::uint64_t> &inodes);
// The hash of a name that the digest is made of (FNV-1a: the same in every process), and one
// entry's part of the digest: the digest of a table is the sum of its described entries' parts.
std::uint64_t DescribedNameHash(std::string_view name);
std::uint64_t DescribedEntryDigest(std::string_view name, std::uint64_t inode);
