// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>

#include "catalogue/FoldedName.h"
#include "common/AtomicFile.h"

#include <cstdint>
#include <deque>
#include <vector>

// The parsed view of one INI-style file. The bytes stay the source of truth: every edit splices
// the bytes and leaves every other byte (comments, blank lines, line ends, odd bytes) untouched.
class TProfileDocument {
public:
    enum class TLineKind : std::uint8_t { Other, Comment, Section, Entry };
    // Offsets into a file of at most 256 MiB; 32 bits each keep a line at 32 bytes, as a file of
    // a million descriptions has a million lines.
    struct TLine {
        std::int32_t Begin = 0;     // first byte of the line
        std::int32_t End = 0;       // end of the content, before the line end
        std::int32_t Next = 0;      // first byte of the next line
        std::int32_t NameBegin = 0; // section or key name, blanks trimmed
        std::int32_t NameEnd = 0;
        std::int32_t ValueBegin = 0; // entry value, blanks trimmed
        std::int32_t ValueEnd = 0;
        TLineKind Kind = TLineKind::Other;
    };
    struct TSection {
        qsizetype HeaderLine = -1;
        qsizetype EndLine = 0; // one past the section's last line
    };

    // The line that begins at pos of data[0, size): its kind and the offsets of its parts. A line
    // ends at LF, CR or CR LF; a CR that is the last byte of data may still be followed by an LF.
    static TLine ParseLine(const char *data, qsizetype pos, qsizetype size);
    // Where the first line of a file's bytes begins: after a UTF-8 byte-order mark.
    static qsizetype ContentStart(QByteArrayView bytes);

    TProfileDocument() = default;
    explicit TProfileDocument(QByteArray bytes);

    const QByteArray &Bytes() const { return FBytes; }
    const std::vector<TLine> &Lines() const { return FLines; }
    QByteArray LineName(const TLine &line) const;

    // The first section of that name (letter case ignored), -1 when absent.
    qsizetype FindSection(const QByteArray &section) const;
    // The first live entry of that key in the section, -1 when absent.
    qsizetype FindEntry(qsizetype sectionIndex, const QByteArray &key) const;
    // The next live entry after this one whose key folds alike, -1 when none.
    qsizetype NextSameEntry(qsizetype line) const;
    std::string_view KeyView(qsizetype line) const
    {
        const TLine &l = FLines[size_t(line)];
        return {FBytes.constData() + l.NameBegin, size_t(l.NameEnd - l.NameBegin)};
    }
    // The first live entry whose key equals the key byte for byte, -1 when absent.
    qsizetype FindEntryExact(qsizetype sectionIndex, const QByteArray &key) const;
    const TSection &Section(qsizetype index) const { return FSections[size_t(index)]; }

    QByteArray Value(qsizetype lineIndex) const;
    // Live entry keys of the section in file order.
    std::vector<qsizetype> EntryLines(qsizetype sectionIndex) const;

    // Marks the first live entry of the key deleted; false when there was none.
    bool MarkDeleted(const QByteArray &section, const QByteArray &key);
    // The same for the first live entry whose key equals the key byte for byte.
    bool MarkDeletedExact(const QByteArray &section, const QByteArray &key);
    bool HasDeletions() const { return FDeletions > 0; }
    bool IsDeleted(qsizetype line) const { return FDeleted[size_t(line)]; }
    // The bytes without the deleted lines.
    QByteArray BytesWithoutDeleted() const;

    // Edits that return the new bytes of the whole file.
    // exactKey: only a key equal byte for byte is replaced; otherwise the key is added.
    QByteArray WithString(const QByteArray &section, const QByteArray &key, const QByteArray &value,
                          bool exactKey = false) const;
    QByteArray WithoutSection(const QByteArray &section) const;
    // Every section of that name removed, then the section with these entries at the end.
    QByteArray WithSectionReplaced(const QByteArray &section,
                                   const std::vector<std::pair<QByteArray, QByteArray>> &entries) const;

    // The line end new lines get: the file's own first one, else CR LF.
    QByteArray LineBreak() const;

private:
    bool MarkLineDeleted(qsizetype line);
    void Parse();
    // The bytes without these [from, to) ranges (in file order), line structure kept.
    QByteArray WithoutRanges(const std::vector<std::pair<qsizetype, qsizetype>> &ranges) const;
    void AppendSection(QByteArray &bytes, const QByteArray &section,
                       const std::vector<std::pair<QByteArray, QByteArray>> &entries) const;
    // Per section: key -> its first entry line; later entries of the same key (hand-edited
    // duplicates) follow through FNextSame.
    using TKeyIndex = TNameIndex;
    const TKeyIndex &KeyIndex(qsizetype sectionIndex) const;

    QByteArray FBytes;
    std::vector<TLine> FLines;
    std::vector<TSection> FSections;
    QHash<QByteArray, qsizetype> FSectionIndex;                 // folded name -> first section
    mutable std::unordered_map<qsizetype, TKeyIndex> FKeyIndex; // built on first lookup
    // Kept apart from the lines, and small, as every look-up reads them: they stay in the cache
    // where the lines of a large file do not.
    mutable std::vector<std::int32_t> FNextSame;
    std::vector<bool> FDeleted;
    mutable TFoldedNames FFolded;
    qsizetype FDeletions = 0;
};

// The lines that a document's deletions of keys would take out (each key as MarkDeletedExact,
// else as MarkDeleted, in the order given), found in one pass over the bytes handed in pieces of
// any size: only the lines whose keys fold like one of those keys are kept, so a large file is
// never held whole. The splices make the same bytes as BytesWithoutDeleted of such a document.
class TLineDeletionScan {
public:
    void AddKey(const QByteArray &section, const QByteArray &key);
    void Feed(QByteArrayView piece);
    // After the last piece: the lines to take out in file order, each replaced by nothing, or by
    // an LF where a lone CR before it would otherwise join the LF of an empty line after it.
    std::vector<TFileSplice> Finish();

private:
    struct TSectionKeys {
        QByteArray Folded;
        std::deque<QByteArray> Keys; // in the order of deletion
        std::vector<qsizetype> GroupOf;
        TFoldedNames FoldedKeys;
        TNameIndex Index; // fold -> group
    };
    struct TCandidate {
        qsizetype Section = 0, Group = 0;
        qsizetype Begin = 0, Next = 0;
        QByteArray Key;
        int Before = -1, After = -1; // the bytes around the line, -1 at the file's ends
    };
    void Process(bool last);
    void Take(const TProfileDocument::TLine &line, const char *data);

    std::deque<TSectionKeys> FSections;
    QHash<QByteArray, bool> FSeen; // folded section names met so far
    qsizetype FCurrent = -1;       // the section of FSections whose first occurrence is being read
    std::vector<TCandidate> FCandidates;
    qsizetype FPending = -1; // the candidate whose following byte is not read yet
    QByteArray FCarry;       // the bytes from the start of a line not yet complete
    qsizetype FBase = 0;     // the offset of FCarry's first byte in the file
    bool FStarted = false;
    int FLastByte = -1;
};

// Section and key names match without regard to letter case, non-ASCII letters included
// (FoldProfileName, FoldedName.h).
// Inline: every line of a large file passes here on each commit.
inline bool IsProfileBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v';
}
