// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/EntryActions.h"

#include "catalogue/FolderCatalogue.h"
#include "common/MessageDlg.h"
#include "common/PathUtils.h"
#include "system/QorUtility.h"
#include "ui/Main.h"
#include "ui/StringGrid.h"

#include <sys/stat.h>

namespace {
// A file as the file table lists it: anything but a folder, a dangling link included.
bool IsListedFile(const QByteArray &path)
{
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0)
        return false;
    return ::stat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode);
}
} // namespace

TEntryActions::TEntryActions(TEntryActionsHost &host, TStringGrid *folders, TStringGrid *files)
    : FHost(host), FFolders(folders), FFiles(files)
{
}

void TEntryActions::FolderGoto()
{
    const QByteArray name = FFolders->GridModel()->Name(FFolders->Row());
    if (!name.isEmpty())
        FHost.OpenFolder(FHost.ListedFolder() + name + '/');
}

void TEntryActions::FolderGoBack()
{
    const QByteArray parent = ParentFolderPath(FHost.ListedFolder());
    if (!parent.isEmpty())
        FHost.OpenFolder(parent);
}

void TEntryActions::PlaceCursorAfterDeletion(TStringGrid *grid, int row)
{
    // The entry that followed the deleted one, or the new last entry.
    if (grid->isEnabled())
        grid->setFocus();
    const int count = grid->GridModel()->rowCount();
    grid->SetCurrentCell(grid->Col(), row < count ? row : count - 1);
}

void TEntryActions::FolderDelete()
{
    const QByteArray name = FFolders->GridModel()->Name(FFolders->Row());
    const QByteArray folder = FHost.ListedFolder() + name + '/';
    if (name.isEmpty() || !IsExistingFolder(folder))
        return;
    if (MessageDlg(QStringLiteral("Are you absolutely sure that you permanently want to remove the selected "
                                  "folder and it's subfolders ?"),
                   TMsgDlgType::mtConfirmation, mbYes | mbNo, FHost.BoxParent())
        != mrYes)
        return;
    if (!DeleteFolderTree(folder, false)) {
        MessageDlg(QStringLiteral("Unable to delete the selected folder and it's subfolders !"), TMsgDlgType::mtError,
                   mbAbort, FHost.BoxParent());
        return;
    }
    const int row = FFolders->Row();
    FHost.ListAgain();
    PlaceCursorAfterDeletion(FFolders, row);
}

void TEntryActions::FileExec()
{
    const QByteArray name = FFiles->GridModel()->Name(FFiles->Row());
    const QByteArray file = FHost.ListedFolder() + name;
    if (name.isEmpty() || !IsListedFile(file))
        return;
    // The opened program runs on its own; neither its result nor its process is looked at.
    TProcessHandle process = 0;
    ExecuteFile(file, {}, {}, false, process, SW_SHOWNORMAL, false);
}

void TEntryActions::FileDelete()
{
    const int row = FFiles->Row();
    const QByteArray name = FFiles->GridModel()->Name(row);
    const QByteArray file = FHost.ListedFolder() + name;
    if (name.isEmpty() || !IsListedFile(file))
        return;
    if (!DeleteFile(file)) {
        MessageDlg(QStringLiteral("Unable to delete the selected file !"), TMsgDlgType::mtError, mbCancel,
                   FHost.BoxParent());
        return;
    }
    FHost.ListAgain();
    PlaceCursorAfterDeletion(FFiles, row);
}
