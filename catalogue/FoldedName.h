// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The one place where names are folded and where the rule of which stored key describes which
// entry lives.
//
// Names compared without regard to letter case and Unicode normalization, non-ASCII letters
// included, without copying the common ASCII names: an ASCII name is used in place and compared
// ASCII-case-insensitively; any other name is folded once into storage of its own.

// Names are read eight bytes at a time: a listing of a million names hashes and compares each
// of them at least once, and a byte at a time that alone is a good part of a second.
namespace NameWords {
inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;

// Bytes n (at most 8) of a name as a word, byte i in bits 8i, the rest zero.
inline std::uint64_t Load(const char *p, size_t n)
{
    if constexpr (std::endian::native == std::endian::little) {
        // A copy of a length known only here is a string instruction that takes longer than the
        // rest of a name's compare: the word is put together from loads of a fixed size, none
        // past the name's last byte.
        if (n >= 4) {
            std::uint32_t low = 0, high = 0;
            std::memcpy(&low, p, 4);
            std::memcpy(&high, p + n - 4, 4); // overlapping the low half where n is below 8
            return std::uint64_t(low) | std::uint64_t(high) << (8 * (n - 4));
        }
        if (n == 0) // an empty view may have no bytes at all
            return 0;
        const auto byte = [p](size_t i) { return std::uint64_t(static_cast<unsigned char>(p[i])) << (8 * i); };
        return byte(0) | byte(n / 2) | byte(n - 1);
    }
    std::uint64_t word = 0;
    if (n > 0)
        std::memcpy(&word, p, n);
    return word;
}

// The word with its ASCII capitals A-Z in lower case and every other byte as it is.
inline std::uint64_t Lowered(std::uint64_t word)
{
    const std::uint64_t low7 = word & (0x7f * kOnes);
    const std::uint64_t atLeastA = low7 + (0x80 - 'A') * kOnes;   // bit 7 set where >= 'A'
    const std::uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * kOnes; // bit 7 set where > 'Z'
    const std::uint64_t capital = atLeastA & ~aboveZ & ~word & (0x80 * kOnes);
    return word | (capital >> 2);
}
} // namespace NameWords

inline bool IsAsciiName(std::string_view name)
{
    const char *p = name.data();
    size_t n = name.size();
    std::uint64_t high = 0;
    for (; n >= 8; p += 8, n -= 8)
        high |= NameWords::Load(p, 8);
    return ((high | NameWords::Load(p, n)) & (0x80 * NameWords::kOnes)) == 0;
}

struct TNameHash {
    size_t operator()(std::string_view name) const noexcept
    {
        // The lower-cased words, each mixed in by a multiply; the end mixes every bit into the
        // low ones that pick a slot.
        auto mix = [](std::uint64_t hash, std::uint64_t word) {
            hash = (hash ^ NameWords::Lowered(word)) * 0x9E3779B97F4A7C15ULL;
            return hash ^ (hash >> 29);
        };
        const char *p = name.data();
        size_t n = name.size();
        std::uint64_t hash = 0xCBF29CE484222325ULL ^ n;
        for (; n >= 8; p += 8, n -= 8)
            hash = mix(hash, NameWords::Load(p, 8));
        if (n > 0)
            hash = mix(hash, NameWords::Load(p, n));
        hash ^= hash >> 33;
        hash *= 0xFF51AFD7ED558CCDULL;
        hash ^= hash >> 33;
        return size_t(hash);
    }
};

struct TNameEqual {
    bool operator()(std::string_view a, std::string_view b) const noexcept
    {
        if (a.size() != b.size())
            return false;
        const char *p = a.data(), *q = b.data();
        size_t n = a.size();
        for (; n >= 8; p += 8, q += 8, n -= 8)
            if (NameWords::Lowered(NameWords::Load(p, 8)) != NameWords::Lowered(NameWords::Load(q, 8)))
                return false;
        return NameWords::Lowered(NameWords::Load(p, n)) == NameWords::Lowered(NameWords::Load(q, n));
    }
};

// The fold of a name that is not plain ASCII: decoded as the text codec shows it (UTF-8, else
// Windows-1252), decomposed, case-folded and composed again, as UTF-8. NFC and NFD spellings and
// every letter case of a name fold alike; an ASCII name folds to its lower case.
QByteArray FoldNonAsciiName(std::string_view name);
// The fold of any name as bytes (section names of the profile reader).
QByteArray FoldProfileName(const QByteArray &name);

// Keeps the folded copies that the keys of a table or set point into.
class TFoldedNames {
public:
    // The key of a name; an ASCII name's key points into the name itself, which must outlive it.
    std::string_view Key(std::string_view name)
    {
        if (IsAsciiName(name))
            return name;
        FStore.push_back(FoldNonAsciiName(name));
        return {FStore.back().constData(), size_t(FStore.back().size())};
    }

private:
    std::deque<QByteArray> FStore;
};

// A key for one look-up; the folded copy, when needed, lives as long as this object.
class TLookupKey {
public:
    explicit TLookupKey(std::string_view name)
    {
        if (IsAsciiName(name)) {
            FView = name;
        } else {
            FStore = FoldNonAsciiName(name);
            FView = {FStore.constData(), size_t(FStore.size())};
        }
    }
    std::string_view View() const { return FView; }

private:
    QByteArray FStore;
    std::string_view FView;
};

inline std::string_view ViewOf(const QByteArray &bytes)
{
    return {bytes.constData(), size_t(bytes.size())};
}

// An open-addressing table from name keys to line numbers: one probe usually lands on the entry,
// where a node-based map chases a pointer per look-up. A slot takes 16 bytes and the table is
// kept at most 70% full, as a description file of a million keys would otherwise spend more on
// its index than on its bytes.
class TNameIndex {
public:
    void Reserve(size_t count)
    {
        size_t capacity = 16;
        while (capacity * kMaxFill < count * 10)
            capacity *= 2;
        Rehash(capacity);
    }
    // Inserts the key unless present; returns the value stored for it. Keys are shorter than
    // 4 GiB and values below 2^31, as lines of a file that is read whole.
    qsizetype Insert(std::string_view key, qsizetype value, bool &inserted)
    {
        if ((FCount + 1) * 10 > FSlots.size() * kMaxFill)
            Rehash(FSlots.empty() ? 16 : FSlots.size() * 2);
        TSlot &slot = Probe(key, TNameHash()(key));
        inserted = slot.Value < 0;
        if (inserted) {
            slot = {key.data(), std::uint32_t(key.size()), std::int32_t(value)};
            ++FCount;
        }
        return slot.Value;
    }
    qsizetype Find(std::string_view key) const
    {
        if (FSlots.empty())
            return -1;
        return const_cast<TNameIndex *>(this)->Probe(key, TNameHash()(key)).Value;
    }

private:
    static constexpr size_t kMaxFill = 7; // tenths
    struct TSlot {
        const char *Data = nullptr;
        std::uint32_t Size = 0;
        std::int32_t Value = -1; // -1: empty
        std::string_view Key() const { return {Data, Size}; }
    };
    TSlot &Probe(std::string_view key, size_t hash)
    {
        const size_t mask = FSlots.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            TSlot &slot = FSlots[i];
            if (slot.Value < 0 || (slot.Size == key.size() && TNameEqual()(slot.Key(), key)))
                return slot;
        }
    }
    void Rehash(size_t capacity)
    {
        std::vector<TSlot> old = std::move(FSlots);
        FSlots.assign(capacity, TSlot{});
        for (const TSlot &slot : old)
            if (slot.Value >= 0)
                Probe(slot.Key(), TNameHash()(slot.Key())) = slot;
    }
    std::vector<TSlot> FSlots;
    size_t FCount = 0;
};

template <typename T> using TNameMap = std::unordered_map<std::string_view, T, TNameHash, TNameEqual>;
using TNameSet = std::unordered_set<std::string_view, TNameHash, TNameEqual>;

// Stored keys of one section grouped by their fold, as a profile's key index holds them: the
// first key of a name's fold, the next key of the same fold in file order, and a key's bytes.
// Keys are numbered below Count; -1 is none.
struct TKeyGroups {
    size_t Count = 0;
    std::function<qsizetype(std::string_view name)> First;
    std::function<qsizetype(qsizetype key)> Next;
    std::function<std::string_view(qsizetype key)> Key;
};

// The data rule over one table of a folder (its entry names) and the keys of its section in the
// description file. An entry's own key is the key equal to its name byte for byte. A key equal
// to the name only without regard to letter case or normalization (written on Windows, or by a
// copy that changed the form) describes it too, as long as no other entry owns that key byte for
// byte; where several entries could take such keys, they take them in the byte order of their
// names, one key each (in file order), so two entries never share a description. An entry with a
// key of its own claims no other key of its fold. A key that no entry claims either way is stale.
class TNameRule {
public:
    // Keys given as a list in file order; the names and keys must outlive the rule.
    TNameRule(const std::vector<std::string_view> &names, const std::vector<std::string_view> &keys);
    // Keys given by the groups of a profile's index; they must outlive the rule.
    TNameRule(const std::vector<std::string_view> &names, TKeyGroups groups);
    TNameRule(const TNameRule &) = delete;
    TNameRule &operator=(const TNameRule &) = delete;
    // The number of the key that describes names[nameIndex], -1 when none does.
    qsizetype KeyOf(size_t nameIndex) const { return FKeyOf[nameIndex]; }
    // Whether some entry claims the key either way (as its own key, or by its fold while it has no
    // key of its own), so that it must be kept.
    bool Claimed(std::string_view key) const;

private:
    void Apply(const std::vector<std::string_view> &names);
    // The steps of Apply: each name's fold and own key; the keys spelled exactly like names; the
    // keys nobody owns, given to the names without one.
    void FindOwnKeys(const std::vector<std::string_view> &names, std::vector<qsizetype> &groupOf,
                     std::vector<char> &chained);
    std::vector<char> OwnedKeys(const std::vector<std::string_view> &names, const std::vector<qsizetype> &groupOf,
                                const std::vector<char> &chained);
    void ShareSpareKeys(const std::vector<std::string_view> &names, const std::vector<qsizetype> &groupOf,
                        std::vector<char> &owned);

    TKeyGroups FGroups;
    std::vector<std::string_view> FKeys; // listed keys
    TFoldedNames FFolded;                // the fold of listed keys
    TNameIndex FIndex;                   // of listed keys: fold -> first key
    std::vector<qsizetype> FNext;        // of listed keys: the next key of the same fold
    std::vector<qsizetype> FClaims;      // per first key of a fold: how many entries fold alike
    std::vector<qsizetype> FKeyOf;
    std::vector<qsizetype> FOwnless; // per first key of a fold: entries of it without a key of their own
    std::vector<char> FOwnedExactly; // per key: spelled exactly like an entry's name
};

// The entry (index into names) that a key describes by the rule, -1 when none: where the cursor
// goes back to after a new listing.
qsizetype EntryOfKey(const std::vector<std::string_view> &names, std::string_view key);
