// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/AtomicFile.h"
#include "catalogue/ProfileDocument.h"

#include <QByteArray>
#include <QList>

#include <string_view>
#include <optional>
#include <vector>

// Accessor of one description file by path: the reads and writes of an INI-style profile.
//
// Reads never fail but for a file larger than 256 MiB or one refused as another user's link or
// hard link ("Unable to read <path>: <reason>"): an absent or unreadable file, anything but a
// regular file, a missing section or key reads as empty.
// WriteString and EraseSection write through and raise "Unable to write to <path>: <reason>" when
// the file cannot be written. Deletions are
// collected and written once by UpdateFile or on release; their failure is ignored. Within one
// accessor's life the parsed file is kept while its size, time and inode stay the same.
class ProfileFile {
public:
    static constexpr qsizetype MaxValueLength = 2047; // bytes a read returns at most
    static constexpr qsizetype KeyListBuffer = 16384; // bytes of a section's key list

    explicit ProfileFile(QByteArray path);
    ~ProfileFile();
    ProfileFile(const ProfileFile &) = delete;
    ProfileFile &operator=(const ProfileFile &) = delete;

    const QByteArray &Path() const { return FPath; }

    QByteArray ReadString(const QByteArray &section, const QByteArray &key);
    // Empties the list, then fills it with the section's keys in file order.
    void ReadSection(const QByteArray &section, QList<QByteArray> &keys);
    QList<QByteArray> ReadSection(const QByteArray &section);
    // The values of all the section's entries in file order, each read as ReadString reads it
    // (a duplicate key gives its own value), without the key list's limit.
    QList<QByteArray> ReadSectionValues(const QByteArray &section);

    // The section's live keys grouped by fold through the index of the file as read now, for
    // callers that match keys by a rule of their own; keys are numbered by line. Valid until the
    // next call on this accessor other than EntryValue.
    TKeyGroups KeyGroups(const QByteArray &section);
    // The value of a line given by KeyGroups, as ReadString returns it.
    QByteArray EntryValue(qsizetype line) const;
    // IgnoreCase replaces the value of a key equal without regard to letter case, as the profile
    // functions do; Exact only that of a key equal byte for byte, else the key is added.
    enum class TKeyMatch { IgnoreCase, Exact };
    void WriteString(const QByteArray &section, const QByteArray &key, const QByteArray &value,
                     TKeyMatch match = TKeyMatch::IgnoreCase);
    void DeleteKey(const QByteArray &section, const QByteArray &key);
    // Like WriteString with Exact, but collected with the deletions and written in their one
    // write (a renamed key: the new key and the old key's removal land together or not at all).
    // Raises only for an entry that cannot be stored.
    void WriteStringWithDeletions(const QByteArray &section, const QByteArray &key, const QByteArray &value);
    void EraseSection(const QByteArray &section);
    // EraseSection followed by WriteString for each entry, as one write: the file holds the old
    // section or the new one, never a part of it. Raises like WriteString.
    void ReplaceSection(const QByteArray &section, const std::vector<std::pair<QByteArray, QByteArray>> &entries);
    void UpdateFile();
    // One locked edit of the file as a splice of its bytes as they are then, after the pending
    // deletions; raises like WriteString when the file cannot be written.
    void WriteSplice(const TFileSpliceEdit &edit);

    // The value of an entry line of a parsed file, as ReadString returns it.
    static QByteArray LineValue(const TProfileDocument &doc, qsizetype line);
    // The same for an entry's value as it stands in the file, blanks trimmed.
    static QByteArray ValueAsRead(std::string_view stored);
    // The stored value itself where ValueAsRead returns it unchanged (the usual case), else nullopt.
    static std::optional<std::string_view> PlainValue(std::string_view stored);
    // The key list ReadSection returns for a section whose live entries have these keys, in file
    // order (as many as the list can take, and one more, suffice).
    static QList<QByteArray> KeyList(const std::vector<std::string_view> &entryKeys);

    // Why a section, key or value cannot be stored so that it reads back the same; empty when it can.
    static QString UnsafeEntryReason(const QByteArray &section, const QByteArray &key, const QByteArray &value);

private:
    const TProfileDocument &Document();
    static QByteArray ValueOf(const TProfileDocument &doc, qsizetype sectionIndex, const QByteArray &key);
    void CheckEntry(const QByteArray &section, const QByteArray &key, const QByteArray &value) const;
    [[noreturn]] void RaiseWriteError(int error) const;
    // One locked replacement of the file after the pending deletions; raises when it fails.
    void WriteThrough(const TFileEdit &edit);
    void WriteThrough(const std::function<int()> &replace);

    QByteArray FPath;
    std::optional<TProfileDocument> FDocument;
    TFileStamp FStamp;
    std::vector<std::pair<QByteArray, QByteArray>> FPendingDeletes;
    struct TPendingWrite {
        QByteArray Section, Key, Value;
    };
    std::vector<TPendingWrite> FPendingWrites;
};
