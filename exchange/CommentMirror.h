// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

class TDescriptionIndex;
struct TFolderCatalogue;

// The per-user setting "MirrorComments" beside the window's other settings: while it is on, every
// description written sets, changes or removes the comment attribute of its entry. Off when the
// value is missing or the settings file cannot be read.
bool MirrorCommentsOn();
// The same setting, but raises TException naming the settings file when it is there and cannot be
// read, for those who must tell that apart from off.
bool ReadMirrorComments();
// Stores the setting; raises TException when the settings file cannot be written.
void SetMirrorComments(bool on);

// What mirroring did. Skipped entries are counted by their reason; none of them is an error.
struct TMirrorCounts {
    int Written = 0;
    int Removed = 0;
    int NoAttributes = 0; // the file system keeps no user attributes
    int NotAllowed = 0;   // the user may not change the file, or the file system is read-only
    int Links = 0;        // a symbolic link: never followed to set a comment
    // Comments another program wrote (or changed since): left as they are.
    std::vector<QByteArray> NotOurs;
    // Other failures, each naming its path.
    QStringList Errors;

    int Skipped() const { return NoAttributes + NotAllowed + Links; }
    void Add(const TMirrorCounts &other);
};

// Keeps the comment attributes of entries equal to their descriptions. What was written is
// remembered in the per-user index, the same memory `dnt export --to xattr` keeps, so that only a
// comment that still holds the very text DirNote wrote, on the same file, is ever changed or
// removed; any other comment is another program's and is left.
class TCommentMirror {
public:
    // Without an index (or with one that cannot be used) nothing is remembered: a comment is then
    // only written where the entry has none.
    explicit TCommentMirror(TDescriptionIndex *index);

    // The description of `name` in `folder` (with its trailing "/") was written: an empty one
    // removes the comment.
    void Entry(const QByteArray &folder, const QByteArray &name, const QByteArray &description);
    // Several entries of one folder, each with its description now. listedWhole: they are every
    // entry of the folder, listed as the user sees them; an undescribed one is then looked at only
    // where DirNote wrote its comment.
    void Entries(const QByteArray &folder, const std::vector<std::pair<QByteArray, QByteArray>> &descriptions,
                 bool listedWhole = false);
    // Every entry of a folder listed whole (as Entries with listedWhole): a described one gets its
    // comment, an undescribed one loses the comment DirNote wrote for it.
    void Folder(const TFolderCatalogue &catalogue);

    const TMirrorCounts &Counts() const { return FCounts; }

private:
    void Mirror(const QByteArray &folder, const std::vector<std::pair<QByteArray, QByteArray>> &descriptions,
                bool wholeFolder);

    TDescriptionIndex *FIndex;
    TMirrorCounts FCounts;
};

// "3 comments written, 1 removed, 2 skipped (1 on a file system without user attributes, 1 not
// allowed)": the counts for a summary line; the reasons only where something was skipped.
QString MirrorSummary(const TMirrorCounts &counts);
// "its comment was written by another program: left as it is", for one path.
QString NotOursMessage(const QByteArray &path);
