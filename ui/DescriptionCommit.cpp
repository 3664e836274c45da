// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DescriptionCommit.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileFile.h"
#include "common/Exceptions.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"
#include "index/IndexUpdater.h"
#include "ui/FolderWatch.h"
#include "ui/StringGrid.h"

#include <cstring>
#include <utility>

TDescriptionCommit::TDescriptionCommit(TStringGrid *folders, TStringGrid *files, std::function<TCommitPlace()> place)
    : FFolders(folders), FFiles(files), FPlace(std::move(place))
{
}

const char *TDescriptionCommit::SectionOf(const TStringGrid *grid) const
{
    return grid == FFolders ? kSectionFolders : kSectionFiles;
}

bool TDescriptionCommit::SelectCell(TStringGrid *grid, int col, int row)
{
    if (row != grid->Row())
        CommitCurrentRow(grid, SectionOf(grid));
    return col == 1;
}

void TDescriptionCommit::Exit(TStringGrid *grid)
{
    CommitCurrentRow(grid, SectionOf(grid));
}

void TDescriptionCommit::CommitCurrentRow(TStringGrid *grid, const char *section)
{
    TStringGridModel *model = grid->GridModel();
    const int row = grid->Row();
    const QString text = model->Description(row);
    const QString stored = model->Stored(row);
    if (text.isEmpty()) {
        // A stored description cannot be removed by emptying its cell.
        if (!stored.isEmpty())
            model->SetDescription(row, stored);
        return;
    }
    if (text == stored)
        return;
    // A stored text in Windows-1252 can read as more UTF-8 than the file reads back: not saved.
    const QByteArray bytes = EncodeText(text);
    if (bytes.size() > kValueByteLimit)
        throw TException(TooLongMessage(bytes.size()));
    StoreDescription(grid, section, row, text, bytes);
}

void TDescriptionCommit::StoreDescription(TStringGrid *grid, const char *section, int row, const QString &text,
                                          const QByteArray &bytes)
{
    const TCommitPlace place = FPlace();
    TStringGridModel *model = grid->GridModel();
    ProfileFile profile(place.DescFilePath);
    const QByteArray name = model->Name(row);
    // The names are copied only when the file leaves the key to the name rule.
    const auto write = [&] {
        WriteDescription(profile, section, name, TTableNames([model] { return model->Names(); }), bytes);
    };
    if (place.Watch)
        place.Watch->OwnWrite(write);
    else
        write();
    model->SetStored(row, text, bytes);
    if (place.Updater)
        place.Updater->Written(ExtractFilePath(place.DescFilePath), std::strcmp(section, kSectionFolders) == 0, name,
                               bytes);
    if (place.Written)
        place.Written(ExtractFilePath(place.DescFilePath), name, bytes);
    const int width = grid->TextWidth(text) + 6;
    if (width > grid->ColumnRuleWidth(1))
        grid->SetColumnRuleWidth(1, width);
}

void TDescriptionCommit::CommitPending()
{
    if (FLastGrid == FFolders || FLastGrid == FFiles)
        Exit(FLastGrid);
}

void TDescriptionCommit::FocusChanged(QWidget *now)
{
    for (TStringGrid *grid : {FFolders, FFiles})
        if (now && (now == grid || grid->isAncestorOf(now)))
            FLastGrid = grid;
}
