// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/RenameFollower.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>
#include <string_view>
#include <vector>

#include <dirent.h>

class ProfileFile;

// One listed entry: its name exactly as the directory enumeration returned it, and its stored
// description. A value longer than the read limit is held only by its beginning, and marked so.
struct TCatalogueEntry {
    QByteArray Name;
    QByteArray Description;
    bool DescriptionCut = false;
    bool DescriptionWasCut() const { return DescriptionCut; }
};

struct TFolderCatalogue {
    QByteArray Folder;   // with its trailing "/"
    QByteArray DescPath; // Folder + "Folder.dnt"
    std::vector<TCatalogueEntry> Folders;
    std::vector<TCatalogueEntry> Files;
    // Why the folder could not be listed, or listed only in part, or why its description file was
    // refused (another user's link); empty when it was listed whole.
    QString Error;
    // Why the listing's write of the description file failed ("Unable to write to ..."): then
    // nothing of it was done, and nothing is reported pruned or followed. Empty when it was
    // written or had nothing to write.
    QString WriteError;
    // Descriptions that followed their renamed entries, and those pruned (with their table).
    std::vector<TFollowedRename> Renamed;
    std::vector<TStaleKey> PrunedFolders, PrunedFiles;
    // Listed with a follower: the digest of each table's described entries (folders, files) after
    // the listing's write, by name and inode number (DescribedDigest).
    bool Digested = false;
    std::array<std::uint64_t, 2> DescribedDigests{};
};

bool IsExistingFolder(const QByteArray &path);

// Reads the next entry of an open folder: readdir, or a stand-in for tests. Like readdir it
// returns null with errno set on failure and with errno untouched at the end.
using TDirectoryReader = dirent *(*)(DIR *);

// The subfolders and files of a folder, sorted as the desktop's file managers show names (by the
// user's locale, letter case ignored, numbers in natural order: "file2" before "file10"), without
// their descriptions: hidden entries included, "." and ".." skipped, names containing "=" skipped,
// the description file itself and the hidden temporary files of its writer excluded from the
// files. A symbolic link counts as what it points to, a dangling one as a file. A folder that
// cannot be opened, or whose enumeration fails part-way, sets the catalogue's error ("Unable to
// list the folder ...") and keeps what was read.
void ListFolderEntries(const QByteArray &folder, TFolderCatalogue &catalogue, TDirectoryReader reader = ::readdir);

// How a folder is listed. A follower, when given, may first move descriptions to the entries that
// now hold the files they described (a stale key's to the entry it was renamed to, an entry's to
// the one it was swapped with).
enum class TStaleKeys { Prune, Keep };
// Runs the write it is given: a watcher of the folder tells its own changes from other programs'.
using TOwnWrite = std::function<void(const std::function<void()> &write)>;
struct TListingOptions {
    TDirectoryReader Reader = ::readdir;
    TRenameFollower *Follower = nullptr;
    // Keep: for readers that must not change the folder.
    TStaleKeys Stale = TStaleKeys::Prune;
    // When given, makes the listing's write of the description file (on the listing's thread).
    TOwnWrite OwnWrite = nullptr;
};

// Lists the folder's entries (as ListFolderEntries) with each entry's description, and writes the
// description file: deletes the stored descriptions that no entry claims, all by the name rule of
// FoldedName.h. After a listing that failed, nothing is deleted; with TStaleKeys::Keep nothing
// ever is. A write that fails sets WriteError and changes nothing: no key is then reported pruned
// and no description followed. The description file is not created here. The follower's moves are written and the
// old keys deleted in the same write as the pruning, made on the file as it is under the write's
// lock, where a stale key whose name has become an entry meanwhile is kept.
TFolderCatalogue ListAndPruneFolder(const QByteArray &folder, const TListingOptions &options = {});

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
