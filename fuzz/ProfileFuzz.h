// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The operation sequences shared by the two Folder.dnt targets: the in-memory document and the
// accessor that writes a real file. The input is a file's bytes and then a list of operations;
// after every write the file must differ from what it was only where the operation says, and
// what was written must read back.

#include "FuzzSupport.h"

#include "catalogue/ProfileDocument.h"
#include "catalogue/ProfileFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QList>

#include <vector>

class TProfileBackend {
public:
    virtual ~TProfileBackend() = default;
    virtual QByteArray Bytes() = 0;
    // False when the backend refused the entry as one the file cannot hold (then nothing changed).
    virtual bool Write(const QByteArray &section, const QByteArray &key, const QByteArray &value) = 0;
    virtual void Delete(const QByteArray &section, const QByteArray &key) = 0;
    virtual void Erase(const QByteArray &section) = 0;
    virtual QByteArray Read(const QByteArray &section, const QByteArray &key) = 0;
    // What a read returns for a value written as `written`.
    virtual QByteArray ReadBack(const QByteArray &written) const = 0;
    // Called after every operation, for checks of the backend's own.
    virtual void AfterOperation() {}
};

// The value the document gives for a written one: blanks at either end are not part of it.
inline QByteArray TrimProfileBlanks(const QByteArray &value)
{
    qsizetype begin = 0, end = value.size();
    while (begin < end && IsProfileBlank(value[begin]))
        ++begin;
    while (end > begin && IsProfileBlank(value[end - 1]))
        --end;
    return value.mid(begin, end - begin);
}

namespace ProfileFuzz {

// Names that catch letter case, the Windows-1252 fallback, the characters the format gives a
// meaning, and those already in the file.
inline QByteArray PickName(FuzzedDataProvider &input, const TProfileDocument &doc)
{
    static const char *const kNames[] = {"Files",    "FILES", "Folders", "folders",  "a",  "A",   "x y", "\xC3\xA4",
                                         "\xC3\x84", "\xC4",  "\xE4",    "\xC3\x9F", "ss", "k=v", "[k",  ";k",
                                         " k",       "k ",    "\"q\"",   "a]b",      "",   "\xFF"};
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0: return kNames[input.ConsumeIntegralInRange<size_t>(0, std::size(kNames) - 1)];
    case 1: {
        const auto &lines = doc.Lines();
        if (lines.empty())
            return "Files";
        const auto &line = lines[input.ConsumeIntegralInRange<size_t>(0, lines.size() - 1)];
        return doc.LineName(line);
    }
    default: return Bytes(input.ConsumeRandomLengthString(24));
    }
}

inline QByteArray PickValue(FuzzedDataProvider &input)
{
    switch (input.ConsumeIntegralInRange(0, 7)) {
    case 0: return {};
    case 1: return QByteArray(input.ConsumeIntegralInRange(2040, 2060), 'v');
    case 2: return "\"" + Bytes(input.ConsumeRandomLengthString(16)) + "\"";
    default: return Bytes(input.ConsumeRandomLengthString(64));
    }
}

// The file without the lines marked in `removed`, as the document removes lines: a byte-order
// mark in front and every kept line stay byte for byte, but for one change. A kept line ending in
// a lone CR that comes to stand before an empty LF line ends in CR LF, so that the empty line
// stays a line of its own rather than joining the CR into one line end.
inline QByteArray WithoutLines(const TProfileDocument &doc, const std::vector<bool> &removed)
{
    const QByteArray &bytes = doc.Bytes();
    const auto &lines = doc.Lines();
    QByteArray kept = bytes.left(lines.empty() ? bytes.size() : lines.front().Begin);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (removed[i])
            continue;
        const auto &line = lines[i];
        if (kept.endsWith('\r') && bytes[line.Begin] == '\n')
            kept += '\n';
        kept += bytes.mid(line.Begin, line.Next - line.Begin);
    }
    return kept;
}

// The file without its sections of that name: each header up to the next header.
inline QByteArray WithoutSectionLines(const TProfileDocument &doc, const QByteArray &section)
{
    const QByteArray folded = FoldProfileName(section);
    std::vector<bool> removed;
    bool inside = false;
    for (const auto &line : doc.Lines()) {
        if (line.Kind == TProfileDocument::TLineKind::Section)
            inside = FoldProfileName(doc.LineName(line)) == folded;
        removed.push_back(inside);
    }
    return WithoutLines(doc, removed);
}

inline void CheckWrite(const QByteArray &before, const QByteArray &after, const QByteArray &section,
                       const QByteArray &key, const QByteArray &value)
{
    const TProfileDocument old(before);
    const qsizetype entry = old.FindEntry(old.FindSection(section), key);
    if (entry >= 0) {
        // Only the entry's own line changed, and it kept its line end.
        const auto &line = old.Lines()[size_t(entry)];
        const QByteArray head = before.left(line.Begin), tail = before.mid(line.End);
        Require(after.startsWith(head) && after.endsWith(tail) && after.size() >= head.size() + tail.size(),
                "a rewritten entry changed bytes outside its line", before, after);
        const QByteArray middle = after.mid(head.size(), after.size() - head.size() - tail.size());
        Require(middle == old.LineName(line) + '=' + value, "the rewritten line is not name=value");
    } else {
        // A new entry (and maybe its section) is inserted as a whole: every old byte in order.
        qsizetype first = 0, last = 0;
        Require(after.size() > before.size() && IsOneInsertion(before, after, &first, &last),
                "a new entry changed bytes of the file", before, after);
        bool found = false;
        for (qsizetype at = first; at <= last && !found; ++at)
            found = after.mid(at, after.size() - before.size()).contains(key + '=' + value);
        Require(found, "the new entry's line is not name=value", before, after);
    }
}

inline void CheckDelete(const QByteArray &before, const QByteArray &after, const QByteArray &section,
                        const QByteArray &key)
{
    const TProfileDocument old(before);
    const qsizetype entry = old.FindEntry(old.FindSection(section), key);
    if (entry < 0) {
        Require(after == before, "deleting an absent key changed the file");
        return;
    }
    std::vector<bool> removed(old.Lines().size());
    removed[size_t(entry)] = true;
    Require(after == WithoutLines(old, removed), "deleting a key removed more or less than its line", before, after);
}

inline void Run(FuzzedDataProvider &input, TProfileBackend &backend)
{
    for (int step = 0; step < 24 && input.remaining_bytes() > 0; ++step) {
        const QByteArray before = backend.Bytes();
        const TProfileDocument doc(before);
        const QByteArray section = PickName(input, doc);
        const QByteArray key = PickName(input, doc);
        switch (input.ConsumeIntegralInRange(0, 5)) {
        case 0:
        case 1:
        case 2: {
            const QByteArray value = PickValue(input);
            if (!backend.Write(section, key, value)) {
                Require(backend.Bytes() == before, "a refused write changed the file");
                break;
            }
            const QByteArray after = backend.Bytes();
            CheckWrite(before, after, section, key, value);
            Require(backend.Read(section, key) == backend.ReadBack(value), "a written value does not read back");
            break;
        }
        case 3:
        case 4:
            backend.Delete(section, key);
            CheckDelete(before, backend.Bytes(), section, key);
            break;
        case 5:
            backend.Erase(section);
            Require(backend.Bytes() == WithoutSectionLines(doc, section),
                    "erasing a section removed other lines or left some of it", before, backend.Bytes());
            Require(backend.Read(section, key).isEmpty(), "an erased section still reads");
            break;
        }
        backend.AfterOperation();
    }
}

} // namespace ProfileFuzz
