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
    // Keys are compared eight bytes at a time, as numbers: first all items by their first eight
    // bytes, then each run of items alike so far by their next eight, and so on. A level reads
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
    auto bytesAt = [this, &entries](size_t i, size_t offset) {
        return FAscii->KeyWord({entries[i].Name.constData(), size_t(entries[i].Name.size())}, offset);
    };
    const auto byBytes = [](const TItem &a, const TItem &b) { return a.Bytes() < b.Bytes(); };
    // The items live in pages of their own, which become the order when the sort ends.
    TPages pages(entries.size() * sizeof(TItem));
    auto *const itemsBegin = static_cast<TItem *>(pages.Data());
    std::uninitialized_value_construct_n(itemsBegin, entries.size());
    const std::span<TItem> items(itemsBegin, entries.size());
    for (size_t i = 0; i < items.size(); ++i) {
        items[i].Index = std::uint32_t(i);
        items[i].SetBytes(bytesAt(i, 0));
    }
    SortShared(items, byBytes, share);
    // Item positions fit in 32 bits as the items' indices do: a level of a large folder can have
    // tens of thousands of runs, noted while the sort's memory is at its most.
    struct TRun {
        std::uint32_t From, To, Offset; // items alike in their keys' first Offset bytes
    };
    // Runs are ranges of their own; a thread takes its runs and the runs within them.
    auto addRuns = [](std::span<const TItem> part, std::vector<TRun> &runs, size_t from, size_t to, size_t offset) {
        for (size_t i = from; i < to;) {
            size_t end = i + 1;
            while (end < to && part[end].Bytes() == part[i].Bytes())
                ++end;
            if (end - i > 1)
                runs.push_back({std::uint32_t(i), std::uint32_t(end), std::uint32_t(offset)});
            i = end;
        }
    };
    // Levels are made in passes over all entries while at least one item in this many is alike.
    constexpr size_t kPassesWhileAlike = 4;
    // Runs up to this many items are sorted on their whole keys (a few hundred KiB at most).
    constexpr size_t kWholeKeysUpTo = 4096;
    auto refine = [&](std::span<TItem> part, std::vector<TRun> runs) {
        std::string keys;
        std::vector<std::uint32_t> begins;
        while (!runs.empty()) {
            const TRun run = runs.back();
            runs.pop_back();
            const auto from = part.begin() + std::ptrdiff_t(run.From), to = part.begin() + std::ptrdiff_t(run.To);
            // A run whose keys have all ended holds names the collator takes for equal.
            if (from->Bytes() == 0) {
                std::sort(from, to, [&](const TItem &a, const TItem &b) { return byName(a.Index, b.Index); });
                continue;
            }
            if (run.To - run.From > kWholeKeysUpTo) {
                for (auto item = from; item != to; ++item)
                    item->SetBytes(bytesAt(item->Index, run.Offset));
                std::sort(from, to, byBytes);
                addRuns(part, runs, run.From, run.To, run.Offset + 8);
                continue;
            }
            // A small run: the rest of each key is made once, side by side, and the run sorted
            // on those bytes; level by level each name would be read and encoded again.
            keys.clear();
            begins.clear();
            std::string key;
            for (auto item = from; item != to; ++item) {
                // The names of a run lie anywhere: each is fetched some items ahead.
                if (to - item > 16)
                    __builtin_prefetch(&entries[(item + 16)->Index]);
                if (to - item > 8)
                    __builtin_prefetch(entries[(item + 8)->Index].Name.constData());
                key.clear();
                FAscii->AppendKey({entries[item->Index].Name.constData(), size_t(entries[item->Index].Name.size())},
                                  key);
                begins.push_back(std::uint32_t(keys.size()));
                if (key.size() > run.Offset)
                    keys.append(key, run.Offset);
                item->High = std::uint32_t(item - from); // the item's place among the keys
            }
            begins.push_back(std::uint32_t(keys.size()));
            auto restOf = [&](const TItem &item) {
                return std::string_view(keys.data() + begins[item.High], begins[item.High + 1] - begins[item.High]);
            };
            std::sort(from, to, [&](const TItem &a, const TItem &b) {
                const int c = restOf(a).compare(restOf(b));
                return c != 0 ? c < 0 : byName(a.Index, b.Index);
            });
        }
    };
    std::vector<TRun> runs;
    addRuns(items, runs, 0, items.size(), 8);
    // While many items are still alike (names of a folder often share long beginnings), a level's
    // next key bytes are made in one pass over the entries in their own order, where the names lie
    // side by side; run by run, each name is a fetch from anywhere that the next must wait for.
    // Each item's place is noted by its entry first (4 MB for a million, before the descriptions
    // of a listing have filled its memory), and where its next key word begins (half as much);
    // both are given back when the passes end. All runs are one level deep here.
    //
    // Once half the items or fewer are alike, those go on apart and the indices of all are
    // gathered at the start of the items' pages (the index of item i lands on bytes the items up
    // to i held), the other pages given back: the sort's last levels come when the descriptions
    // of a listing are nearly all read, its peak of memory.
    const size_t count = items.size();
    auto *const indices = static_cast<char *>(pages.Data()); // the items' pages, as indices
    std::span<TItem> work = items;                           // the items, or those alike once apart
    TPagedArray<TItem> rest;
    std::vector<std::pair<TRun, std::uint32_t>> homes; // the runs set apart, with where each began among the items
    auto setApart = [&](size_t alike) {
        rest = TPagedArray<TItem>(alike);
        size_t at = 0;
        for (TRun &run : runs) {
            homes.push_back({{std::uint32_t(at), std::uint32_t(at + (run.To - run.From)), run.Offset}, run.From});
            std::copy(work.begin() + std::ptrdiff_t(run.From), work.begin() + std::ptrdiff_t(run.To),
                      rest.begin() + at);
            at += run.To - run.From;
            run = homes.back().first;
        }
        for (size_t i = 0; i < count; ++i) {
            const std::uint32_t index = items[i].Index;
            std::memcpy(indices + i * sizeof index, &index, sizeof index);
        }
        pages.Keep(count * sizeof(std::uint32_t));
        work = std::span(rest.begin(), rest.size());
    };
    size_t alike = 0;
    {
        TPagedArray<TAsciiSortKeys::TCursor> cursors(entries.size());
        for (;;) {
            alike = 0;
            size_t deeper = 0; // the runs kept, moved to the front
            for (const TRun &run : runs) {
                const auto from = work.begin() + std::ptrdiff_t(run.From), to = work.begin() + std::ptrdiff_t(run.To);
                if (from->Bytes() == 0) { // keys ended: names the collator takes for equal
                    std::sort(from, to, [&](const TItem &a, const TItem &b) { return byName(a.Index, b.Index); });
                    continue;
                }
                runs[deeper++] = run;
                alike += run.To - run.From;
            }
            runs.resize(deeper);
            if (runs.empty() || alike < count / kPassesWhileAlike)
                break;
            if (work.data() == items.data() && alike <= count / 2)
                setApart(alike);
            const size_t offset = runs.front().Offset;
            // The places are noted for half the entries at a time (2 MiB for a million), and given
            // back before the runs are sorted: the descriptions of a listing may be read meanwhile.
            const size_t placesAtOnce = std::max<size_t>(1, (entries.size() + 1) / 2);
            for (size_t first = 0; first < entries.size(); first += placesAtOnce) {
                const size_t last = std::min(entries.size(), first + placesAtOnce);
                TPagedArray<std::uint32_t> place(last - first); // the item's place + 1, 0 when settled
                for (const TRun &run : runs)
                    for (size_t p = run.From; p < run.To; ++p)
                        if (const size_t index = work[p].Index; index >= first && index < last)
                            place[index - first] = std::uint32_t(p + 1);
                for (size_t i = first; i < last; ++i)
                    if (const std::uint32_t at = place[i - first]; at != 0)
                        work[at - 1].SetBytes(FAscii->KeyWord(
                            {entries[i].Name.constData(), size_t(entries[i].Name.size())}, offset, &cursors[i]));
            }
            for (const TRun &run : std::exchange(runs, {})) {
                std::sort(work.begin() + std::ptrdiff_t(run.From), work.begin() + std::ptrdiff_t(run.To), byBytes);
                addRuns(work, runs, run.From, run.To, offset + 8);
            }
        }
    }
    if (work.data() == items.data())
        setApart(alike);
    if (!share) {
        refine(work, std::move(runs));
    } else {
        // The runs of the first half of the rest (runs are listed in item order) on a second thread.
        const auto half = std::partition_point(runs.begin(), runs.end(),
                                               [&](const TRun &run) { return run.To <= work.size() / 2; });
        std::future<void> other = std::async(std::launch::async, refine, work, std::vector(runs.begin(), half));
        refine(work, std::vector(half, runs.end()));
        other.get();
    }
    // Each run set apart goes back to where it began among the items.
    for (const auto &[run, home] : homes)
        for (size_t k = run.From; k < run.To; ++k)
            std::memcpy(indices + (home + k - run.From) * sizeof(std::uint32_t), &rest[k].Index, sizeof(std::uint32_t));
    rest = {};
    std::vector<std::uint32_t> order(count);
    if (count > 0)
        std::memcpy(order.data(), pages.Data(), count * sizeof(std::uint32_t));
    return order;
}
