#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <vector>

// Descriptions of one folder or a tree, for other tools: Markdown, CSV (RFC 4180) and JSON.

struct TExportEntry {
    QByteArray Name;
    bool IsFolder = false;
    QByteArray Description;
};

struct TExportFolder {
    QByteArray Path;                   // as given, with its trailing "/"; subfolders below it
    QByteArray DescPath;               // its Folder.dnt
    QList<QByteArray> Text;            // the folder's own text, line by line
    std::vector<TExportEntry> Entries; // the described entries, as the window sorts them
};

// The folder's descriptions and, when recursive, those of its subfolders (symbolic links to
// folders are not followed), each folder before its subfolders. Folders without text or
// descriptions are left out. Nothing is created or pruned. A folder that cannot be listed is an
// error; what was read is kept.
std::vector<TExportFolder> CollectDescriptions(const QByteArray &folder, bool recursive, QStringList &errors);

struct TFolderCatalogue;
// The paths of a listing's subfolders that are folders themselves, not symbolic links to folders,
// so that a walk of a tree never loops.
std::vector<QByteArray> RealSubfolders(const TFolderCatalogue &catalogue);

// One section per folder: a heading, its text and a table of its entries.
QByteArray ExportMarkdown(const std::vector<TExportFolder> &folders);
// Columns Folder, Name, Type ("folder", "file" or "folder text"), Description; a folder's text
// is one row, its lines separated by line breaks inside the quoted field. Lines end in CR LF.
QByteArray ExportCsv(const std::vector<TExportFolder> &folders);
// {"folders": [{"folder", "text": [lines], "entries": [{"name", "type", "description"}]}]}
QByteArray ExportJson(const std::vector<TExportFolder> &folders);
