// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QJsonObject>
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
    bool Whole = true;                 // listed whole and its descriptions read: an entry left out has none
};

// The folder's descriptions and, when recursive, those of its subfolders (symbolic links to
// folders are not followed), each folder before its subfolders. Folders without text or
// descriptions are left out unless keepEmpty. Nothing is created or pruned. A folder that cannot
// be listed, or whose Folder.dnt cannot be read, is an error (each names its path); what was read
// is kept, and the walk goes on below it.
std::vector<TExportFolder> CollectDescriptions(const QByteArray &folder, bool recursive, QStringList &errors,
                                               bool keepEmpty = false);

struct TFolderCatalogue;
// The paths of a listing's subfolders that are folders themselves, not symbolic links to folders,
// so that a walk of a tree never loops.
std::vector<QByteArray> RealSubfolders(const TFolderCatalogue &catalogue);

// One section per folder: a heading, its text and a table of its entries.
QByteArray ExportMarkdown(const std::vector<TExportFolder> &folders);
// Columns Folder, Name, Type ("folder", "file" or "folder text"), Description; a folder's text
// is one row, its lines separated by line breaks inside the quoted field. Lines end in CR LF.
QByteArray ExportCsv(const std::vector<TExportFolder> &folders);
// {"folders": [{"folder", "text": [lines], "entries": [{"name", "type", "description"}]}]}; a
// folder path or name that is not UTF-8 has its bytes in "folder_base64" or "name_base64" too.
QByteArray ExportJson(const std::vector<TExportFolder> &folders);

// Puts a name of the file system into a JSON object: `field` holds the text it shows as, and a
// name that is not UTF-8 (which no JSON text can hold) also has its bytes, base64-encoded, in
// `field` + "_base64", so that a script gets back to the file.
void InsertJsonName(QJsonObject &object, const QString &field, const QByteArray &name);
