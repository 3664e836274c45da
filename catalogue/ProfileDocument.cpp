// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/ProfileDocument.h"

#include "common/TextCodec.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr QByteArrayView kUtf8Bom = "\xEF\xBB\xBF";
} // namespace

TProfileDocument::TProfileDocument(QByteArray bytes) : FBytes(std::move(bytes))
{
    Parse();
}

TProfileDocument::TLine TProfileDocument::ParseLine(const char *data, qsizetype pos, qsizetype size)
{
    // Offsets fit in 32 bits: files are read whole only up to 256 MiB.
    const auto at = [](qsizetype offset) { return std::int32_t(offset); };
    TLine line;
    line.Begin = at(pos);
    const void *lf = std::memchr(data + pos, '\n', size_t(size - pos));
    const void *cr = std::memchr(data + pos, '\r', size_t((lf ? static_cast<const char *>(lf) - data : size) - pos));
    const qsizetype end = cr ? static_cast<const char *>(cr) - data : lf ? static_cast<const char *>(lf) - data : size;
    line.End = at(end);
    line.Next = at(end);
    if (end < size) {
        line.Next = at(end + 1);
        if (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n')
            line.Next = at(end + 2);
    }
    qsizetype first = pos;
    while (first < end && IsProfileBlank(data[first]))
        ++first;
    auto trimmedEnd = [&](qsizetype from, qsizetype to) {
        while (to > from && IsProfileBlank(data[to - 1]))
            --to;
        return to;
    };
    if (first < end && data[first] == '[') {
        qsizetype nameBegin = first + 1;
        qsizetype close = nameBegin;
        while (close < end && data[close] != ']')
            ++close;
        while (nameBegin < close && IsProfileBlank(data[nameBegin]))
            ++nameBegin;
        line.Kind = TLineKind::Section;
        line.NameBegin = at(nameBegin);
        line.NameEnd = at(trimmedEnd(nameBegin, close));
    } else if (first < end && data[first] == ';') {
        line.Kind = TLineKind::Comment;
    } else {
        const char *eq = static_cast<const char *>(memchr(data + first, '=', size_t(end - first)));
        const qsizetype eqPos = eq ? eq - data : -1;
        const qsizetype nameEnd = eqPos < 0 ? first : trimmedEnd(first, eqPos);
        if (eqPos >= 0 && nameEnd > first) {
            line.Kind = TLineKind::Entry;
            line.NameBegin = at(first);
            line.NameEnd = at(nameEnd);
            qsizetype valueBegin = eqPos + 1;
            while (valueBegin < end && IsProfileBlank(data[valueBegin]))
                ++valueBegin;
            line.ValueBegin = at(valueBegin);
            line.ValueEnd = at(trimmedEnd(valueBegin, end));
        }
    }
    return line;
}

qsizetype TProfileDocument::ContentStart(QByteArrayView bytes)
{
    // A UTF-8 byte-order mark in front of the first line belongs to no line and stays where it is.
    return bytes.startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0;
}

void TProfileDocument::Parse()
{
    const char *data = FBytes.constData();
    const qsizetype size = FBytes.size();
    FLines.reserve(size_t(size / 24 + 1));
    qsizetype pos = ContentStart(FBytes);
    qsizetype currentSection = -1;
    while (pos < size) {
        const TLine line = ParseLine(data, pos, size);
        if (line.Kind == TLineKind::Section) {
            if (currentSection >= 0)
                FSections[size_t(currentSection)].EndLine = qsizetype(FLines.size());
            FSections.push_back({qsizetype(FLines.size()), qsizetype(FLines.size()) + 1});
            currentSection = qsizetype(FSections.size()) - 1;
            const QByteArray folded = FoldProfileName(LineName(line));
            if (!FSectionIndex.contains(folded))
                FSectionIndex.insert(folded, currentSection);
        }
        FLines.push_back(line);
        pos = line.Next;
    }
    if (currentSection >= 0)
        FSections[size_t(currentSection)].EndLine = qsizetype(FLines.size());
    FDeleted.assign(FLines.size(), false);
}

QByteArray TProfileDocument::LineName(const TLine &line) const
{
    return FBytes.mid(line.NameBegin, line.NameEnd - line.NameBegin);
}

qsizetype TProfileDocument::FindSection(const QByteArray &section) const
{
    return FSectionIndex.value(FoldProfileName(section), -1);
}

const TProfileDocument::TKeyIndex &TProfileDocument::KeyIndex(qsizetype sectionIndex) const
{
    auto it = FKeyIndex.find(sectionIndex);
    if (it != FKeyIndex.end())
        return it->second;
    if (FNextSame.empty())
        FNextSame.assign(FLines.size(), -1);
    TKeyIndex index;
    const TSection &s = FSections[size_t(sectionIndex)];
    index.Reserve(size_t(s.EndLine - s.HeaderLine));
    for (qsizetype i = s.HeaderLine + 1; i < s.EndLine; ++i) {
        const TLine &line = FLines[size_t(i)];
        if (line.Kind != TLineKind::Entry)
            continue;
        const std::string_view name(FBytes.constData() + line.NameBegin, size_t(line.NameEnd - line.NameBegin));
        bool inserted = false;
        const qsizetype first = index.Insert(FFolded.Key(name), i, inserted);
        if (inserted)
            continue;
        // A duplicate key: chain it after the last one of its name.
        qsizetype last = first;
        while (FNextSame[size_t(last)] >= 0)
            last = FNextSame[size_t(last)];
        FNextSame[size_t(last)] = std::int32_t(i); // lines of a file of at most 256 MiB
    }
    return FKeyIndex.emplace(sectionIndex, std::move(index)).first->second;
}

qsizetype TProfileDocument::FindEntry(qsizetype sectionIndex, const QByteArray &key) const
{
    if (sectionIndex < 0)
        return -1;
    const TKeyIndex &index = KeyIndex(sectionIndex);
    const TLookupKey lookup(ViewOf(key));
    // The first of duplicate keys wins; a deleted one lets the next take its place.
    for (qsizetype line = index.Find(lookup.View()); line >= 0; line = FNextSame[size_t(line)])
        if (!FDeleted[size_t(line)])
            return line;
    return -1;
}

qsizetype TProfileDocument::NextSameEntry(qsizetype line) const
{
    do
        line = FNextSame[size_t(line)];
    while (line >= 0 && FDeleted[size_t(line)]);
    return line;
}

qsizetype TProfileDocument::FindEntryExact(qsizetype sectionIndex, const QByteArray &key) const
{
    // Keys spelled alike but for letter case or normalization share one chain of the index.
    for (qsizetype line = FindEntry(sectionIndex, key); line >= 0; line = NextSameEntry(line))
        if (KeyView(line) == ViewOf(key))
            return line;
    return -1;
}

QByteArray TProfileDocument::Value(qsizetype lineIndex) const
{
    const TLine &line = FLines[size_t(lineIndex)];
    return FBytes.mid(line.ValueBegin, line.ValueEnd - line.ValueBegin);
}

std::vector<qsizetype> TProfileDocument::EntryLines(qsizetype sectionIndex) const
{
    std::vector<qsizetype> result;
    if (sectionIndex < 0)
        return result;
    const TSection &s = FSections[size_t(sectionIndex)];
    for (qsizetype i = s.HeaderLine + 1; i < s.EndLine; ++i)
        if (FLines[size_t(i)].Kind == TLineKind::Entry && !FDeleted[size_t(i)])
            result.push_back(i);
    return result;
}

bool TProfileDocument::MarkDeleted(const QByteArray &section, const QByteArray &key)
{
    return MarkLineDeleted(FindEntry(FindSection(section), key));
}

bool TProfileDocument::MarkDeletedExact(const QByteArray &section, const QByteArray &key)
{
    return MarkLineDeleted(FindEntryExact(FindSection(section), key));
}

bool TProfileDocument::MarkLineDeleted(qsizetype line)
{
    if (line < 0)
        return false;
    FDeleted[size_t(line)] = true;
    ++FDeletions;
    return true;
}

QByteArray TProfileDocument::WithoutRanges(const std::vector<std::pair<qsizetype, qsizetype>> &ranges) const
{
    QByteArray result;
    result.reserve(FBytes.size());
    qsizetype keepFrom = 0;
    for (const auto &[from, to] : ranges) {
        if (from > keepFrom) {
            result.append(FBytes.constData() + keepFrom, from - keepFrom);
            keepFrom = from;
        }
        // Two removed ranges in a row leave nothing between them to keep.
        keepFrom = std::max(keepFrom, to);
        // A lone CR ending the kept line would join the LF of an empty line that follows: the CR
        // becomes CR LF, so that empty line stays a line of its own.
        if (keepFrom < FBytes.size() && FBytes[keepFrom] == '\n' && result.endsWith('\r'))
            result += '\n';
    }
    result.append(FBytes.constData() + keepFrom, FBytes.size() - keepFrom);
    return result;
}

QByteArray TProfileDocument::BytesWithoutDeleted() const
{
    if (FDeletions == 0)
        return FBytes;
    std::vector<std::pair<qsizetype, qsizetype>> ranges;
    for (size_t i = 0; i < FLines.size(); ++i)
        if (FDeleted[i])
            ranges.emplace_back(FLines[i].Begin, FLines[i].Next);
    return WithoutRanges(ranges);
}

QByteArray TProfileDocument::LineBreak() const
{
    for (const TLine &line : FLines)
        if (line.Next > line.End)
            return FBytes.mid(line.End, line.Next - line.End);
    return QByteArrayLiteral("\r\n");
}

QByteArray TProfileDocument::WithString(const QByteArray &section, const QByteArray &key, const QByteArray &value,
                                        bool exactKey) const
{
    const QByteArray eol = LineBreak();
    const qsizetype s = FindSection(section);
    if (s < 0) {
        // A missing section goes to the end of the file.
        QByteArray result = FBytes;
        AppendSection(result, section, {{key, value}});
        return result;
    }
    const qsizetype entry = exactKey ? FindEntryExact(s, key) : FindEntry(s, key);
    if (entry >= 0) {
        // Replaced where it stands; the stored key keeps its letter case.
        const TLine &line = FLines[size_t(entry)];
        QByteArray result;
        result.reserve(FBytes.size() + value.size());
        result.append(FBytes.constData(), line.Begin);
        result += LineName(line) + '=' + value;
        result.append(FBytes.constData() + line.End, FBytes.size() - line.End);
        return result;
    }
    // A new key follows the section's last entry, before the comments and blank lines that end it.
    const TSection &sec = FSections[size_t(s)];
    qsizetype after = sec.HeaderLine;
    for (qsizetype i = sec.EndLine - 1; i > sec.HeaderLine; --i)
        if (FLines[size_t(i)].Kind == TLineKind::Entry && !FDeleted[size_t(i)]) {
            after = i;
            break;
        }
    const TLine &line = FLines[size_t(after)];
    QByteArray result;
    result.reserve(FBytes.size() + key.size() + value.size() + 4);
    result.append(FBytes.constData(), line.Next);
    if (line.Next == line.End)
        result += eol; // the last line of the file had no line end
    result += key + '=' + value;
    // A lone CR before an empty LF line would join that LF and swallow the empty line.
    if (eol == "\r" && line.Next < FBytes.size() && FBytes[line.Next] == '\n')
        result += "\r\n";
    else
        result += eol;
    result.append(FBytes.constData() + line.Next, FBytes.size() - line.Next);
    return result;
}

void TProfileDocument::AppendSection(QByteArray &bytes, const QByteArray &section,
                                     const std::vector<std::pair<QByteArray, QByteArray>> &entries) const
{
    const QByteArray eol = LineBreak();
    // After a line end if the last line lacks one (a byte-order mark alone is no line).
    if (!bytes.isEmpty() && !bytes.endsWith('\n') && !bytes.endsWith('\r') && bytes != kUtf8Bom)
        bytes += eol;
    bytes += '[' + section + ']' + eol;
    for (const auto &[key, value] : entries)
        bytes += key + '=' + value + eol;
}

QByteArray TProfileDocument::WithSectionReplaced(const QByteArray &section,
                                                 const std::vector<std::pair<QByteArray, QByteArray>> &entries) const
{
    QByteArray result = WithoutSection(section);
    AppendSection(result, section, entries);
    return result;
}

QByteArray TProfileDocument::WithoutSection(const QByteArray &section) const
{
    const QByteArray folded = FoldProfileName(section);
    std::vector<std::pair<qsizetype, qsizetype>> ranges;
    for (const TSection &s : FSections) {
        const TLine &header = FLines[size_t(s.HeaderLine)];
        // Every section of that name goes, so a later write cannot land in a forgotten duplicate.
        if (FoldProfileName(LineName(header)) == folded)
            ranges.emplace_back(header.Begin, FLines[size_t(s.EndLine - 1)].Next);
    }
    return WithoutRanges(ranges);
}

void TLineDeletionScan::AddKey(const QByteArray &section, const QByteArray &key)
{
    const QByteArray folded = FoldProfileName(section);
    auto it = std::find_if(FSections.begin(), FSections.end(),
                           [&](const TSectionKeys &s) { return s.Folded == folded; });
    if (it == FSections.end()) {
        FSections.emplace_back();
        FSections.back().Folded = folded;
        it = FSections.end() - 1;
    }
    it->Keys.push_back(key);
    bool inserted = false;
    const std::string_view view = ViewOf(it->Keys.back());
    it->GroupOf.push_back(it->Index.Insert(it->FoldedKeys.Key(view), qsizetype(it->GroupOf.size()), inserted));
}

void TLineDeletionScan::Feed(QByteArrayView piece)
{
    FCarry.append(piece);
    Process(false);
}

void TLineDeletionScan::Process(bool last)
{
    const char *data = FCarry.constData();
    const qsizetype size = FCarry.size();
    qsizetype pos = 0;
    if (!FStarted) {
        if (!last && size < kUtf8Bom.size())
            return; // too early to tell a byte-order mark
        pos = TProfileDocument::ContentStart(FCarry);
        FStarted = true;
        if (pos > 0)
            FLastByte = static_cast<unsigned char>(data[pos - 1]);
    }
    while (pos < size) {
        const TProfileDocument::TLine line = TProfileDocument::ParseLine(data, pos, size);
        // A line is taken once its end is known: a CR last in the piece may be followed by an LF.
        if (!last && (line.Next == line.End || (data[line.End] == '\r' && line.End + 1 == size)))
            break;
        Take(line, data);
        pos = line.Next;
    }
    FBase += pos;
    FCarry.remove(0, pos);
}

void TLineDeletionScan::Take(const TProfileDocument::TLine &line, const char *data)
{
    if (FPending >= 0) {
        FCandidates[size_t(FPending)].After = static_cast<unsigned char>(data[line.Begin]);
        FPending = -1;
    }
    const std::string_view name(data + line.NameBegin, size_t(line.NameEnd - line.NameBegin));
    if (line.Kind == TProfileDocument::TLineKind::Section) {
        // Only the first section of a name is the document's: keys in a repeated one stay.
        const QByteArray folded = FoldProfileName(QByteArray(name.data(), qsizetype(name.size())));
        FCurrent = -1;
        if (!FSeen.contains(folded)) {
            FSeen.insert(folded, true);
            for (size_t s = 0; s < FSections.size(); ++s)
                if (FSections[s].Folded == folded)
                    FCurrent = qsizetype(s);
        }
    } else if (line.Kind == TProfileDocument::TLineKind::Entry && FCurrent >= 0) {
        const TLookupKey lookup(name);
        const qsizetype group = FSections[size_t(FCurrent)].Index.Find(lookup.View());
        if (group >= 0) {
            FCandidates.push_back({FCurrent, group, FBase + line.Begin, FBase + line.Next,
                                   QByteArray(name.data(), qsizetype(name.size())), FLastByte, -1});
            FPending = qsizetype(FCandidates.size()) - 1;
        }
    }
    FLastByte = static_cast<unsigned char>(data[line.Next - 1]);
}

std::vector<TFileSplice> TLineDeletionScan::Finish()
{
    Process(true);
    // The keys in their order, each taking its exact line, else the first line of its fold.
    std::vector<bool> deleted(FCandidates.size());
    std::vector<std::vector<std::vector<size_t>>> byGroup(FSections.size()); // candidates, in file order
    for (size_t s = 0; s < FSections.size(); ++s)
        byGroup[s].resize(FSections[s].Keys.size());
    for (size_t c = 0; c < FCandidates.size(); ++c)
        byGroup[size_t(FCandidates[c].Section)][size_t(FCandidates[c].Group)].push_back(c);
    for (size_t s = 0; s < FSections.size(); ++s) {
        const TSectionKeys &section = FSections[s];
        for (size_t k = 0; k < section.Keys.size(); ++k) {
            qsizetype exact = -1, folded = -1;
            for (const size_t c : byGroup[s][size_t(section.GroupOf[k])]) {
                if (deleted[c])
                    continue;
                if (folded < 0)
                    folded = qsizetype(c);
                if (FCandidates[c].Key == section.Keys[k]) {
                    exact = qsizetype(c);
                    break;
                }
            }
            if (exact >= 0 || folded >= 0)
                deleted[size_t(exact >= 0 ? exact : folded)] = true;
        }
    }
    // As WithoutRanges joins what is kept.
    std::vector<TFileSplice> splices;
    qsizetype keepFrom = 0;
    int lastKept = -1; // the last byte of the new text so far, -1 while it is empty
    for (size_t c = 0; c < FCandidates.size(); ++c) {
        if (!deleted[c])
            continue;
        const TCandidate &candidate = FCandidates[c];
        if (candidate.Begin > keepFrom)
            lastKept = candidate.Before;
        keepFrom = std::max(keepFrom, candidate.Next);
        const bool lineFeed = candidate.After == '\n' && lastKept == '\r';
        if (lineFeed)
            lastKept = '\n';
        splices.push_back({candidate.Begin, candidate.Next, lineFeed ? QByteArrayLiteral("\n") : QByteArray()});
    }
    return splices;
}
