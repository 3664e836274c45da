// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/CommentMirror.h"

#include "catalogue/FolderCatalogue.h"
#include "common/AtomicFile.h"
#include "common/Exceptions.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"
#include "exchange/Xattr.h"
#include "index/DescriptionIndex.h"
#include "settings/RegSpecial.h"
#include "settings/RegistryStore.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>

#include <sys/stat.h>

namespace {
const QString kMirrorCommentsName = QStringLiteral("MirrorComments");

using TExportedComment = TDescriptionIndex::TExportedComment;

// The folder as the index names it: its real absolute path with a trailing "/".
QByteArray RealFolder(const QByteArray &folder)
{
    char resolved[PATH_MAX];
    if (!::realpath(folder.constData(), resolved))
        return {};
    return IncludeTrailingPathDelimiter(QByteArray(resolved));
}

// A failure that skips the entry rather than being an error: false for any other.
bool CountSkip(TMirrorCounts &counts, int error)
{
    switch (error) {
    case ENOTSUP: ++counts.NoAttributes; return true;
    case EPERM:
    case EACCES:
    case EROFS: ++counts.NotAllowed; return true;
    }
    return false;
}

QString CommentError(const QByteArray &path, int error)
{
    return QStringLiteral("Unable to set the comment of %1: %2")
        .arg(DecodeName(path), QString::fromLocal8Bit(std::strerror(error)));
}

// Counts a failure: a skip by its reason, any other as an error naming the path.
void CountFailure(TMirrorCounts &counts, const QByteArray &path, int error)
{
    if (!CountSkip(counts, error))
        counts.Errors.append(CommentError(path, error));
}

using TRecordedComments = std::map<QByteArray, TExportedComment>;

// The comments DirNote wrote in the folder (its real path; none without one), by entry name.
TRecordedComments RecordedComments(TDescriptionIndex *index, const QByteArray &real)
{
    TRecordedComments recorded;
    if (!real.isEmpty())
        for (TExportedComment &comment : index->ExportedComments(real))
            recorded.emplace(comment.Name, std::move(comment));
    return recorded;
}

// What mirroring one entry means for the record of the comment DirNote wrote on it.
struct TEntryOutcome {
    enum { Untouched, Forget, Remember } Action = Untouched;
    TExportedComment Comment; // what to remember
};

// An entry whose description is empty: the comment DirNote wrote is removed, another program's left.
TEntryOutcome RemoveEntryComment(TMirrorCounts &counts, const QByteArray &path, bool hasComment, bool ours)
{
    if (hasComment && !ours) {
        counts.NotOurs.push_back(path);
    } else if (hasComment) {
        const int error = RemoveComment(path, TLinks::NoFollow);
        if (error && error != ENODATA) {
            CountFailure(counts, path, error);
            return {};
        }
        ++counts.Removed;
    }
    return {TEntryOutcome::Forget, {}};
}

// Makes the comment of folder + name say the description, unless another program's comment is there.
TEntryOutcome MirrorEntry(TMirrorCounts &counts, const QByteArray &folder, const QByteArray &name,
                          const QByteArray &description, const TExportedComment *record)
{
    const QByteArray path = folder + name;
    struct stat st;
    if (::lstat(path.constData(), &st) != 0) {
        CountFailure(counts, path, errno);
        return {};
    }
    // A link's target may be another user's file: the link takes no comment of its own.
    if (S_ISLNK(st.st_mode)) {
        ++counts.Links;
        return {};
    }
    int error = 0;
    const std::optional<QByteArray> current = ReadComment(path, &error, TLinks::NoFollow);
    if (error) {
        CountFailure(counts, path, error);
        return {};
    }
    const bool ours = current && record && record->Device == quint64(st.st_dev) && record->Inode == quint64(st.st_ino)
                      && record->Text == *current;
    // The attribute holds UTF-8: an old Windows-1252 description is converted.
    const QByteArray text = EncodeText(DecodeText(description));
    if (text.isEmpty())
        return RemoveEntryComment(counts, path, current.has_value(), ours);
    if (current && *current != text && !ours) {
        counts.NotOurs.push_back(path);
        return {TEntryOutcome::Forget, {}};
    }
    // A comment that already says the description is kept as it is, and from now on kept
    // equal to it.
    if (!current || *current != text) {
        error = WriteComment(path, text, TLinks::NoFollow);
        if (error) {
            CountFailure(counts, path, error);
            return {};
        }
        ++counts.Written;
    }
    return {TEntryOutcome::Remember, {name, quint64(st.st_dev), quint64(st.st_ino), text}};
}

// Stores what is now written in the folder, so that it alone is changed later.
void RememberComments(TDescriptionIndex &index, const QByteArray &real, const QByteArray &folder,
                      const TRecordedComments &recorded, TMirrorCounts &counts)
{
    std::vector<TExportedComment> kept;
    kept.reserve(recorded.size());
    for (const auto &[name, comment] : recorded)
        kept.push_back(comment);
    if (!index.SetExportedComments(real, kept))
        counts.Errors.append(QStringLiteral("The description index %1 cannot be used: the comments written in %2 "
                                            "are not remembered, and will not be changed again")
                                 .arg(index.Path(), DecodeName(folder)));
}
} // namespace

bool ReadMirrorComments()
{
    // A settings file that is there but cannot be read (a folder in its place, no permission)
    // would otherwise read as an empty one, and the setting as off.
    const QByteArray file = RegistryFilePath(HKEY_CURRENT_USER);
    int error = 0;
    if (!file.isEmpty() && !ReadWholeFile(file, nullptr, &error) && error != ENOENT)
        throw TException(
            QStringLiteral("The settings file %1 cannot be read: %2").arg(DecodeName(file), FileErrorText(error)));
    return ReadRegValue(HKEY_CURRENT_USER, RegProgramKey, kMirrorCommentsName, RegValue::FromBool(false)).AsBool();
}

bool MirrorCommentsOn()
{
    try {
        return ReadMirrorComments();
    } catch (const TException &) {
        // An unreadable settings file is reported where the window reads its other settings.
        return false;
    }
}

void SetMirrorComments(bool on)
{
    WriteRegValue(HKEY_CURRENT_USER, RegProgramKey, kMirrorCommentsName, RegValue::FromBool(on));
}

void TMirrorCounts::Add(const TMirrorCounts &other)
{
    Written += other.Written;
    Removed += other.Removed;
    NoAttributes += other.NoAttributes;
    NotAllowed += other.NotAllowed;
    Links += other.Links;
    NotOurs.insert(NotOurs.end(), other.NotOurs.begin(), other.NotOurs.end());
    Errors += other.Errors;
}

TCommentMirror::TCommentMirror(TDescriptionIndex *index) : FIndex(index)
{
}

void TCommentMirror::Entry(const QByteArray &folder, const QByteArray &name, const QByteArray &description)
{
    Mirror(folder, {{name, description}}, false);
}

void TCommentMirror::Entries(const QByteArray &folder,
                             const std::vector<std::pair<QByteArray, QByteArray>> &descriptions, bool listedWhole)
{
    Mirror(folder, descriptions, listedWhole);
}

void TCommentMirror::Folder(const TFolderCatalogue &catalogue)
{
    std::vector<std::pair<QByteArray, QByteArray>> descriptions;
    descriptions.reserve(catalogue.Folders.size() + catalogue.Files.size());
    for (const auto *entries : {&catalogue.Folders, &catalogue.Files})
        for (const TCatalogueEntry &entry : *entries)
            descriptions.emplace_back(entry.Name, entry.Description);
    Mirror(catalogue.Folder, descriptions, true);
}

void TCommentMirror::Mirror(const QByteArray &givenFolder,
                            const std::vector<std::pair<QByteArray, QByteArray>> &descriptions, bool wholeFolder)
{
    const QByteArray folder = IncludeTrailingPathDelimiter(givenFolder);
    const QByteArray real = FIndex && FIndex->IsUsable() ? RealFolder(folder) : QByteArray();
    TRecordedComments recorded = RecordedComments(FIndex, real);
    bool changed = false;
    for (const auto &[name, description] : descriptions) {
        const auto record = recorded.find(name);
        // Listing a whole folder, an undescribed entry is looked at only where DirNote wrote a
        // comment: the file manager's own comments are no business of a description.
        if (wholeFolder && description.isEmpty() && record == recorded.end())
            continue;
        const TExportedComment *known = record != recorded.end() ? &record->second : nullptr;
        TEntryOutcome outcome = MirrorEntry(FCounts, folder, name, description, known);
        if (outcome.Action == TEntryOutcome::Forget && record != recorded.end()) {
            recorded.erase(record);
            changed = true;
        } else if (outcome.Action == TEntryOutcome::Remember && !real.isEmpty()) {
            recorded[name] = std::move(outcome.Comment);
            changed = true;
        }
    }
    if (changed && !real.isEmpty())
        RememberComments(*FIndex, real, folder, recorded, FCounts);
}

QString MirrorSummary(const TMirrorCounts &counts)
{
    QString summary = QStringLiteral("comments: %1 written, %2 removed").arg(counts.Written).arg(counts.Removed);
    if (counts.Skipped() > 0) {
        QStringList reasons;
        if (counts.NoAttributes > 0)
            reasons << QStringLiteral("%1 on a file system without user attributes").arg(counts.NoAttributes);
        if (counts.NotAllowed > 0)
            reasons << QStringLiteral("%1 not allowed to change").arg(counts.NotAllowed);
        if (counts.Links > 0)
            reasons << (counts.Links == 1 ? QStringLiteral("1 symbolic link, not followed")
                                          : QStringLiteral("%1 symbolic links, not followed").arg(counts.Links));
        summary += QStringLiteral(", %1 skipped (%2)").arg(counts.Skipped()).arg(reasons.join(QStringLiteral(", ")));
    }
    if (!counts.NotOurs.empty())
        summary += QStringLiteral(", %1 left (written by another program)").arg(counts.NotOurs.size());
    return summary;
}

QString NotOursMessage(const QByteArray &path)
{
    return QStringLiteral("%1: its comment was written by another program; left as it is").arg(DecodeName(path));
}
