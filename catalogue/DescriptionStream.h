#pragma once

#include "catalogue/FolderCatalogue.h"

#include <QByteArray>
#include <QList>

#include <array>

// A key of a section's key list (as ReadSection returns it) that no entry claims, with the value
// ReadString reads for it; a key cut short by the list's limit may be stored nowhere.
struct TUnclaimedKey {
    QByteArray Key, Value;
    bool Stored = false;
};

// One table of a listing whose descriptions are read: its entries and its section, and after the
// read its unclaimed keys.
struct TDescribedTable {
    std::vector<TCatalogueEntry> *Entries = nullptr;
    const char *Section = nullptr;
    std::vector<TUnclaimedKey> Unclaimed;
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
