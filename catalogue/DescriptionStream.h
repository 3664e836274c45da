// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/FolderCatalogue.h"
#include "catalogue/Pages.h"

#include <QByteArray>
#include <QList>

#include <array>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

// A key of a section's key list (as ReadSection returns it) that no entry claims, with the value
// ReadString reads for it; a key cut short by the list's limit may be stored nowhere.
struct TUnclaimedKey {
    QByteArray Key, Value;
    bool Stored = false;
};

// The names of a table's entries hashed for the index that its descriptions are looked up in,
// one at a time as the entries are made: a listing hashes them on the side while the folder is
// still being read. The hashes are counted by their first bits, so that the index can be filled
// from one end to the other rather than a slot anywhere for each name.
class TNameHashes {
public:
    static constexpr int kGroupBits = 8;
    using TGroupSizes = std::array<std::uint32_t, 1 << kGroupBits>;

    // Hashes the next entry's name (entries are numbered as they are added).
    void Add(std::string_view name);
    size_t Count() const { return FCount; }
    // The hash of an entry's name (of its fold, for a name beyond ASCII).
    std::uint64_t Hash(size_t entry) const { return static_cast<const std::uint64_t *>(FHashes.Data())[entry]; }
    // The group of a hash: the first kGroupBits bits of its low half.
    static size_t GroupOf(std::uint64_t hash) { return size_t(std::uint32_t(hash) >> (32 - kGroupBits)); }
    // How many hashes each group has.
    const TGroupSizes &GroupSizes() const { return FGroupSizes; }
    // The folds of names beyond ASCII by entry, which the index compares in their place.
    std::unordered_map<size_t, QByteArray> &Folded() { return FFolded; }

private:
    TPages FHashes; // given back whole once the index is made, unlike a vector's heap block
    TGroupSizes FGroupSizes{};
    std::unordered_map<size_t, QByteArray> FFolded;
    size_t FCount = 0;
};

// One table of a listing whose descriptions are read: its entries and its section, and after the
// read its unclaimed keys.
struct TDescribedTable {
    std::vector<TCatalogueEntry> *Entries = nullptr;
    const char *Section = nullptr;
    std::vector<TUnclaimedKey> Unclaimed;
    // The entries' names, hashed as they were made, when they were; taken by the read.
    TNameHashes *Hashes = nullptr;
};

// Gives the entries of both tables the descriptions that the name rule of FoldedName.h assigns
// them, each as ReadString reads it, in one pass over the description file: the file is read in
// pieces and looked up against the entries' names, so that a file of a million descriptions is
// never held whole.
// An unreadable or absent file describes nothing; one too large raises "Unable to read ...".
// One refused as another user's link or hard link describes nothing too, and the returned text
// says why ("Unable to read <path>: <reason>"; empty otherwise).
// The file is read in pieces of pieceSize bytes (other sizes than the usual one are for tests).
inline constexpr qsizetype kDescriptionPiece = 256 << 10; // read while its lines are in the cache
QString ReadDescriptions(const QByteArray &path, std::array<TDescribedTable, 2> &tables,
                         qsizetype pieceSize = kDescriptionPiece);
