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

private:
    std::array<std::uint8_t, 128> FRank{}; // 0: not taken
};

// The row orders of both tables of a listing, computed once: keys are made by any number of
// threads at once (Work), then each table is sorted (Order). Names the collator takes for equal
// keep their byte order.
class TNameOrder {
public:
    explicit TNameOrder(const std::vector<TCatalogueEntry> &folders, const std::vector<TCatalogueEntry> &files);
    // Makes keys until none are left; any number of threads may call it at once.
    void Work();
    // The row order of a table (0 folders, 1 files), once every Work call has returned. Sorting
    // a large table takes a second thread when `share` is set.
    std::vector<size_t> Order(int table, bool share) const;

private:
    struct TTable {
        const std::vector<TCatalogueEntry> *Entries = nullptr;
        bool Ascii = false;
        // Ascii: the keys of all names in one buffer, each from Begin[i] to Begin[i + 1].
        std::string AsciiKeys;
        std::vector<std::uint32_t> Begin;
        std::vector<std::optional<QCollatorSortKey>> CollatorKeys;
    };
    void MakeKeys(TTable &table, size_t from, size_t to, const QCollator &collator);

    QCollator FCollator;
    std::optional<TAsciiSortKeys> FAscii;
    TTable FTables[2];
    size_t FChunks[2] = {};
    std::atomic<size_t> FNextChunk{0};
};
