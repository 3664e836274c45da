// SPDX-License-Identifier: GPL-3.0-or-later
// The window's part of mirroring descriptions to file comments.
#include "ui/Main.h"

#include "common/PathUtils.h"
#include "common/TextCodec.h"
#include "exchange/CommentMirror.h"
#include "ui/StringGrid.h"

#include <QAction>
#include <QMenu>

void TFrmMain::CreateMirrorItem()
{
    MirrorCommentsItem = AddWindowMenuItem(tr("Mirror descriptions to file comments"), CmdMirrorComments);
    MirrorCommentsItem->setCheckable(true);
    MirrorCommentsItem->setChecked(MirrorCommentsOn());
    // dnt may have changed the setting since: the item shows it as it is now.
    connect(FWindowMenu->Menu(), &QMenu::aboutToShow, this,
            [this] { MirrorCommentsItem->setChecked(MirrorCommentsOn()); });
}

void TFrmMain::SetMirrorCommentsOn(bool on)
{
    SetMirrorComments(on);
    MirrorCommentsItem->setChecked(on);
    if (!on || FDescFilePath.isEmpty())
        return;
    // The listed folder only: a whole tree is dnt's work ("dnt mirror on --recursive").
    std::vector<std::pair<QByteArray, QByteArray>> descriptions;
    for (TStringGrid *grid : {StringGridFolders, StringGridFiles}) {
        const TStringGridModel *model = grid->GridModel();
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->IsEntryRow(row))
                descriptions.emplace_back(model->Name(row), model->StoredBytes(row));
    }
    TCommentMirror mirror(FIndex.get());
    mirror.Entries(ExtractFilePath(FDescFilePath), descriptions, true);
    ShowMirrorCounts(mirror.Counts(), true);
}

void TFrmMain::MirrorWritten(const QByteArray &folder,
                             const std::vector<std::pair<QByteArray, QByteArray>> &descriptions)
{
    if (descriptions.empty() || !MirrorCommentsOn())
        return;
    TCommentMirror mirror(FIndex.get());
    mirror.Entries(folder, descriptions);
    ShowMirrorCounts(mirror.Counts(), false);
}

void TFrmMain::ShowMirrorCounts(const TMirrorCounts &counts, bool always)
{
    if (!counts.Errors.isEmpty()) {
        ShowStatus(counts.Errors.front());
    } else if (counts.NotOurs.size() == 1 && counts.Written + counts.Removed + counts.Skipped() == 0) {
        ShowStatus(tr("The comment of %1 was written by another program: it is left as it is")
                       .arg(DecodeName(ExtractFileName(counts.NotOurs.front()))));
    } else if (always || counts.Skipped() > 0 || !counts.NotOurs.empty()) {
        ShowStatus(tr("File comments: %1 written, %2 removed, %3 skipped (the file system keeps none, the "
                      "file may not be changed, or it is a link), %4 left (another program wrote them)")
                       .arg(counts.Written)
                       .arg(counts.Removed)
                       .arg(counts.Skipped())
                       .arg(counts.NotOurs.size()));
    }
}
