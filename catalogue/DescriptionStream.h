#pragma once

#include "catalogue/FolderCatalogue.h"

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
// still being read. They are kept by the hash's first bits, so that the index is filled from
// one end to the other rather than a slot anywhere for each name.
class TNameHashes {
public:
    struct THashed {
        std::uint32_t Low, High, Entry; // the hash's halves
    };
    static constexpr int kGroupBits = 8;

    // Hashes the next entry's name (entries are numbered as they are added).
    void Add(std::string_view name);
    size_t Count() const { return FCount; }
    // By the hash's low half's first kGroupBits bits, each in the order the entries were added.
    std::array<std::vector<THashed>, 1 << kGroupBits> &Groups() { return FGroups; }
    // The folds of names beyond ASCII by entry, which the index compares in their place.
    std::unordered_map<size_t, QByteArray> &Folded() { return FFolded; }

private:
    std::array<std::vector<THashed>, 1 << kGroupBits> FGroups;
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
// never held whole. With a font's advances the descriptions' widths are estimated on the way.
// An unreadable or absent file describes nothing; one too large raises "Unable to read ...".
// The file is read in pieces of pieceSize bytes (other sizes than the usual one are for tests).
inline constexpr qsizetype kDescriptionPiece = 1 << 20; // read while its lines are in the cache
void ReadDescriptions(const QByteArray &path, std::array<TDescribedTable, 2> &tables,
                      const TAdvanceTable *advances = nullptr, qsizetype pieceSize = kDescriptionPiece);
