// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's part that shows what a start or a hand-off names.
#include "ui/Main.h"

#include "ui/StringGrid.h"

bool TFrmMain::ListTarget(const TStartTarget &target)
{
    // A listing under way only queues this folder: the rows below would be the old folder's.
    const bool queued = FListings->Listing();
    if (!LoadFolder(target.Folder))
        return false;
    if (queued || target.FileName.isEmpty())
        return true;
    TStringGrid *grid = StringGridFiles;
    const int row = grid->GridModel()->FindName(target.FileName);
    if (row < 0)
        return true;
    // The user asked for this row: a filter that hides it is switched off.
    if (!grid->GridModel()->IsRowShown(row))
        SetUndescribedOnly(false);
    grid->setFocus();
    grid->SetCurrentCell(TStringGridModel::ColDesc, row);
    return true;
}
