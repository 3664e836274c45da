// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

class QWidget;
class TStringGrid;

// What the entry actions need of the window that lists the folder.
class TEntryActionsHost {
public:
    virtual ~TEntryActionsHost() = default;
    // The listed folder with its trailing "/", empty before the first listing.
    virtual QByteArray ListedFolder() const = 0;
    virtual bool OpenFolder(const QByteArray &folder) = 0;
    // Lists the folder again, each table's cursor back on its name.
    virtual void ListAgain() = 0;
    // The parent of the boxes the actions show.
    virtual QWidget *BoxParent() = 0;
};

// The keyboard commands that act on the entry under a table's cursor: going into a folder and
// back out, deleting a folder tree or a file, opening a file.
class TEntryActions {
public:
    TEntryActions(TEntryActionsHost &host, TStringGrid *folders, TStringGrid *files);

    void FolderGoto();
    void FolderGoBack();
    // Asks first; the tree goes to the trash where the volume has one.
    void FolderDelete();
    void FileExec();
    // At once and for good, without a question.
    void FileDelete();

private:
    void PlaceCursorAfterDeletion(TStringGrid *grid, int row);

    TEntryActionsHost &FHost;
    TStringGrid *FFolders;
    TStringGrid *FFiles;
};
