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
    constexpr size_t kChunk = 512;
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
        FChunks[t] = table.Ascii ? 0 : (entries[t]->size() + kChunk - 1) / kChunk;
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
    constexpr size_t kChunk = 512;
    // A collator is not to be shared between threads; each caller sets up its own.
    std::optional<QCollator> collator;
    const size_t chunks = FChunks[0] + FChunks[1];
    for (size_t c = FNextChunk++; c < chunks; c = FNextChunk++) {
        const int t = c < FChunks[0] ? 0 : 1;
        TTable &table = FTables[t];
        if (!collator)
            collator = NameCollator();
        const size_t from = (t == 0 ? c : c - FChunks[0]) * kChunk;
        MakeKeys(table, from, std::min(from + kChunk, table.Entries->size()), *collator);
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
} // namespace

std::vector<std::uint32_t> TNameOrder::Order(int table, bool share) const
{
    const TTable &t = FTables[table];
    const std::vector<TCatalogueEntry> &entries = *t.Entries;
    auto byName = [&entries](size_t a, size_t b) { return entries[a].Name < entries[b].Name; };
    if (!t.Ascii) {
        std::vector<std::uint32_t> order(entries.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = std::uint32_t(i);
        SortShared(
            std::span(order),
            [&](std::uint32_t a, std::uint32_t b) {
                const int c = t.CollatorKeys[a]->compare(*t.CollatorKeys[b]);
                return c != 0 ? c < 0 : byName(a, b);
            },
            share);
        return order;
    }
    // Keys are compared eight bytes at a time, as numbers: first all entries by their first eight
    // bytes, then each run of entries alike so far by their next eight, and so on. A level reads
    // each name of a run once; comparing whole keys would read two per comparison, in no order
    // the cache could follow, and names of a large folder often share long beginnings. A key that
    // has ended reads as zeros and sorts first, as it should. An item takes 12 bytes.
    struct TItem {
        std::uint32_t High, Low, Index;
        std::uint64_t Bytes() const { return std::uint64_t(High) << 32 | Low; }
        void SetBytes(std::uint64_t bytes)
        {
            High = std::uint32_t(bytes >> 32);
            Low = std::uint32_t(bytes);
        }
    };
    const auto byBytes = [](const TItem &a, const TItem &b) { return a.Bytes() < b.Bytes(); };
    const auto nameOf = [&entries](size_t i) {
        return std::string_view(entries[i].Name.constData(), size_t(entries[i].Name.size()));
    };
    // Item positions fit in 32 bits as the entries' indices do: a level of a large folder can
    // have tens of thousands of runs.
    struct TRun {
        std::uint32_t From, To, Offset; // rows alike in their keys' first Offset bytes
    };
    const size_t count = entries.size();
    std::vector<std::uint32_t> order;
    std::vector<TRun> runs;
    // Runs of `items` (sorted, the rows from `base` on) alike in their keys' next eight bytes go
    // on at `offset` + 8, unless their keys have ended: those are names the collator takes for
    // equal, and are ordered by their bytes here.
    auto addRuns = [&](std::span<const TItem> items, size_t base, size_t offset, std::vector<TRun> &to) {
        for (size_t i = 0; i < items.size();) {
            size_t end = i + 1;
            while (end < items.size() && items[end].Bytes() == items[i].Bytes())
                ++end;
            if (end - i > 1) {
                const TRun run{std::uint32_t(base + i), std::uint32_t(base + end), std::uint32_t(offset + 8)};
                if (items[i].Bytes() == 0)
                    std::sort(order.begin() + run.From, order.begin() + run.To, byName);
                else
                    to.push_back(run);
            }
            i = end;
        }
    };
    // Where each entry's key resumes, kept from one level to the next (2 MB for a million).
    TPagedArray<TAsciiSortKeys::TCursor> cursors(count);
    {
        // The first level sorts every entry on its first sixteen bytes, made in one pass over the
        // entries in their own order, where the names lie side by side; deeper levels fetch each
        // name from anywhere. Its items (20 bytes each) live in pages of their own, given back
        // once the row order has taken their indices, before a listing's descriptions are read.
        struct TFirstItem {
            TItem First;
            std::uint32_t High, Low;
            std::uint64_t Second() const { return std::uint64_t(High) << 32 | Low; }
        };
        TPagedArray<TFirstItem> items(count);
        for (size_t i = 0; i < count; ++i) {
            items[i].First.Index = std::uint32_t(i);
            items[i].First.SetBytes(FAscii->KeyWord(nameOf(i), 0, &cursors[i]));
            const std::uint64_t second = FAscii->KeyWord(nameOf(i), 8, &cursors[i]);
            items[i].High = std::uint32_t(second >> 32);
            items[i].Low = std::uint32_t(second);
        }
        SortShared(
            std::span(items.data(), count),
            [](const TFirstItem &a, const TFirstItem &b) {
                return a.First.Bytes() != b.First.Bytes() ? a.First.Bytes() < b.First.Bytes() : a.Second() < b.Second();
            },
            share);
        order.resize(count);
        for (size_t i = 0; i < count; ++i)
            order[i] = items[i].First.Index;
        // Runs alike in all sixteen bytes go on at the third eight; a key that has ended within
        // them has a second word of zeros.
        for (size_t i = 0; i < count;) {
            size_t end = i + 1;
            while (end < count && items[end].First.Bytes() == items[i].First.Bytes()
                   && items[end].Second() == items[i].Second())
                ++end;
            if (end - i > 1) {
                if (items[i].Second() == 0)
                    std::sort(order.begin() + std::ptrdiff_t(i), order.begin() + std::ptrdiff_t(end), byName);
                else
                    runs.push_back({std::uint32_t(i), std::uint32_t(end), 16});
            }
            i = end;
        }
    }
    // Deeper levels hold items only for a chunk of runs at a time (a few hundred KiB, or one run
    // larger than that): the rows' order alone lasts, 4 bytes a row, while the descriptions of a
    // listing fill its memory.
    constexpr size_t kChunk = 1 << 16; // items
    // Runs up to this many items are sorted on their whole keys (a few hundred KiB at most).
    constexpr size_t kWholeKeysUpTo = 4096;
    // Sorts the runs of a level on their keys' next eight bytes, each key resumed where its
    // entry's cursor says when cursors are given, and adds the runs that go deeper. Each run's
    // entries and names are fetched some rows ahead: they lie anywhere.
    auto sortLevel = [&](std::vector<TItem> &scratch, std::span<const TRun> level, TAsciiSortKeys::TCursor *resume,
                         std::vector<TRun> &deeper) {
        constexpr size_t kAhead = 16; // rows
        for (size_t r = 0; r < level.size();) {
            size_t last = r + 1, total = level[r].To - level[r].From;
            for (; last < level.size() && total + (level[last].To - level[last].From) <= kChunk; ++last)
                total += level[last].To - level[last].From;
            scratch.resize(total);
            // Rows between the chunk's runs are settled; rows past it may be another thread's.
            const size_t end = level[last - 1].To;
            size_t k = 0;
            for (size_t q = r; q < last; ++q)
                for (size_t row = level[q].From; row < level[q].To; ++row) {
                    if (row + 2 * kAhead < end) { // an entry's name lies on one line of it, or across two
                        const auto *name = reinterpret_cast<const char *>(&entries[order[row + 2 * kAhead]].Name);
                        __builtin_prefetch(name);
                        __builtin_prefetch(name + sizeof(QByteArray) - 1);
                    }
                    if (row + kAhead < end) {
                        const std::uint32_t ahead = order[row + kAhead];
                        const QByteArray &name = entries[ahead].Name;
                        __builtin_prefetch(name.constData() + std::min<qsizetype>(level[q].Offset, name.size()));
                        __builtin_prefetch(name.constData() + name.size());
                        if (resume)
                            __builtin_prefetch(&resume[ahead]);
                    }
                    const std::uint32_t i = order[row];
                    scratch[k].Index = i;
                    scratch[k++].SetBytes(FAscii->KeyWord(nameOf(i), level[q].Offset, resume ? &resume[i] : nullptr));
                }
            k = 0;
            for (size_t q = r; q < last; ++q) {
                const std::span<TItem> run(scratch.data() + k, level[q].To - level[q].From);
                k += run.size();
                std::sort(run.begin(), run.end(), byBytes);
                for (size_t j = 0; j < run.size(); ++j)
                    order[level[q].From + j] = run[j].Index;
                addRuns(run, level[q].From, level[q].Offset, deeper);
            }
            r = last;
        }
    };
    // The runs left, one at a time to the end of their keys.
    auto refine = [&](std::vector<TRun> stack) {
        std::vector<TItem> scratch;
        std::string keys;
        std::vector<std::uint32_t> begins;
        while (!stack.empty()) {
            const TRun run = stack.back();
            stack.pop_back();
            if (run.To - run.From > kWholeKeysUpTo) {
                sortLevel(scratch, std::span(&run, 1), nullptr, stack);
                continue;
            }
            // A small run: the rest of each key is made once, side by side, and the run sorted
            // on those bytes; level by level each name would be read and encoded again.
            keys.clear();
            begins.clear();
            std::string key;
            const auto from = order.begin() + run.From, to = order.begin() + run.To;
            for (auto row = from; row != to; ++row) {
                // The names of a run lie anywhere: each is fetched some items ahead.
                if (to - row > 16)
                    __builtin_prefetch(&entries[row[16]]);
                if (to - row > 8)
                    __builtin_prefetch(entries[row[8]].Name.constData());
                key.clear();
                FAscii->AppendKey(nameOf(*row), key);
                begins.push_back(std::uint32_t(keys.size()));
                if (key.size() > run.Offset)
                    keys.append(key, run.Offset);
            }
            begins.push_back(std::uint32_t(keys.size()));
            // Each row's place among the keys goes with it while the run is sorted.
            scratch.resize(run.To - run.From);
            for (size_t k = 0; k < scratch.size(); ++k)
                scratch[k] = {std::uint32_t(k), 0, from[std::ptrdiff_t(k)]};
            auto restOf = [&](const TItem &item) {
                return std::string_view(keys.data() + begins[item.High], begins[item.High + 1] - begins[item.High]);
            };
            std::sort(scratch.begin(), scratch.end(), [&](const TItem &a, const TItem &b) {
                const int c = restOf(a).compare(restOf(b));
                return c != 0 ? c < 0 : byName(a.Index, b.Index);
            });
            for (size_t k = 0; k < scratch.size(); ++k)
                from[std::ptrdiff_t(k)] = scratch[k].Index;
        }
    };
    // While many rows are still alike (names of a folder often share long beginnings), the runs
    // go level by level; the cursors are given back when the levels end.
    constexpr size_t kLevelsWhileAlike = 4; // at least one row in this many alike
    {
        std::vector<TItem> scratch;
        for (;;) {
            size_t alike = 0;
            for (const TRun &run : runs)
                alike += run.To - run.From;
            if (runs.empty() || alike < count / kLevelsWhileAlike)
                break;
            std::vector<TRun> deeper;
            sortLevel(scratch, runs, cursors.data(), deeper);
            runs = std::move(deeper);
        }
    }
    cursors = {};
    if (!share) {
        refine(std::move(runs));
    } else {
        // The runs of the first half of the rows (runs are listed in row order) on a second thread.
        const auto half = std::partition_point(runs.begin(), runs.end(),
                                               [&](const TRun &run) { return run.To <= count / 2; });
        std::future<void> other = std::async(std::launch::async, refine, std::vector(runs.begin(), half));
        refine(std::vector(half, runs.end()));
        other.get();
    }
    return order;
}
