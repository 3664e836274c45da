// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/DescriptionStream.h"

#include "catalogue/FoldedName.h"
#include "catalogue/PackedTexts.h"
#include "catalogue/ProfileDocument.h"
#include "catalogue/ProfileFile.h"
#include "common/AtomicFile.h"
#include "common/Exceptions.h"
#include "common/TextCodec.h"

#include <QHash>

#include <algorithm>
#include <bit>
#include <optional>
#include <tuple>
#include <utility>
#include <cerrno>
#include <cstring>
#include <unordered_map>

void TNameHashes::Add(std::string_view name)
{
    size_t hash = 0;
    if (IsAsciiName(name)) {
        hash = TNameHash()(name);
    } else { // looked up by its fold
        const QByteArray &folded = FFolded.emplace(FCount, FoldNonAsciiName(name)).first->second;
        hash = TNameHash()(ViewOf(folded));
    }
    if ((FCount + 1) * sizeof(std::uint64_t) > FHashes.Size())
        FHashes.Grow(std::max<size_t>(64 << 10, 2 * FHashes.Size()));
    static_cast<std::uint64_t *>(FHashes.Data())[FCount++] = hash;
    ++FGroupSizes[GroupOf(hash)];
}

namespace {
// The entries of a table by the fold of their names. A slot of 32 bits holds an entry's number
// and, in the bits the numbers leave, bits of its hash (12 for a million entries); a look-up
// compares with the entry's own name (or its folded copy, for a name beyond ASCII) only where
// those bits agree: for a million entries the table takes 5 MB where slots holding views would
// take 20 MB. It lives while the descriptions are read, beside the rows being ordered, which is
// when a listing needs the most memory.
class TEntryIndex {
public:
    // The entries' names hashed beforehand, if they were, are used up.
    TEntryIndex(const std::vector<TCatalogueEntry> &entries, TNameHashes *given) : FEntries(entries)
    {
        TNameHashes own;
        if (!given || given->Count() != entries.size()) {
            for (const TCatalogueEntry &entry : entries)
                own.Add(ViewOf(entry.Name));
            given = &own;
        }
        TNameHashes &hashes = *given;
        // At most four fifths full: a look-up that misses ends within a line or two of slots.
        FSlots.assign(std::max<size_t>(16, entries.size() + entries.size() / 4), 0);
        FEntryBits = int(std::bit_width(entries.size())); // entry numbers 1 .. size, 0 for none
        FEntryMask = std::uint32_t((std::uint64_t(1) << FEntryBits) - 1);
        FFolded = std::move(hashes.Folded());
        FFoldedAway.assign(entries.size(), false);
        for (const auto &[entry, folded] : FFolded)
            FFoldedAway[entry] = true;
        // The entries by the groups of their hashes, each group in the entries' order: a group's
        // slots lie side by side, from the first group's to the last's, and names that fold alike
        // are in one group, in the entries' order.
        struct THashed {
            std::uint32_t Low, High, Entry;
        };
        TPages groupedPages(entries.size() * sizeof(THashed));
        auto *const grouped = static_cast<THashed *>(groupedPages.Data());
        std::array<size_t, std::tuple_size_v<TNameHashes::TGroupSizes>> at{}; // where each group's next goes
        for (size_t g = 1; g < at.size(); ++g)
            at[g] = at[g - 1] + hashes.GroupSizes()[g - 1];
        for (size_t entry = 0; entry < entries.size(); ++entry) {
            const std::uint64_t hash = hashes.Hash(entry);
            grouped[at[TNameHashes::GroupOf(hash)]++] = {std::uint32_t(hash), std::uint32_t(hash >> 32),
                                                         std::uint32_t(entry)};
        }
        for (size_t k = 0; k < entries.size(); ++k) {
            const THashed &hashed = grouped[k];
            const size_t hash = size_t(std::uint64_t(hashed.High) << 32 | hashed.Low);
            // The entry's name is read only where a tag agrees: a fetch from anywhere each.
            TSlot &slot = Probe(hash,
                                [&](std::uint32_t other) { return TNameEqual()(KeyOf(other), KeyOf(hashed.Entry)); });
            if (slot == 0) {
                slot = std::uint32_t(std::uint64_t(Tag(hash)) << FEntryBits) | (hashed.Entry + 1);
            } else { // a name that folds like another one (rare): chained behind the first
                const auto first = qsizetype(EntryOf(slot) - 1);
                if (const qsizetype next = Next(first); next >= 0)
                    FNext.emplace(qsizetype(hashed.Entry), next);
                FNext[first] = qsizetype(hashed.Entry);
            }
        }
        hashes = TNameHashes(); // used up: hashed again if ever given again
    }
    // The first entry whose name folds as the key (a name's fold, TLookupKey), -1 when none.
    qsizetype Find(std::string_view key) const { return Find(key, TNameHash()(key)); }
    qsizetype Find(std::string_view key, size_t hash) const
    {
        const TSlot &slot = const_cast<TEntryIndex *>(this)->Probe(
            hash, [&](std::uint32_t entry) { return TNameEqual()(KeyOf(entry), key); });
        return qsizetype(EntryOf(slot)) - 1;
    }
    // The next entry whose name folds alike, -1 when none.
    qsizetype Next(qsizetype entry) const
    {
        if (FNext.empty())
            return -1;
        const auto next = FNext.find(entry);
        return next == FNext.end() ? -1 : next->second;
    }
    // The memory a look-up of an ASCII key reads, one step at a time: its slot, then the entry
    // that the slot names, then that entry's name. The steps of a batch of keys are taken
    // together, so the processor fetches for many keys at once instead of waiting for each.
    void PrefetchSlot(size_t hash) const { __builtin_prefetch(&FSlots[Home(hash)]); }
    qsizetype PrefetchEntry(size_t hash) const
    {
        // The first slot past the home that agrees, as the look-up will find it: a key that another
        // took the home of (a third of them) would otherwise wait for its entry and name.
        const std::uint32_t tag = Tag(hash);
        for (size_t i = Home(hash);; i = i + 1 == FSlots.size() ? 0 : i + 1) {
            const TSlot slot = FSlots[i];
            if (slot == 0)
                return -1;
            if (TagOf(slot) == tag) {
                // An entry lies across two lines as often as not, its first byte's and its last's,
                // and the look-up reads or writes both.
                const TCatalogueEntry &entry = FEntries[EntryOf(slot) - 1];
                __builtin_prefetch(&entry);
                __builtin_prefetch(&entry.DescriptionCut, 1);
                return qsizetype(EntryOf(slot)) - 1;
            }
        }
    }
    void PrefetchName(qsizetype entry) const { __builtin_prefetch(FEntries[size_t(entry)].Name.constData()); }

private:
    using TSlot = std::uint32_t; // the tag above the entry + 1; 0 when empty
    // A slot's place comes from the hash's low half, its tag from as many bits of the high half
    // as the entry numbers leave (none for 2^32 - 1 entries: then every name agreeing is compared).
    std::uint32_t Tag(size_t hash) const
    {
        return std::uint32_t((std::uint64_t(hash) >> 32) & (std::uint64_t(~FEntryMask) >> FEntryBits));
    }
    std::uint32_t EntryOf(TSlot slot) const { return slot & FEntryMask; }
    std::uint32_t TagOf(TSlot slot) const { return std::uint32_t(std::uint64_t(slot) >> FEntryBits); }
    size_t Home(size_t hash) const { return size_t((std::uint64_t(std::uint32_t(hash)) * FSlots.size()) >> 32); }
    std::string_view KeyOf(size_t entry) const
    {
        if (FFoldedAway[entry])
            return ViewOf(FFolded.at(entry));
        return ViewOf(FEntries[entry].Name);
    }
    // The slot of the entry whose key `sameKey` takes for the one looked for, or the empty slot
    // where it would go.
    template <typename SameKey> TSlot &Probe(size_t hash, SameKey sameKey)
    {
        const std::uint32_t tag = Tag(hash);
        for (size_t i = Home(hash);; i = i + 1 == FSlots.size() ? 0 : i + 1) {
            TSlot &slot = FSlots[i];
            if (slot == 0 || (TagOf(slot) == tag && sameKey(EntryOf(slot) - 1)))
                return slot;
        }
    }

    const std::vector<TCatalogueEntry> &FEntries;
    std::vector<TSlot> FSlots;
    int FEntryBits = 0;
    std::uint32_t FEntryMask = 0;
    std::unordered_map<qsizetype, qsizetype> FNext; // an entry -> the next whose name folds alike
    std::vector<bool> FFoldedAway;
    std::unordered_map<size_t, QByteArray> FFolded;
};

// Whether the read limit cuts the stored value (after the NUL and the quotes that the reader drops).
bool CutOnReading(std::string_view stored)
{
    stored = stored.substr(0, stored.find('\0'));
    if (stored.size() >= 2 && (stored.front() == '"' || stored.front() == '\'') && stored.back() == stored.front())
        stored = stored.substr(1, stored.size() - 2);
    return stored.size() > size_t(ProfileFile::MaxValueLength);
}

// A key of a section where several entries fold alike: decided by the rule once all are read.
struct TContestedKey {
    qsizetype First; // the first entry of the names that fold alike
    QByteArray Key;
    QByteArray Value; // as read
    bool Cut = false; // longer than the read limit
};

// What is known of one table while the file goes by.
struct TTableReader {
    explicit TTableReader(TDescribedTable &table)
        : Table(table), Index(*table.Entries, table.Hashes), Found(table.Entries->size()),
          FoldedSection(FoldProfileName(table.Section))
    {
    }
    enum class TFound : std::uint8_t { None, Folded, Exact };
    // What each entry has found so far, in two bits: a million take 256 KiB, which stay in the
    // cache beside the look-ups (a byte each would be a fetch from anywhere for each).
    class TFoundStates {
    public:
        explicit TFoundStates(size_t count) : FBits((count + 3) / 4, 0) {}
        TFound Get(size_t entry) const { return TFound((FBits[entry / 4] >> Shift(entry)) & 3); }
        void Set(size_t entry, TFound found)
        {
            std::uint8_t &bits = FBits[entry / 4];
            bits = std::uint8_t((bits & ~(3 << Shift(entry))) | int(found) << Shift(entry));
        }
        void Clear() { std::fill(FBits.begin(), FBits.end(), 0); }

    private:
        static int Shift(size_t entry) { return int(2 * (entry % 4)); }
        std::vector<std::uint8_t> FBits;
    };
    TDescribedTable &Table;
    TEntryIndex Index;
    TFoundStates Found; // the key an entry has so far, for names that no other folds like
    std::vector<TContestedKey> Contested;
    QByteArray FoldedSection;
    bool SectionSeen = false;
    // The first keys of the section until its key list is known, with the value ReadString reads
    // for the fold of each; then the keys of the list.
    std::vector<std::string> ListedKeys;
    qsizetype ListedBytes = 1;
    QHash<QByteArray, QByteArray> ListedValues;
    // The value of each listed key's own first line: a key that no entry claims is pruned with it,
    // also where another spelling of its fold comes first.
    QHash<QByteArray, QByteArray> OwnValues;
    std::optional<QList<QByteArray>> KeyList;
    // Keys of the list stored nowhere before it closed (one cut short): looked for further on.
    std::vector<TUnclaimedKey> Watched;
};

class TDescriptionReader {
public:
    explicit TDescriptionReader(std::array<TDescribedTable, 2> &tables)
        : FTables{TTableReader(tables[0]), TTableReader(tables[1])}
    {
    }

    void Consume(QByteArrayView piece)
    {
        if (FFirst) {
            // The first bytes are looked at for a byte-order mark once there are enough of them.
            FCarry.append(piece.constData(), piece.size());
            if (FCarry.size() < 3)
                return;
            FFirst = false;
            const QByteArray head = std::exchange(FCarry, QByteArray());
            Continue(QByteArrayView(head).sliced(TProfileDocument::ContentStart(head)));
            return;
        }
        Continue(piece);
    }

    void Continue(QByteArrayView piece)
    {
        qsizetype from = 0;
        if (!FCarry.isEmpty()) {
            // The line begun in the last piece, completed by the bytes of this one up to its end.
            // (A CR LF split between pieces reads as a CR and an empty line, which has no effect.)
            const qsizetype end = LineEnd(piece);
            FCarry.append(piece.constData(), end < 0 ? piece.size() : end + 1);
            if (end < 0)
                return;
            Lines(FCarry.constData(), FCarry.size(), false);
            FCarry.clear();
            from = end + 1;
        }
        const qsizetype used = from + Lines(piece.constData() + from, piece.size() - from, false);
        FCarry = QByteArray(piece.constData() + used, piece.size() - used);
    }

    void Finish()
    {
        Lines(FCarry.constData(), FCarry.size(), true);
        FCarry.clear();
        for (TTableReader &reader : FTables)
            Decide(reader);
    }

    // What a failed read had given: the file describes nothing.
    void Clear()
    {
        for (TTableReader &reader : FTables) {
            for (TCatalogueEntry &entry : *reader.Table.Entries) {
                entry.Description = QByteArray();
                entry.DescriptionCut = false;
            }
            reader.Found.Clear();
            reader.Contested.clear();
            reader.SectionSeen = false;
            reader.ListedKeys.clear();
            reader.ListedBytes = 1;
            reader.ListedValues.clear();
            reader.OwnValues.clear();
            reader.KeyList.reset();
            reader.Watched.clear();
            reader.Table.Unclaimed.clear();
        }
        FCurrent = nullptr;
        FCarry.clear();
        FFirst = true;
    }

private:
    static qsizetype LineEnd(QByteArrayView bytes)
    {
        for (qsizetype i = 0; i < bytes.size(); ++i)
            if (bytes[i] == '\n' || bytes[i] == '\r')
                return i;
        return -1;
    }

    // Takes the whole lines of data[0, size); returns where the first line not yet whole begins.
    // Lines are taken in batches whose look-ups are fetched ahead (TEntryIndex); a batch ends
    // after a section line, as the lines after it are looked up in another table.
    qsizetype Lines(const char *data, qsizetype size, bool last)
    {
        constexpr size_t kBatch = 128;
        TProfileDocument::TLine batch[kBatch];
        std::optional<size_t> hashes[kBatch]; // of the ASCII keys, made once for the fetch and the look-up
        qsizetype entries[kBatch];
        qsizetype pos = 0;
        for (;;) {
            size_t count = 0;
            bool open = false; // a line not yet whole follows
            while (count < kBatch && pos < size) {
                const TProfileDocument::TLine line = TProfileDocument::ParseLine(data, pos, size);
                if (!last && line.End == size) {
                    open = true;
                    break;
                }
                batch[count++] = line;
                pos = line.Next;
                if (line.Kind == TProfileDocument::TLineKind::Section)
                    break;
            }
            // Each line's slot is fetched eight lines before its entry, that eight before its
            // name, that eight before the line is taken. Other keys than ASCII ones are folded
            // first, which costs more than the fetch saves.
            constexpr size_t kStep = 8;
            const TEntryIndex *index = FCurrent ? &FCurrent->Index : nullptr;
            for (size_t i = 0; i < count + 3 * kStep; ++i) {
                if (index && i < count) {
                    const TProfileDocument::TLine &line = batch[i];
                    const std::string_view key(data + line.NameBegin, size_t(line.NameEnd - line.NameBegin));
                    hashes[i].reset();
                    if (line.Kind == TProfileDocument::TLineKind::Entry && IsAsciiName(key))
                        index->PrefetchSlot(hashes[i].emplace(TNameHash()(key)));
                }
                if (index && i >= kStep && i - kStep < count) {
                    const size_t j = i - kStep;
                    entries[j] = hashes[j] ? index->PrefetchEntry(*hashes[j]) : -1;
                }
                if (index && i >= 2 * kStep && i - 2 * kStep < count && entries[i - 2 * kStep] >= 0)
                    index->PrefetchName(entries[i - 2 * kStep]);
                if (i >= 3 * kStep && i - 3 * kStep < count)
                    Take(data, batch[i - 3 * kStep], index ? hashes[i - 3 * kStep] : std::nullopt);
            }
            if (open || pos >= size)
                return pos;
        }
    }

    // hash: the key's, when it is of ASCII and was made for the current table's index.
    void Take(const char *data, const TProfileDocument::TLine &line, std::optional<size_t> hash)
    {
        const std::string_view name(data + line.NameBegin, size_t(line.NameEnd - line.NameBegin));
        if (line.Kind == TProfileDocument::TLineKind::Section) {
            // Only the first section of a name counts, as the profile reads it.
            const QByteArray folded = FoldProfileName(QByteArray(name.data(), qsizetype(name.size())));
            FCurrent = nullptr;
            for (TTableReader &reader : FTables)
                if (!reader.SectionSeen && folded == reader.FoldedSection) {
                    reader.SectionSeen = true;
                    FCurrent = &reader;
                }
            return;
        }
        if (line.Kind != TProfileDocument::TLineKind::Entry || !FCurrent)
            return;
        TTableReader &reader = *FCurrent;
        const std::string_view stored(data + line.ValueBegin, size_t(line.ValueEnd - line.ValueBegin));
        const TLookupKey key(name);
        NoteKey(reader, name, key, stored);
        const qsizetype first = hash ? reader.Index.Find(key.View(), *hash) : reader.Index.Find(key.View());
        if (first < 0)
            return;
        if (reader.Index.Next(first) >= 0) {
            reader.Contested.push_back({first, QByteArray(name.data(), qsizetype(name.size())),
                                        ProfileFile::ValueAsRead(stored), CutOnReading(stored)});
            return;
        }
        // The only entry of this fold: its key is the first spelled exactly like its name, else
        // the first of its fold.
        TCatalogueEntry &entry = (*reader.Table.Entries)[size_t(first)];
        const bool exact = ViewOf(entry.Name) == name;
        const TTableReader::TFound found = reader.Found.Get(size_t(first));
        if (found == TTableReader::TFound::Exact || (found == TTableReader::TFound::Folded && !exact))
            return;
        reader.Found.Set(size_t(first), exact ? TTableReader::TFound::Exact : TTableReader::TFound::Folded);
        if (const std::optional<std::string_view> plain = ProfileFile::PlainValue(stored)) {
            entry.Description = plain->empty() ? QByteArray() : FValues.Add(*plain);
            entry.DescriptionCut = false;
        } else {
            entry.Description = ProfileFile::ValueAsRead(stored);
            entry.DescriptionCut = CutOnReading(stored); // the window must know it holds a beginning
        }
    }

    // A key as the key list sees it: until the list is full, it is listed with the value read for
    // its fold and for itself; after, it may be the stored line of a listed key cut short.
    static void NoteKey(TTableReader &reader, std::string_view name, const TLookupKey &key, std::string_view stored)
    {
        if (reader.KeyList) {
            for (TUnclaimedKey &watched : reader.Watched)
                if (!watched.Stored && TNameEqual()(key.View(), ViewOf(watched.Value))) {
                    watched.Stored = true;
                    watched.Value = ProfileFile::ValueAsRead(stored);
                }
            return;
        }
        const std::string_view listed = name.substr(0, name.find('\0'));
        if (!listed.empty())
            reader.ListedBytes += qsizetype(listed.size()) + 1;
        reader.ListedKeys.emplace_back(name);
        QByteArray own(name.data(), qsizetype(name.size()));
        QByteArray folded = FoldProfileName(own);
        if (!reader.ListedValues.contains(folded)) // the first key of a fold is the one read
            reader.ListedValues.insert(std::move(folded), ProfileFile::ValueAsRead(stored));
        if (!reader.OwnValues.contains(own)) // and the first line of a key
            reader.OwnValues.insert(std::move(own), ProfileFile::ValueAsRead(stored));
        if (reader.ListedBytes > ProfileFile::KeyListBuffer)
            CloseKeyList(reader);
    }

    // The keys of names that fold alike go to them by the rule, and the key list is made.
    void Decide(TTableReader &reader)
    {
        std::vector<TCatalogueEntry> &entries = *reader.Table.Entries;
        std::stable_sort(reader.Contested.begin(), reader.Contested.end(),
                         [](const TContestedKey &a, const TContestedKey &b) { return a.First < b.First; });
        for (auto group = reader.Contested.begin(); group != reader.Contested.end();) {
            const auto end = std::find_if(group, reader.Contested.end(),
                                          [&](const TContestedKey &k) { return k.First != group->First; });
            std::vector<qsizetype> rows;
            std::vector<std::string_view> names, keys;
            for (qsizetype e = group->First; e >= 0; e = reader.Index.Next(e)) {
                rows.push_back(e);
                names.push_back(ViewOf(entries[size_t(e)].Name));
            }
            for (auto k = group; k != end; ++k)
                keys.push_back(ViewOf(k->Key));
            const TNameRule rule(names, keys);
            for (size_t i = 0; i < rows.size(); ++i)
                if (const qsizetype k = rule.KeyOf(i); k >= 0) {
                    entries[size_t(rows[i])].Description = (group + k)->Value;
                    entries[size_t(rows[i])].DescriptionCut = (group + k)->Cut;
                }
            group = end;
        }
        reader.Contested.clear();
        if (!reader.KeyList)
            CloseKeyList(reader);
        CollectUnclaimed(reader);
    }

    // The keys of the list that no entry claims, with their values.
    static void CollectUnclaimed(TTableReader &reader)
    {
        const std::vector<TCatalogueEntry> &entries = *reader.Table.Entries;
        // An entry with a key spelled exactly like its name claims no other key of its fold: such a
        // key is claimed only by an entry of the fold that has none, else it is stale.
        std::vector<qsizetype> firsts;
        firsts.reserve(size_t(reader.KeyList->size()));
        std::vector<bool> exact(entries.size(), false);
        for (const QByteArray &key : *reader.KeyList) {
            firsts.push_back(reader.Index.Find(TLookupKey(ViewOf(key)).View()));
            for (qsizetype e = firsts.back(); e >= 0; e = reader.Index.Next(e))
                if (entries[size_t(e)].Name == key)
                    exact[size_t(e)] = true;
        }
        size_t listed = 0;
        for (QByteArray &key : *reader.KeyList) {
            const qsizetype first = firsts[listed++];
            bool claimed = false;
            for (qsizetype e = first; e >= 0 && !claimed; e = reader.Index.Next(e))
                claimed = !exact[size_t(e)] || entries[size_t(e)].Name == key;
            if (claimed)
                continue;
            const QByteArray folded = FoldProfileName(key);
            const auto other = reader.OwnValues.constFind(key);
            TUnclaimedKey unclaimed{std::move(key), {}, false};
            if (other != reader.OwnValues.cend()) {
                unclaimed.Value = *other;
                unclaimed.Stored = true;
            } else if (const auto value = reader.ListedValues.constFind(folded); value != reader.ListedValues.cend()) {
                unclaimed.Value = *value;
                unclaimed.Stored = true;
            } else {
                for (const TUnclaimedKey &watched : reader.Watched)
                    if (watched.Key == unclaimed.Key && watched.Stored) {
                        unclaimed.Value = watched.Value;
                        unclaimed.Stored = true;
                    }
            }
            reader.Table.Unclaimed.push_back(std::move(unclaimed));
        }
    }

    // The key list is known once it is full (or the file has ended): a key of it that folds like
    // none read so far (the last, cut short) is looked for in the lines still to come, its Value
    // holding its fold meanwhile.
    static void CloseKeyList(TTableReader &reader)
    {
        std::vector<std::string_view> listed(reader.ListedKeys.begin(), reader.ListedKeys.end());
        reader.KeyList = ProfileFile::KeyList(listed);
        reader.ListedKeys.clear();
        for (const QByteArray &key : *reader.KeyList)
            if (QByteArray folded = FoldProfileName(key); !reader.ListedValues.contains(folded))
                reader.Watched.push_back({key, std::move(folded), false});
    }

    TTableReader FTables[2];
    TTableReader *FCurrent = nullptr;
    TPackedTexts FValues;
    QByteArray FCarry; // the beginning of a line whose end is in the next piece
    bool FFirst = true;
};
} // namespace

QString ReadDescriptions(const QByteArray &path, std::array<TDescribedTable, 2> &tables, qsizetype pieceSize)
{
    TDescriptionReader reader(tables);
    const int error = ReadFileInPieces(path, pieceSize, [&reader](QByteArrayView piece) { reader.Consume(piece); });
    const QString failed = QStringLiteral("Unable to read %1: %2").arg(DecodeName(path), FileErrorText(error));
    // Too large to hold: refused rather than taken for a file without descriptions.
    if (error == EFBIG)
        throw TException(failed);
    if (error != 0) {
        reader.Clear();
        // Another user's link is no file without descriptions either: the listing says so.
        return error == kErrorForeignLink || error == kErrorSharedHardLink ? failed : QString();
    }
    reader.Finish();
    return {};
}
