#pragma once

#include <QByteArray>

#include <cstdint>
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

inline bool IsAsciiName(std::string_view name)
{
    for (const char c : name)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

struct TNameHash {
    size_t operator()(std::string_view name) const noexcept
    {
        size_t hash = 1469598103934665603ULL; // FNV-1a over the lower-cased bytes
        for (const char c : name) {
            const unsigned char b = static_cast<unsigned char>(c);
            hash = (hash ^ (b >= 'A' && b <= 'Z' ? b + 32 : b)) * 1099511628211ULL;
        }
        return hash;
    }
};

struct TNameEqual {
    bool operator()(std::string_view a, std::string_view b) const noexcept
    {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i) {
            unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
            if (x >= 'A' && x <= 'Z')
                x += 32;
            if (y >= 'A' && y <= 'Z')
                y += 32;
            if (x != y)
                return false;
        }
        return true;
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
// names, one key each (in file order), so two entries never share a description. A key that
// equals no entry either way is stale.
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
    // Whether some entry claims the key either way, so that it must be kept.
    bool Claimed(std::string_view key) const;

private:
    void Apply(const std::vector<std::string_view> &names);

    TKeyGroups FGroups;
    std::vector<std::string_view> FKeys; // listed keys
    TFoldedNames FFolded;                // the fold of listed keys
    TNameIndex FIndex;                   // of listed keys: fold -> first key
    std::vector<qsizetype> FNext;        // of listed keys: the next key of the same fold
    std::vector<qsizetype> FClaims;      // per first key of a fold: how many entries fold alike
    std::vector<qsizetype> FKeyOf;
};

// The entry (index into names) that a key describes by the rule, -1 when none: where the cursor
// goes back to after a new listing.
qsizetype EntryOfKey(const std::vector<std::string_view> &names, std::string_view key);
