// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCollator>
#include <QCollatorSortKey>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TCatalogueEntry;

// The collator of the listing's order: the user's locale, numbers in natural order ("file2"
// before "file10"), letter case ignored; the C locale sorts as the root collation.
QCollator NameCollator();

// Sort keys whose byte order is the collator's order, for names of printable ASCII in locales
// whose collation orders such names as the root collation does. Making one is a table look-up
// per byte where the collator's own key costs a full collation pass and an allocation, which is
// most of the time of listing a large folder.
//
// The ranks are learnt from the collator itself (one rank per character, letters of either case
// alike); a run of digits becomes the digits' rank, its length without leading zeros and its
// digits, so "file01" ties with "file1" and "file2" comes before "file10", as in the collator.
class TAsciiSortKeys {
public:
    // Null when the collator's order of ASCII names cannot be taken over: a locale with rules of
    // its own for ASCII letters, or a collator not set up as NameCollator sets it up.
    static std::optional<TAsciiSortKeys> For(const QCollator &collator);
    // Whether the name is one this order takes: printable ASCII, digit runs below 255 digits.
    bool Takes(std::string_view name) const;
    // Appends the key of a name that it takes.
    void AppendKey(std::string_view name, std::string &key) const;
    // Where the making of a key resumes: the start of a character or number of the name (Name)
    // and the position of its bytes in the key (Key). The start of the name is one; a cursor
    // past what a byte counts stays there (two bytes for each of a million names).
    struct TCursor {
        std::uint8_t Name = 0, Key = 0;
    };
    // The key's bytes from offset on, eight of them as a number, first byte highest, zeros past
    // the key's end (key bytes are never zero): made from the name when needed, so that a
    // listing of a million names holds no keys. With a cursor at or before offset, the key is
    // made from there, and the cursor moves on as far as offset + 8 allows, for the next word.
    std::uint64_t KeyWord(std::string_view name, size_t offset, TCursor *cursor = nullptr) const;

private:
    std::array<std::uint8_t, 128> FRank{}; // 0: not taken
};

// The row orders of both tables of a listing, computed once: keys are made by any number of
// threads at once (Work), then each table is sorted (Order). Names the collator takes for equal
// keep their byte order. Names of ASCII need no keys made beforehand (NeedsKeys false).
class TNameOrder {
public:
    // With asciiTaken, the caller has seen for each table whether TAsciiSortKeys (for
    // NameCollator()) takes every name, which is then not looked at again.
    explicit TNameOrder(const std::vector<TCatalogueEntry> &folders, const std::vector<TCatalogueEntry> &files,
                        const std::array<bool, 2> *asciiTaken = nullptr);
    // Makes keys until none are left; any number of threads may call it at once.
    void Work();
    // The row order of a table (0 folders, 1 files), once every Work call has returned. Sorting
    // a large table takes a second thread when `share` is set.
    std::vector<std::uint32_t> Order(int table, bool share) const;
    bool NeedsKeys() const { return FChunks[0] + FChunks[1] > 0; }

private:
    struct TTable {
        const std::vector<TCatalogueEntry> *Entries = nullptr;
        bool Ascii = false; // ordered by TAsciiSortKeys' key words
        std::vector<std::optional<QCollatorSortKey>> CollatorKeys;
    };
    void MakeKeys(TTable &table, size_t from, size_t to, const QCollator &collator);

    QCollator FCollator;
    std::optional<TAsciiSortKeys> FAscii;
    TTable FTables[2];
    size_t FChunks[2] = {};
    std::atomic<size_t> FNextChunk{0};
};
