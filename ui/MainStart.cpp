// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's part that shows what a start or a hand-off names.
#include "ui/Main.h"

#include "ui/StringGrid.h"

#include <QScopeGuard>

bool TFrmMain::ListTarget(const TStartTarget &target)
{
    // The rows of a listing under way are not the target's: the target follows that listing.
    if (FListings->Listing()) {
        if (!IsExistingFolder(target.Folder))
            return false;
        FListings->AfterListing([this, target] { ListTarget(target); });
        return true;
    }
    FTargetFileName = target.FileName;
    const auto forget = qScopeGuard([this] { FTargetFileName.clear(); });
    if (!LoadFolder(target.Folder))
        return false;
    ShowTargetFile(target.FileName);
    return true;
}

void TFrmMain::ShowTargetFile(const QByteArray &fileName)
{
    if (fileName.isEmpty())
        return;
    TStringGrid *grid = StringGridFiles;
    const int row = grid->GridModel()->FindName(fileName);
    if (row < 0)
        return;
    // The user asked for this row: a filter that hides it is switched off.
    if (!grid->GridModel()->IsRowShown(row))
        SetUndescribedOnly(false);
    grid->setFocus();
    grid->SetCurrentCell(TStringGridModel::ColDesc, row);
}
