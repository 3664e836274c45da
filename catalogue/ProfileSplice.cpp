// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/ProfileSplice.h"

#include "catalogue/FoldedName.h"
#include "catalogue/ProfileDocument.h"
#include "catalogue/ProfileFile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
constexpr QByteArrayView kUtf8Bom = "\xEF\xBB\xBF";

struct TLineSpan {
    qsizetype Begin = 0, End = 0, Next = 0;
};
struct TKeySpan {
    TLineSpan Line;
    std::string_view Key;
};

// What a commit needs of the file: where the section is, the keys in it that fold like one name
// (in file order), the section's last entry line and the file's first line end.
struct TSectionScan {
    bool Found = false;
    TLineSpan Header;
    TLineSpan LastEntry; // the header when the section has no entry
    std::vector<TKeySpan> Alike;
    QByteArrayView LineBreak;
};

bool HasHighBit(const char *data, size_t size)
{
    // Eight bytes at a time: the keys of a large file are read once per commit.
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        if (word & 0x8080808080808080ULL)
            return true;
    }
    for (; i < size; ++i)
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return true;
    return false;
}

// The first of the bytes a, b and c in [from, to), else to; `high` is set when a byte of 0x80 or
// more comes before it. Thirty-two bytes at a time where the processor allows, as every byte of a
// large file passes here once per commit; inlined, so that the compared bytes are set up once per
// scan rather than once per call.
[[gnu::always_inline]] inline qsizetype FindAny(const char *data, qsizetype from, qsizetype to, char a, char b, char c,
                                                bool &high)
{
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b), vc = _mm_set1_epi8(c);
    unsigned highBits = 0;
    const auto hits = [&](qsizetype at, unsigned &highs) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at));
        highs = static_cast<unsigned>(_mm_movemask_epi8(x));
        return static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)), _mm_cmpeq_epi8(x, vc))));
    };
    for (; from + 32 <= to; from += 32) {
        unsigned low, upper;
        const unsigned mask = hits(from, low) | hits(from + 16, upper) << 16;
        const unsigned highs = low | upper << 16;
        if (mask) {
            const int at = __builtin_ctz(mask);
            high = high || highBits != 0 || (highs & ((1u << at) - 1)) != 0;
            return from + at;
        }
        highBits |= highs;
    }
    high = high || highBits != 0;
#endif
    for (; from < to; ++from) {
        if (data[from] == a || data[from] == b || data[from] == c)
            return from;
        high = high || static_cast<unsigned char>(data[from]) >= 0x80;
    }
    return to;
}

[[gnu::always_inline]] inline qsizetype FindAny(const char *data, qsizetype from, qsizetype to, char a, char b, char c)
{
    bool high = false;
    return FindAny(data, from, to, a, b, c, high);
}

// The first byte after the line end at `end` (CR, LF or CR LF), or end at the end of the bytes.
qsizetype NextLine(const char *data, qsizetype size, qsizetype end)
{
    if (end >= size)
        return end;
    return end + (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n' ? 2 : 1);
}

// Where a scan may end before its section does: the edit needs no key beyond the one it stops at.
enum class TScanUntil { SectionEnd, FirstAlike, FirstExact };

// Scans up to the end of the first section whose name folds like `section`, or up to the first
// key that `until` names.
TSectionScan ScanSection(QByteArrayView bytes, const QByteArray &section, std::string_view name,
                         TScanUntil until = TScanUntil::SectionEnd)
{
    TSectionScan scan;
    const char *data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype pos = bytes.startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0;
    // The first line end of the file is the one new lines get.
    if (const qsizetype end = FindAny(data, pos, size, '\r', '\n', '\n'); end < size)
        scan.LineBreak = bytes.sliced(end, NextLine(data, size, end) - end);
    const QByteArray wantedSection = FoldProfileName(section);
    const TLookupKey wanted(name);
    const std::string_view fold = wanted.View();
    auto trimmedEnd = [data](qsizetype from, qsizetype to) {
        while (to > from && IsProfileBlank(data[to - 1]))
            --to;
        return to;
    };
    while (pos < size) {
        TLineSpan line{pos, pos, pos};
        qsizetype first = pos;
        while (first < size && IsProfileBlank(data[first]))
            ++first;
        // Inside the section an entry's '=' is found in the same pass as its line end.
        const bool entry = scan.Found && first < size && data[first] != '[' && data[first] != ';';
        bool high = false; // in the key
        qsizetype eq = FindAny(data, first, size, '\r', '\n', entry ? '=' : '\n', high);
        if (eq < size && data[eq] == '=') {
            line.End = FindAny(data, eq, size, '\r', '\n', '\n');
        } else {
            line.End = eq;
            eq = -1;
        }
        line.Next = NextLine(data, size, line.End);
        pos = line.Next;
        if (first < line.End && data[first] == '[') {
            if (scan.Found)
                break; // the section ends at the next header
            qsizetype nameBegin = first + 1;
            const void *close = std::memchr(data + nameBegin, ']', size_t(line.End - nameBegin));
            const qsizetype nameEnd = close ? static_cast<const char *>(close) - data : line.End;
            while (nameBegin < nameEnd && IsProfileBlank(data[nameBegin]))
                ++nameBegin;
            const qsizetype trimmed = trimmedEnd(nameBegin, nameEnd);
            if (FoldProfileName(QByteArray::fromRawData(data + nameBegin, trimmed - nameBegin)) == wantedSection) {
                scan.Found = true;
                scan.Header = scan.LastEntry = line;
            }
            continue;
        }
        if (eq < 0)
            continue;
        const qsizetype keyEnd = trimmedEnd(first, eq);
        if (keyEnd == first)
            continue;
        scan.LastEntry = line;
        const std::string_view key(data + first, size_t(keyEnd - first));
        // An ASCII key folds to itself; only other keys need folding to be compared.
        if (high ? TNameEqual()(TLookupKey(key).View(), fold) : key.size() == fold.size() && TNameEqual()(key, fold)) {
            scan.Alike.push_back({line, key});
            if (until == TScanUntil::FirstAlike || (until == TScanUntil::FirstExact && key == name))
                break;
        }
    }
    return scan;
}

// The edit as TProfileDocument::WithString makes it, `entry` being the line to replace (an index
// into scan.Alike, -1 for a new key).
TFileSplice SpliceOf(QByteArrayView bytes, const TSectionScan &scan, const QByteArray &section, const QByteArray &key,
                     const QByteArray &value, qsizetype entry)
{
    const QByteArray eol = scan.LineBreak.isEmpty() ? QByteArrayLiteral("\r\n") : scan.LineBreak.toByteArray();
    const qsizetype size = bytes.size();
    TFileSplice splice;
    if (!scan.Found) {
        // A missing section goes to the end of the file, after a line end if the last line lacks
        // one (a byte-order mark alone is no line).
        splice.From = splice.To = size;
        if (size > 0 && !bytes.endsWith('\n') && !bytes.endsWith('\r') && bytes != kUtf8Bom)
            splice.Insert += eol;
        splice.Insert += '[' + section + ']' + eol + key + '=' + value + eol;
        return splice;
    }
    if (entry >= 0) {
        // Replaced where it stands; the stored key keeps its spelling.
        const TKeySpan &found = scan.Alike[size_t(entry)];
        splice.From = found.Line.Begin;
        splice.To = found.Line.End;
        splice.Insert.reserve(qsizetype(found.Key.size()) + value.size() + 1);
        splice.Insert.append(found.Key.data(), qsizetype(found.Key.size())).append('=').append(value);
        return splice;
    }
    // A new key follows the section's last entry, before the comments and blank lines that end it.
    const TLineSpan &after = scan.LastEntry;
    splice.From = splice.To = after.Next;
    if (after.Next == after.End)
        splice.Insert += eol; // the last line of the file had no line end
    splice.Insert += key + '=' + value;
    // A lone CR before an empty LF line would join that LF and swallow the empty line.
    if (eol == "\r" && after.Next < size && bytes[after.Next] == '\n')
        splice.Insert += "\r\n";
    else
        splice.Insert += eol;
    return splice;
}

qsizetype FirstExact(const TSectionScan &scan, std::string_view key)
{
    const auto it = std::find_if(scan.Alike.begin(), scan.Alike.end(),
                                 [key](const TKeySpan &k) { return k.Key == key; });
    return it == scan.Alike.end() ? -1 : qsizetype(it - scan.Alike.begin());
}
} // namespace

TFileSplice StringSplice(QByteArrayView bytes, const QByteArray &section, const QByteArray &key,
                         const QByteArray &value, bool exactKey)
{
    const TSectionScan scan = ScanSection(bytes, section, ViewOf(key),
                                          exactKey ? TScanUntil::FirstExact : TScanUntil::FirstAlike);
    const qsizetype entry = exactKey ? FirstExact(scan, ViewOf(key)) : scan.Alike.empty() ? -1 : 0;
    return SpliceOf(bytes, scan, section, key, value, entry);
}

QByteArray Spliced(QByteArrayView bytes, const TFileSplice &splice)
{
    QByteArray result;
    result.reserve(bytes.size() - (splice.To - splice.From) + splice.Insert.size());
    result.append(bytes.first(splice.From)).append(splice.Insert).append(bytes.sliced(splice.To));
    return result;
}

std::vector<std::string_view> KeyContenders(std::string_view name, const std::vector<QByteArray> &names)
{
    const TLookupKey fold(name);
    const bool ascii = IsAsciiName(name);
    std::vector<std::string_view> contenders;
    for (const QByteArray &other : names) {
        // ASCII names fold to their own length.
        if (ascii && size_t(other.size()) != name.size() && !HasHighBit(other.constData(), size_t(other.size())))
            continue;
        if (TNameEqual()(TLookupKey(ViewOf(other)).View(), fold.View()))
            contenders.push_back(ViewOf(other));
    }
    if (std::find(contenders.begin(), contenders.end(), name) == contenders.end())
        contenders.push_back(name);
    return contenders;
}

TDescriptionCommit DescriptionCommit(QByteArrayView bytes, const QByteArray &section, const QByteArray &name,
                                     const TContenders &contenders, const QByteArray &value)
{
    TDescriptionCommit commit;
    // The name's own key, wherever it stands, is the one written; keys after it do not count.
    const TSectionScan scan = ScanSection(bytes, section, ViewOf(name), TScanUntil::FirstExact);
    commit.Key = name;
    // No key folds alike, or one is the name's own: the other names cannot change that.
    if (!scan.Alike.empty() && FirstExact(scan, ViewOf(name)) < 0) {
        // Only the keys and names that fold alike take part; the rule over them decides as the
        // rule over the whole table and section would.
        const std::vector<std::string_view> &names = contenders();
        std::vector<std::string_view> keys;
        keys.reserve(scan.Alike.size());
        for (const TKeySpan &k : scan.Alike)
            keys.push_back(k.Key);
        const TNameRule rule(names, keys);
        const size_t self = size_t(std::find(names.begin(), names.end(), ViewOf(name)) - names.begin());
        if (const qsizetype owned = self < names.size() ? rule.KeyOf(self) : -1; owned >= 0)
            commit.Key = QByteArray(keys[size_t(owned)].data(), qsizetype(keys[size_t(owned)].size()));
    }
    commit.Reason = ProfileFile::UnsafeEntryReason(section, commit.Key, value);
    if (commit.Reason.isEmpty())
        commit.Splice = SpliceOf(bytes, scan, section, commit.Key, value, FirstExact(scan, ViewOf(commit.Key)));
    return commit;
}
