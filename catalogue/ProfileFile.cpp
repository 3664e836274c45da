// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/ProfileFile.h"

#include "common/Exceptions.h"
#include "common/TextCodec.h"

#include <cerrno>
#include <cstring>

ProfileFile::ProfileFile(QByteArray path) : FPath(std::move(path))
{
}

ProfileFile::~ProfileFile()
{
    UpdateFile();
}

const TProfileDocument &ProfileFile::Document()
{
    const TFileStamp stamp = StampOf(FPath);
    if (!FDocument || !(stamp == FStamp)) {
        TFileStamp readStamp;
        int error = 0;
        const std::optional<QByteArray> bytes = ReadWholeFile(FPath, &readStamp, &error);
        // Too large to hold, or another user's link: refused rather than taken for an empty file
        // whose keys are gone.
        if (error == EFBIG || error == kErrorForeignLink || error == kErrorSharedHardLink)
            throw TException(QStringLiteral("Unable to read %1: %2").arg(DecodeName(FPath), FileErrorText(error)));
        FDocument.emplace(bytes ? *bytes : QByteArray());
        FStamp = bytes ? readStamp : TFileStamp();
        // Deletions not yet written still count for what this accessor reads.
        for (const auto &[section, key] : FPendingDeletes)
            FDocument->MarkDeleted(section, key);
    }
    return *FDocument;
}

QByteArray ProfileFile::ReadString(const QByteArray &section, const QByteArray &key)
{
    const TProfileDocument &doc = Document();
    return ValueOf(doc, doc.FindSection(section), key);
}

QByteArray ProfileFile::ValueOf(const TProfileDocument &doc, qsizetype sectionIndex, const QByteArray &key)
{
    const qsizetype line = doc.FindEntry(sectionIndex, key);
    return line < 0 ? QByteArray() : LineValue(doc, line);
}

QByteArray ProfileFile::LineValue(const TProfileDocument &doc, qsizetype line)
{
    const TProfileDocument::TLine &l = doc.Lines()[size_t(line)];
    return ValueAsRead({doc.Bytes().constData() + l.ValueBegin, size_t(l.ValueEnd - l.ValueBegin)});
}

QByteArray ProfileFile::ValueAsRead(std::string_view stored)
{
    QByteArray value(stored.data(), qsizetype(stored.size()));
    // A value read through a C string ends at its first NUL byte.
    if (const qsizetype nul = value.indexOf('\0'); nul >= 0)
        value.truncate(nul);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    // The read limit must not split a UTF-8 character: the rest would no longer read as UTF-8.
    return CutToWholeCharacters(value, MaxValueLength);
}

std::optional<std::string_view> ProfileFile::PlainValue(std::string_view stored)
{
    // What ValueAsRead would cut or unquote.
    if (stored.size() > size_t(MaxValueLength) || stored.find('\0') != std::string_view::npos
        || (stored.size() >= 2 && (stored.front() == '"' || stored.front() == '\'') && stored.back() == stored.front()))
        return std::nullopt;
    return stored;
}

QByteArray ProfileFile::EntryValue(qsizetype line) const
{
    return FDocument ? LineValue(*FDocument, line) : QByteArray();
}

TKeyGroups ProfileFile::KeyGroups(const QByteArray &section)
{
    const TProfileDocument *doc = &Document();
    const qsizetype sectionIndex = doc->FindSection(section);
    TKeyGroups groups;
    groups.Count = doc->Lines().size();
    groups.First = [doc, sectionIndex](std::string_view name) {
        return doc->FindEntry(sectionIndex, QByteArray::fromRawData(name.data(), qsizetype(name.size())));
    };
    groups.Next = [doc](qsizetype line) { return doc->NextSameEntry(line); };
    groups.Key = [doc](qsizetype line) { return doc->KeyView(line); };
    return groups;
}

void ProfileFile::ReadSection(const QByteArray &section, QList<QByteArray> &keys)
{
    const TProfileDocument &doc = Document();
    std::vector<std::string_view> names;
    for (const qsizetype line : doc.EntryLines(doc.FindSection(section)))
        names.push_back(doc.KeyView(line));
    keys = KeyList(names);
}

QList<QByteArray> ProfileFile::KeyList(const std::vector<std::string_view> &entryKeys)
{
    // Each name takes its length and a NUL, and the list ends with one more NUL. When that is too
    // long for the buffer, its first bytes less two are returned: the names beyond are not seen,
    // and the last one that starts inside it comes cut short. A name is read up to a NUL in it.
    auto nameOf = [](std::string_view key) { return key.substr(0, key.find('\0')); };
    qsizetype total = 1;
    for (const std::string_view key : entryKeys) {
        const std::string_view name = nameOf(key);
        if (!name.empty())
            total += qsizetype(name.size()) + 1;
        if (total > KeyListBuffer)
            break;
    }
    qsizetype room = total <= KeyListBuffer ? KeyListBuffer : KeyListBuffer - 2;
    QList<QByteArray> keys;
    for (const std::string_view key : entryKeys) {
        const std::string_view name = nameOf(key);
        if (name.empty())
            continue;
        if (qsizetype(name.size()) + 1 <= room) {
            room -= qsizetype(name.size()) + 1;
            keys.append(QByteArray(name.data(), qsizetype(name.size())));
            continue;
        }
        if (room > 0)
            keys.append(QByteArray(name.data(), room));
        break;
    }
    return keys;
}

QList<QByteArray> ProfileFile::ReadSection(const QByteArray &section)
{
    QList<QByteArray> keys;
    ReadSection(section, keys);
    return keys;
}

QList<QByteArray> ProfileFile::ReadSectionValues(const QByteArray &section)
{
    const TProfileDocument &doc = Document();
    QList<QByteArray> values;
    for (const qsizetype line : doc.EntryLines(doc.FindSection(section)))
        values.append(LineValue(doc, line));
    return values;
}

QString ProfileFile::UnsafeEntryReason(const QByteArray &section, const QByteArray &key, const QByteArray &value)
{
    auto hasBreak = [](const QByteArray &text) {
        return text.contains('\r') || text.contains('\n') || text.contains('\0');
    };
    auto edgeBlank = [](const QByteArray &text) { return IsProfileBlank(text.front()) || IsProfileBlank(text.back()); };
    if (section.isEmpty() || hasBreak(section) || section.contains(']') || edgeBlank(section))
        return QStringLiteral("\"%1\" cannot be a section name").arg(DecodeText(section));
    if (key.isEmpty() || hasBreak(key) || key.contains('=') || key.startsWith('[') || key.startsWith(';')
        || edgeBlank(key))
        return QStringLiteral("the name \"%1\" cannot be stored as a key (it contains \"=\" or a "
                              "line break, begins with \"[\" or \";\", or has leading or trailing "
                              "blanks)")
            .arg(DecodeText(key));
    if (hasBreak(value))
        return QStringLiteral("the text for \"%1\" contains a line break, which a description "
                              "cannot hold")
            .arg(DecodeText(key));
    // A read returns at most MaxValueLength bytes: a longer value would come back cut.
    if (value.size() > MaxValueLength)
        return QStringLiteral("the text for \"%1\" is %2 bytes long, more than the %3 bytes a description "
                              "can hold")
            .arg(DecodeText(key))
            .arg(value.size())
            .arg(MaxValueLength);
    return {};
}

void ProfileFile::RaiseWriteError(int error) const
{
    // Always with the reason: a read-only mount, a cache folder that cannot keep the old text and
    // a refused link look alike otherwise.
    throw TException(QStringLiteral("Unable to write to %1: %2").arg(DecodeName(FPath), FileErrorText(error)));
}

void ProfileFile::CheckEntry(const QByteArray &section, const QByteArray &key, const QByteArray &value) const
{
    if (const QString reason = UnsafeEntryReason(section, key, value); !reason.isEmpty())
        throw TException(QStringLiteral("Unable to write to %1: %2").arg(DecodeName(FPath), reason));
}

void ProfileFile::WriteThrough(const TFileEdit &edit)
{
    WriteThrough([&] { return ReplaceFileLocked(FPath, edit); });
}

void ProfileFile::WriteSplice(const TFileSpliceEdit &edit)
{
    WriteThrough([&] { return SpliceFileLocked(FPath, edit); });
}

void ProfileFile::WriteThrough(const std::function<int()> &replace)
{
    if (FPath.isEmpty())
        RaiseWriteError(ENOENT);
    UpdateFile(); // earlier deletions first, so the file sees the calls in order
    const int error = replace();
    FDocument.reset();
    if (error)
        RaiseWriteError(error);
}

void ProfileFile::WriteString(const QByteArray &section, const QByteArray &key, const QByteArray &value,
                              TKeyMatch match)
{
    CheckEntry(section, key, value);
    WriteThrough([&](const std::optional<QByteArray> &current) {
        return std::optional<QByteArray>(TProfileDocument(current.value_or(QByteArray()))
                                             .WithString(section, key, value, match == TKeyMatch::Exact));
    });
}

void ProfileFile::DeleteKey(const QByteArray &section, const QByteArray &key)
{
    Document();
    if (FDocument->MarkDeleted(section, key))
        FPendingDeletes.emplace_back(section, key);
}

void ProfileFile::EraseSection(const QByteArray &section)
{
    WriteThrough([&](const std::optional<QByteArray> &current) -> std::optional<QByteArray> {
        if (!current)
            return std::nullopt; // nothing to erase, and no file is created for it
        return TProfileDocument(*current).WithoutSection(section);
    });
}

void ProfileFile::ReplaceSection(const QByteArray &section,
                                 const std::vector<std::pair<QByteArray, QByteArray>> &entries)
{
    for (const auto &[key, value] : entries)
        CheckEntry(section, key, value);
    WriteThrough([&](const std::optional<QByteArray> &current) {
        return std::optional<QByteArray>(
            TProfileDocument(current.value_or(QByteArray())).WithSectionReplaced(section, entries));
    });
}

void ProfileFile::WriteStringWithDeletions(const QByteArray &section, const QByteArray &key, const QByteArray &value)
{
    CheckEntry(section, key, value);
    FPendingWrites.push_back({section, key, value});
}

void ProfileFile::UpdateFile()
{
    if ((FPendingDeletes.empty() && FPendingWrites.empty()) || FPath.isEmpty()) {
        FPendingDeletes.clear();
        FPendingWrites.clear();
        return;
    }
    const auto deletes = std::move(FPendingDeletes);
    const auto writes = std::move(FPendingWrites);
    FPendingDeletes.clear();
    FPendingWrites.clear();
    FDocument.reset(); // the file is read again below; two copies of a large one need not coexist
    // Applied to the file as it is now, so changes made by others meanwhile survive.
    (void)ReplaceFileLocked(FPath, [&](const std::optional<QByteArray> &current) -> std::optional<QByteArray> {
        if (!current)
            return std::nullopt;
        TProfileDocument doc(*current);
        for (const auto &[section, key] : deletes)
            doc.MarkDeleted(section, key);
        if (!doc.HasDeletions() && writes.empty())
            return std::nullopt;
        QByteArray bytes = doc.BytesWithoutDeleted();
        for (const TPendingWrite &write : writes)
            bytes = TProfileDocument(bytes).WithString(write.Section, write.Key, write.Value, true);
        return bytes;
    });
    FDocument.reset();
}
