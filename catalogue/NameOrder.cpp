// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/NameOrder.h"

#include "catalogue/FolderCatalogue.h"
#include "catalogue/Pages.h"
#include "common/TextCodec.h"

#include <QLocale>

#include <algorithm>
#include <cstring>
#include <future>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <tuple>
#include <utility>

QCollator NameCollator()
{
    // The C locale has no collation of its own (and no natural number order): it sorts as the
    // root collation does.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

namespace {
constexpr size_t kLongestDigitRun = 254; // the collator splits longer runs into numbers of its own

// Entries whose collator keys one taker makes at a time: a collator key costs microseconds, so
// threads taking chunks this large share the work evenly and rarely meet at the counter.
constexpr size_t kCollatorKeysPerChunk = 512;
// Items (12 bytes each) a deeper level of the ASCII sort holds at once, under a MiB: the rows'
// order alone lasts, 4 bytes a row, while the descriptions of a listing fill its memory.
constexpr size_t kLevelItemsAtOnce = 1 << 16;
// Runs up to this many rows are sorted on their whole keys, made once side by side (a few
// hundred KiB at most); larger ones go on eight bytes a level.
constexpr size_t kWholeKeysUpTo = 4096;
// The levels go on over all runs together while at least one row in this many is still alike
// to another; past that, the runs left are finished one at a time.
constexpr size_t kLevelsWhileAlike = 4;
// How many rows ahead a level fetches an entry's name (and twice as far the entry itself):
// the names of a run lie anywhere.
constexpr size_t kLevelFetchAhead = 16;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The digits of the number that begins at i, without its leading zeros (the last zero of a run of
// zeros stays): where they begin and end.
std::pair<size_t, size_t> NumberAt(std::string_view name, size_t i)
{
    size_t end = i;
    while (end < name.size() && IsDigit(name[end]))
        ++end;
    while (i + 1 < end && name[i] == '0')
        ++i;
    return {i, end};
}
} // namespace

std::optional<TAsciiSortKeys> TAsciiSortKeys::For(const QCollator &collator)
{
    // Languages whose collation has no rules of its own for ASCII letters (no contractions such as
    // a Danish "aa", no letters moved as a Lithuanian "y" or a Turkish dotless "I"); the tests
    // compare the keys with the collator in each of them.
    static constexpr QLocale::Language kRootOrderLanguages[] = {QLocale::English, QLocale::German, QLocale::French,
                                                                QLocale::Italian, QLocale::Dutch,  QLocale::Portuguese,
                                                                QLocale::Spanish};
    const QLocale::Language language = collator.locale().language();
    if (std::find(std::begin(kRootOrderLanguages), std::end(kRootOrderLanguages), language)
        == std::end(kRootOrderLanguages))
        return std::nullopt;
    // The keys stand for numeric mode with letter case ignored and punctuation counted.
    if (!collator.numericMode() || collator.caseSensitivity() != Qt::CaseInsensitive || collator.ignorePunctuation())
        return std::nullopt;
    auto text = [](char c) { return QString(QLatin1Char(c)); };
    // The printable characters in the collator's order, the digit "0" standing for every number.
    std::vector<char> chars;
    for (char c = ' '; c <= '~'; ++c)
        if (!IsDigit(c) || c == '0')
            chars.push_back(c);
    std::stable_sort(chars.begin(), chars.end(),
                     [&](char a, char b) { return collator.compare(text(a), text(b)) < 0; });
    TAsciiSortKeys keys;
    std::uint8_t rank = 0;
    for (size_t i = 0; i < chars.size(); ++i) {
        if (i == 0 || collator.compare(text(chars[i - 1]), text(chars[i])) != 0)
            ++rank;
        keys.FRank[size_t(chars[i])] = rank;
    }
    for (char c = '1'; c <= '9'; ++c)
        keys.FRank[size_t(c)] = keys.FRank['0'];
    // What the number encoding relies on; a collator that differs takes the slow path.
    const bool numbers = collator.compare(QStringLiteral("a01"), QStringLiteral("a1")) == 0
                         && collator.compare(QStringLiteral("a2"), QStringLiteral("a10")) < 0
                         && collator.compare(QStringLiteral("a9b"), QStringLiteral("a10a")) < 0;
    if (!numbers || keys.FRank['a'] != keys.FRank['A'])
        return std::nullopt;
    return keys;
}

bool TAsciiSortKeys::Takes(std::string_view name) const
{
    size_t run = 0;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 128 || FRank[b] == 0)
            return false;
        run = IsDigit(c) ? run + 1 : 0;
        if (run > kLongestDigitRun)
            return false;
    }
    return true;
}

void TAsciiSortKeys::AppendKey(std::string_view name, std::string &key) const
{
    // Written through a pointer into room for the longest key (three bytes a digit at most).
    const size_t start = key.size();
    key.resize(start + 3 * name.size());
    char *out = key.data() + start;
    for (size_t i = 0; i < name.size();) {
        const char c = name[i];
        *out++ = char(FRank[size_t(c)]);
        if (!IsDigit(c)) {
            ++i;
            continue;
        }
        // A number: its length without leading zeros (one zero for a run of zeros), then its
        // digits, so that a longer number sorts after a shorter one.
        size_t end = 0;
        std::tie(i, end) = NumberAt(name, i);
        *out++ = char(end - i);
        std::memcpy(out, name.data() + i, end - i);
        out += end - i;
        i = end;
    }
    key.resize(size_t(out - key.data()));
}

std::uint64_t TAsciiSortKeys::KeyWord(std::string_view name, size_t offset, TCursor *cursor) const
{
    std::uint64_t word = 0;
    size_t taken = 0, at = 0, i = 0; // bytes of the word, position in the key and in the name
    if (cursor) {
        i = cursor->Name;
        at = cursor->Key;
    }
    // The next word's cursor: the start of the last character or number this word reaches into
    // (the word ends within it or just before it).
    size_t nextName = i, nextKey = at;
    auto put = [&](std::uint8_t byte) {
        if (at++ >= offset && taken < 8) {
            word = word << 8 | byte;
            ++taken;
        }
    };
    while (i < name.size() && taken < 8) {
        nextName = i;
        nextKey = at;
        const char c = name[i];
        put(FRank[size_t(c)]);
        if (!IsDigit(c)) {
            ++i;
            continue;
        }
        // A number, as AppendKey writes it; its digits are passed over whole before the offset.
        size_t end = 0;
        std::tie(i, end) = NumberAt(name, i);
        put(std::uint8_t(end - i));
        if (at + (end - i) <= offset) {
            at += end - i;
        } else {
            for (; i < end && taken < 8; ++i)
                put(std::uint8_t(name[i]));
        }
        i = end;
    }
    if (cursor && std::max(nextName, nextKey) <= std::numeric_limits<std::uint8_t>::max()) {
        cursor->Name = std::uint8_t(nextName);
        cursor->Key = std::uint8_t(nextKey);
    }
    return taken == 0 ? 0 : word << (8 * (8 - taken));
}

TNameOrder::TNameOrder(const std::vector<TCatalogueEntry> &folders, const std::vector<TCatalogueEntry> &files,
                       const std::array<bool, 2> *asciiTaken)
    : FCollator(NameCollator()), FAscii(TAsciiSortKeys::For(FCollator))
{
    const std::vector<TCatalogueEntry> *entries[2] = {&folders, &files};
    for (int t = 0; t < 2; ++t) {
        TTable &table = FTables[t];
        table.Entries = entries[t];
        table.Ascii = FAscii.has_value() && (!asciiTaken || (*asciiTaken)[size_t(t)]);
        for (size_t i = 0; table.Ascii && !asciiTaken && i < entries[t]->size(); ++i)
            table.Ascii = FAscii->Takes({(*entries[t])[i].Name.constData(), size_t((*entries[t])[i].Name.size())});
        // One name the fast keys cannot order puts the whole table on the collator's keys.
        if (!table.Ascii)
            table.CollatorKeys.resize(entries[t]->size());
        // The collator's keys are made in chunks that threads share.
        FChunks[t] = table.Ascii ? 0 : (entries[t]->size() + kCollatorKeysPerChunk - 1) / kCollatorKeysPerChunk;
    }
}

void TNameOrder::MakeKeys(TTable &table, size_t from, size_t to, const QCollator &collator)
{
    const std::vector<TCatalogueEntry> &entries = *table.Entries;
    for (size_t i = from; i < to; ++i)
        table.CollatorKeys[i] = collator.sortKey(DecodeName(entries[i].Name));
}

void TNameOrder::Work()
{
    // A collator is not to be shared between threads; each caller sets up its own.
    std::optional<QCollator> collator;
    const size_t chunks = FChunks[0] + FChunks[1];
    for (size_t c = FNextChunk++; c < chunks; c = FNextChunk++) {
        const int t = c < FChunks[0] ? 0 : 1;
        TTable &table = FTables[t];
        if (!collator)
            collator = NameCollator();
        const size_t from = (t == 0 ? c : c - FChunks[0]) * kCollatorKeysPerChunk;
        MakeKeys(table, from, std::min(from + kCollatorKeysPerChunk, table.Entries->size()), *collator);
    }
}

namespace {
// Sorts in two halves on two threads and merges them when asked to share.
template <typename T, typename Less> void SortShared(std::span<T> items, Less less, bool share)
{
    if (!share) {
        std::sort(items.begin(), items.end(), less);
        return;
    }
    const auto middle = items.begin() + std::ptrdiff_t(items.size() / 2);
    std::future<void> first = std::async(std::launch::async, [&] { std::sort(items.begin(), middle, less); });
    std::sort(middle, items.end(), less);
    first.get();
    std::inplace_merge(items.begin(), middle, items.end(), less);
}

bool ByName(const std::vector<TCatalogueEntry> &entries, size_t a, size_t b)
{
    return entries[a].Name < entries[b].Name;
}

// The order of a table on the collator's own keys, names alike to it in byte order.
std::vector<std::uint32_t> CollatorOrder(const std::vector<TCatalogueEntry> &entries,
                                         const std::vector<std::optional<QCollatorSortKey>> &keys, bool share)
{
    std::vector<std::uint32_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = std::uint32_t(i);
    SortShared(
        std::span(order),
        [&](std::uint32_t a, std::uint32_t b) {
            const int c = keys[a]->compare(*keys[b]);
            return c != 0 ? c < 0 : ByName(entries, a, b);
        },
        share);
    return order;
}

// The order of a table of names TAsciiSortKeys takes. Keys are compared eight bytes at a time, as
// numbers: first all entries by their first bytes, then each run of entries alike so far by their
// next eight, and so on. A level reads each name of a run once; comparing whole keys would read
// two per comparison, in no order the cache could follow, and names of a large folder often share
// long beginnings. A key that has ended reads as zeros and sorts first, as it should; keys alike
// to their end are names the collator takes for equal, ordered by their bytes.
class TAsciiOrder {
public:
    TAsciiOrder(const std::vector<TCatalogueEntry> &entries, const TAsciiSortKeys &keys)
        : FEntries(entries), FKeys(keys)
    {
    }
    std::vector<std::uint32_t> Rows(bool share);

private:
    using TCursor = TAsciiSortKeys::TCursor;
    // Eight key bytes of a row and the row's entry; 12 bytes.
    struct TItem {
        std::uint32_t High, Low, Index;
        std::uint64_t Bytes() const { return std::uint64_t(High) << 32 | Low; }
        void SetBytes(std::uint64_t bytes)
        {
            High = std::uint32_t(bytes >> 32);
            Low = std::uint32_t(bytes);
        }
    };
    // Rows alike in their keys' first Offset bytes. Positions fit in 32 bits as the entries'
    // indices do: a level of a large folder can have tens of thousands of runs.
    struct TRun {
        std::uint32_t From, To, Offset;
        size_t Size() const { return To - From; }
    };

    // Sorts every entry on its first sixteen key bytes; returns the runs alike in all of them.
    std::vector<TRun> FirstLevel(TCursor *cursors, bool share);
    // Sorts the runs eight bytes further each level while many rows are still alike; returns
    // the runs left.
    std::vector<TRun> DeeperLevels(std::vector<TRun> runs, TCursor *cursors);
    // Finishes the runs left, one at a time to the end of their keys.
    void FinalPass(std::vector<TRun> runs);

    // Sorts the runs of a level on their keys' next eight bytes and adds the runs that go deeper.
    void SortLevel(std::vector<TItem> &scratch, std::span<const TRun> level, TCursor *resume,
                   std::vector<TRun> &deeper);
    // Sorts a run on the rest of its keys, made once side by side.
    void SortOnWholeKeys(TRun run, std::vector<TItem> &scratch, std::string &keys, std::vector<std::uint32_t> &begins);
    // Runs of `items` (sorted, the rows from `base` on) alike in their next eight key bytes go
    // on at `offset` + 8, unless their keys have ended.
    void AddRuns(std::span<const TItem> items, size_t base, size_t offset, std::vector<TRun> &to);
    // Orders rows whose keys are alike to their end by the names' bytes.
    void SortByName(size_t from, size_t to)
    {
        std::sort(FOrder.begin() + std::ptrdiff_t(from), FOrder.begin() + std::ptrdiff_t(to),
                  [this](size_t a, size_t b) { return ByName(FEntries, a, b); });
    }
    std::string_view NameOf(size_t i) const
    {
        return std::string_view(FEntries[i].Name.constData(), size_t(FEntries[i].Name.size()));
    }

    const std::vector<TCatalogueEntry> &FEntries;
    const TAsciiSortKeys &FKeys;
    std::vector<std::uint32_t> FOrder; // the rows so far
};

std::vector<std::uint32_t> TAsciiOrder::Rows(bool share)
{
    // Where each entry's key resumes, kept from one level to the next (2 MB for a million), and
    // given back when the levels end.
    TPagedArray<TCursor> cursors(FEntries.size());
    std::vector<TRun> runs = FirstLevel(cursors.data(), share);
    runs = DeeperLevels(std::move(runs), cursors.data());
    cursors = {};
    if (!share) {
        FinalPass(std::move(runs));
    } else {
        // The runs of the first half of the rows (runs are listed in row order) on a second thread.
        const size_t half = FEntries.size() / 2;
        const auto middle = std::partition_point(runs.begin(), runs.end(),
                                                 [&](const TRun &run) { return run.To <= half; });
        std::future<void> other = std::async(
            std::launch::async,
            [this, first = std::vector(runs.begin(), middle)]() mutable { FinalPass(std::move(first)); });
        FinalPass(std::vector(middle, runs.end()));
        other.get();
    }
    return std::move(FOrder);
}

std::vector<TAsciiOrder::TRun> TAsciiOrder::FirstLevel(TCursor *cursors, bool share)
{
    // Sixteen bytes, made in one pass over the entries in their own order, where the names lie
    // side by side; deeper levels fetch each name from anywhere. The items (20 bytes each) live
    // in pages of their own, given back once the row order has taken their indices, before a
    // listing's descriptions are read.
    struct TFirstItem {
        TItem First;
        std::uint32_t High, Low;
        std::uint64_t Second() const { return std::uint64_t(High) << 32 | Low; }
    };
    const size_t count = FEntries.size();
    TPagedArray<TFirstItem> items(count);
    for (size_t i = 0; i < count; ++i) {
        items[i].First.Index = std::uint32_t(i);
        items[i].First.SetBytes(FKeys.KeyWord(NameOf(i), 0, &cursors[i]));
        const std::uint64_t second = FKeys.KeyWord(NameOf(i), 8, &cursors[i]);
        items[i].High = std::uint32_t(second >> 32);
        items[i].Low = std::uint32_t(second);
    }
    SortShared(
        std::span(items.data(), count),
        [](const TFirstItem &a, const TFirstItem &b) {
            return a.First.Bytes() != b.First.Bytes() ? a.First.Bytes() < b.First.Bytes() : a.Second() < b.Second();
        },
        share);
    FOrder.resize(count);
    for (size_t i = 0; i < count; ++i)
        FOrder[i] = items[i].First.Index;
    // Runs alike in all sixteen bytes go on at the third eight; a key that has ended within them
    // has a second word of zeros.
    std::vector<TRun> runs;
    for (size_t i = 0; i < count;) {
        size_t end = i + 1;
        while (end < count && items[end].First.Bytes() == items[i].First.Bytes()
               && items[end].Second() == items[i].Second())
            ++end;
        if (end - i > 1) {
            if (items[i].Second() == 0)
                SortByName(i, end);
            else
                runs.push_back({std::uint32_t(i), std::uint32_t(end), 16});
        }
        i = end;
    }
    return runs;
}

std::vector<TAsciiOrder::TRun> TAsciiOrder::DeeperLevels(std::vector<TRun> runs, TCursor *cursors)
{
    std::vector<TItem> scratch;
    for (;;) {
        size_t alike = 0;
        for (const TRun &run : runs)
            alike += run.Size();
        if (runs.empty() || alike < FEntries.size() / kLevelsWhileAlike)
            return runs;
        std::vector<TRun> deeper;
        SortLevel(scratch, runs, cursors, deeper);
        runs = std::move(deeper);
    }
}

void TAsciiOrder::FinalPass(std::vector<TRun> runs)
{
    std::vector<TItem> scratch;
    std::string keys;
    std::vector<std::uint32_t> begins;
    while (!runs.empty()) {
        const TRun run = runs.back();
        runs.pop_back();
        if (run.Size() > kWholeKeysUpTo)
            SortLevel(scratch, std::span(&run, 1), nullptr, runs);
        else
            SortOnWholeKeys(run, scratch, keys, begins);
    }
}

void TAsciiOrder::SortLevel(std::vector<TItem> &scratch, std::span<const TRun> level, TCursor *resume,
                            std::vector<TRun> &deeper)
{
    // The runs go in chunks of kLevelItemsAtOnce items at most (or one run larger than that).
    for (size_t r = 0; r < level.size();) {
        size_t last = r + 1, total = level[r].Size();
        for (; last < level.size() && total + level[last].Size() <= kLevelItemsAtOnce; ++last)
            total += level[last].Size();
        scratch.resize(total);
        // Rows between the chunk's runs are settled; rows past it may be another thread's.
        const size_t end = level[last - 1].To;
        size_t k = 0;
        for (size_t q = r; q < last; ++q)
            for (size_t row = level[q].From; row < level[q].To; ++row) {
                if (row + 2 * kLevelFetchAhead < end) { // an entry's name lies on one line of it, or across two
                    const auto *name = reinterpret_cast<const char *>(
                        &FEntries[FOrder[row + 2 * kLevelFetchAhead]].Name);
                    __builtin_prefetch(name);
                    __builtin_prefetch(name + sizeof(QByteArray) - 1);
                }
                if (row + kLevelFetchAhead < end) {
                    const std::uint32_t ahead = FOrder[row + kLevelFetchAhead];
                    const QByteArray &name = FEntries[ahead].Name;
                    __builtin_prefetch(name.constData() + std::min<qsizetype>(level[q].Offset, name.size()));
                    __builtin_prefetch(name.constData() + name.size());
                    if (resume)
                        __builtin_prefetch(&resume[ahead]);
                }
                const std::uint32_t i = FOrder[row];
                scratch[k].Index = i;
                scratch[k++].SetBytes(FKeys.KeyWord(NameOf(i), level[q].Offset, resume ? &resume[i] : nullptr));
            }
        k = 0;
        for (size_t q = r; q < last; ++q) {
            const std::span<TItem> run(scratch.data() + k, level[q].Size());
            k += run.size();
            std::sort(run.begin(), run.end(), [](const TItem &a, const TItem &b) { return a.Bytes() < b.Bytes(); });
            for (size_t j = 0; j < run.size(); ++j)
                FOrder[level[q].From + j] = run[j].Index;
            AddRuns(run, level[q].From, level[q].Offset, deeper);
        }
        r = last;
    }
}

void TAsciiOrder::SortOnWholeKeys(TRun run, std::vector<TItem> &scratch, std::string &keys,
                                  std::vector<std::uint32_t> &begins)
{
    // Level by level each name would be read and encoded again.
    keys.clear();
    begins.clear();
    std::string key;
    const auto from = FOrder.begin() + run.From, to = FOrder.begin() + run.To;
    for (auto row = from; row != to; ++row) {
        key.clear();
        FKeys.AppendKey(NameOf(*row), key);
        begins.push_back(std::uint32_t(keys.size()));
        if (key.size() > run.Offset)
            keys.append(key, run.Offset);
    }
    begins.push_back(std::uint32_t(keys.size()));
    // Each row's place among the keys goes with it (in High) while the run is sorted.
    scratch.resize(run.Size());
    for (size_t k = 0; k < scratch.size(); ++k)
        scratch[k] = {std::uint32_t(k), 0, from[std::ptrdiff_t(k)]};
    auto restOf = [&](const TItem &item) {
        return std::string_view(keys.data() + begins[item.High], begins[item.High + 1] - begins[item.High]);
    };
    std::sort(scratch.begin(), scratch.end(), [&](const TItem &a, const TItem &b) {
        const int c = restOf(a).compare(restOf(b));
        return c != 0 ? c < 0 : ByName(FEntries, a.Index, b.Index);
    });
    for (size_t k = 0; k < scratch.size(); ++k)
        from[std::ptrdiff_t(k)] = scratch[k].Index;
}

void TAsciiOrder::AddRuns(std::span<const TItem> items, size_t base, size_t offset, std::vector<TRun> &to)
{
    for (size_t i = 0; i < items.size();) {
        size_t end = i + 1;
        while (end < items.size() && items[end].Bytes() == items[i].Bytes())
            ++end;
        if (end - i > 1) {
            if (items[i].Bytes() == 0)
                SortByName(base + i, base + end);
            else
                to.push_back({std::uint32_t(base + i), std::uint32_t(base + end), std::uint32_t(offset + 8)});
        }
        i = end;
    }
}
} // namespace

std::vector<std::uint32_t> TNameOrder::Order(int table, bool share) const
{
    const TTable &t = FTables[table];
    if (!t.Ascii)
        return CollatorOrder(*t.Entries, t.CollatorKeys, share);
    return TAsciiOrder(*t.Entries, *FAscii).Rows(share);
}
