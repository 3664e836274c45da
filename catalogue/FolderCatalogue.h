#pragma once

#include <QByteArray>

#include <vector>

// One listed entry: its name exactly as the directory enumeration returned it, and its stored
// description.
struct TCatalogueEntry {
    QByteArray Name;
    QByteArray Description;
};

struct TFolderCatalogue {
    QByteArray Folder;   // with its trailing "/"
    QByteArray DescPath; // Folder + "Folder.dnt"
    std::vector<TCatalogueEntry> Folders;
    std::vector<TCatalogueEntry> Files;
};

bool IsExistingFolder(const QByteArray &path);

// Subfolders and files of a folder in enumeration order: hidden entries included, "." and ".."
// skipped, names containing "=" skipped, the description file itself excluded from the files.
// A symbolic link counts as what it points to, a dangling one as a file. A folder that cannot be
// enumerated lists as empty.
void ScanFolder(const QByteArray &folder, TFolderCatalogue &catalogue);

// Scans the folder, looks up each entry's description and deletes the stored descriptions of
// entries that no longer exist (names compared without regard to letter case). The description
// file is not created here.
TFolderCatalogue ReadFolderCatalogue(const QByteArray &folder);
