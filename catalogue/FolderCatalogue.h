// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/RenameFollower.h"
#include "catalogue/TextWidth.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>
#include <string_view>
#include <vector>

#include <dirent.h>

class ProfileFile;

// One listed entry: its name exactly as the directory enumeration returned it, and its stored
// description; with the estimated widths of both when the listing was given a font's advances
// (EstimatedAsciiWidth; -1 when not estimated).
struct TCatalogueEntry {
    QByteArray Name;
    QByteArray Description;
    std::int32_t NameWidth = -1;
    // Negative: left for the window to measure. kCutDescription is such a width that also says
    // the stored value was longer than the read limit, so Description holds only its beginning
    // (a flag that costs the row no memory: such a value is never estimated by the listing).
    std::int32_t DescriptionWidth = -1;
    static constexpr std::int32_t kCutDescription = -2;
    bool DescriptionWasCut() const { return DescriptionWidth == kCutDescription; }
};

struct TFolderCatalogue {
    QByteArray Folder;   // with its trailing "/"
    QByteArray DescPath; // Folder + "Folder.dnt"
    std::vector<TCatalogueEntry> Folders;
    std::vector<TCatalogueEntry> Files;
    // Why the folder could not be listed, or listed only in part, or why its description file was
    // refused (another user's link); empty when it was listed whole.
    QString Error;
    // Descriptions that followed their renamed entries, and those pruned (with their table).
    std::vector<TFollowedRename> Renamed;
    std::vector<TStaleKey> PrunedFolders, PrunedFiles;
    // Listed with a follower: the digest of each table's described entries (folders, files) after
    // the listing's write, by name and inode number (DescribedDigest).
    bool Digested = false;
    std::array<std::uint64_t, 2> DescribedDigests{};
    // Given a font's advances: for each table (folders, files) and column (name, description),
    // the rows that could hold its widest text, found by the listing's threads.
    bool WidthsRanked = false;
    std::array<std::array<TWidthCandidates, 2>, 2> Widest;
};

bool IsExistingFolder(const QByteArray &path);

// Reads the next entry of an open folder: readdir, or a stand-in for tests. Like readdir it
// returns null with errno set on failure and with errno untouched at the end.
using TDirectoryReader = dirent *(*)(DIR *);

// Subfolders and files of a folder in enumeration order: hidden entries included, "." and ".."
// skipped, names containing "=" skipped, the description file itself and the hidden temporary
// files of its writer excluded from the files. A symbolic link counts as what it points to, a
// dangling one as a file. A folder that cannot be opened, or whose enumeration fails part-way,
// sets the catalogue's error ("Unable to list the folder ...") and keeps what was read.
void ScanFolder(const QByteArray &folder, TFolderCatalogue &catalogue, TDirectoryReader reader = ::readdir);

// Scans the folder, sorts the rows as the desktop's file managers show names (by the user's
// locale, letter case ignored, numbers in natural order: "file2" before "file10"), looks up each entry's description
// and deletes the stored descriptions that no entry claims, all by the name rule of FoldedName.h. After a listing that
// failed, nothing is deleted; with TStaleKeys::Keep (readers that must not change the folder),
// nothing ever is. The description file is not created here. A follower, when given, may first
// move descriptions to the entries that now hold the files they described (a stale key's to the
// entry it was renamed to, an entry's to the one it was swapped with): the new keys are written
// and the old ones deleted in the same write as the pruning, made on the file as it is under the
// write's lock, where a stale key whose name has become an entry meanwhile is kept. Given a
// font's advances, the widths of names and descriptions are estimated on the way.
enum class TStaleKeys { Prune, Keep };
TFolderCatalogue ReadFolderCatalogue(const QByteArray &folder, TDirectoryReader reader = ::readdir,
                                     TRenameFollower *follower = nullptr, TStaleKeys stale = TStaleKeys::Prune,
                                     const TAdvanceTable *advances = nullptr);

// The rows of `entries` that could hold the widest name (or description), by the widths the
// listing estimated.
TWidthCandidates WidthCandidates(const std::vector<TCatalogueEntry> &entries, bool descriptions);

// The names of a table's entries as views, in row order, as TNameRule takes them.
std::vector<std::string_view> NameViews(const std::vector<TCatalogueEntry> &entries);

// The key under which a description of the entry `name` is written, by the name rule: the
// stored key that describes it, else the name itself. `names` are all entries of its table.
QByteArray DescriptionKey(ProfileFile &profile, const char *section, const QByteArray &name,
                          const std::vector<QByteArray> &names);
// Writes the description of the entry `name` under that key, chosen on the file as it is under
// the write's lock; returns the key written. Raises the accessor's write error.
QByteArray WriteDescription(ProfileFile &profile, const char *section, const QByteArray &name,
                            const std::vector<QByteArray> &names, const QByteArray &value);
// The same with the table's names given on demand: they are asked for only when the file holds
// keys that fold like the name and none spelled as it.
using TTableNames = std::function<std::vector<QByteArray>()>;
QByteArray WriteDescription(ProfileFile &profile, const char *section, const QByteArray &name, const TTableNames &names,
                            const QByteArray &value);
