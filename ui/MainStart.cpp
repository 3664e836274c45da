// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's part that shows what a start or a hand-off names.
#include "ui/Main.h"

#include "ui/StringGrid.h"

bool TFrmMain::ListTarget(const TStartTarget &target)
{
    // The rows of a listing under way are not the target's: the target follows that listing.
    if (FListings->Listing()) {
        if (!IsExistingFolder(target.Folder))
            return false;
        FListings->AfterListing([this, target] { ListTarget(target); });
        return true;
    }
    if (!LoadFolder(target.Folder))
        return false;
    if (target.FileName.isEmpty())
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
