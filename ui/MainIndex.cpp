// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's parts that use the per-user description index: the filter of undescribed
// entries, the search field, the pruned descriptions and the indexing of a folder tree.

#include "ui/Main.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FolderCatalogue.h"
#include "common/ErrorReport.h"
#include "common/MessageDlg.h"
#include "common/TextCodec.h"
#include "index/DescriptionIndex.h"
#include "ui/IndexSearch.h"
#include "ui/IndexTree.h"
#include "ui/PrunedDescriptions.h"
#include "ui/StringGrid.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QSplitter>

void TFrmMain::CreateIndexComponents()
{
    FUndescribedOnlyItem = AddWindowMenuItem(QStringLiteral("Only &undescribed entries"), CmdUndescribedOnly);
    FUndescribedOnlyItem->setCheckable(true);
    FCommandItems = {
        {FUndescribedOnlyItem, cmdUndescribedOnly},
        {AddWindowMenuItem(QStringLiteral("&Search descriptions..."), CmdSearch), cmdSearch},
        {AddWindowMenuItem(QStringLiteral("Pruned descriptions..."), CmdPrunedDescriptions), cmdPrunedDescriptions}};
    AddWindowMenuItem(QStringLiteral("Index this folder and its subfolders"), CmdIndexTree);

    // The index is opened after the window's components; its path is known before. The panel is
    // the splitter's upper pane: it grows with the window, and its divider moves as the tables'.
    SearchPanel = new TSearchPanel(DefaultIndexPath(), PanelClient);
    SplitterFolderFile->insertWidget(0, SearchPanel);
    SplitterFolderFile->setStretchFactor(0, 1);
    connect(SearchPanel, &TSearchPanel::Chosen, this,
            [this](const TIndexHit &hit) { ReportErrors([&] { OpenSearchHit(hit); }); });
    connect(SearchPanel, &TSearchPanel::Closed, this, &TFrmMain::CloseSearch);
}

void TFrmMain::ShowIndexShortCuts()
{
    for (const auto &[item, command] : FCommandItems)
        item->setText(item->text() + u'\t' + ShortCutToText(FShortCuts[command]));
}

// ---- only the undescribed entries ----

bool TFrmMain::UndescribedOnly() const
{
    return StringGridFolders->GridModel()->UndescribedOnly();
}

void TFrmMain::SetUndescribedOnly(bool on)
{
    // What was typed is stored first: it decides whether its row is still undescribed.
    CommitPendingDescription();
    KeepFocusOffEditors();
    for (TStringGrid *grid : {StringGridFolders, StringGridFiles})
        grid->GridModel()->SetUndescribedOnly(on);
    EnableTables();
    FUndescribedOnlyItem->setChecked(on);
    // The headings tell why rows are missing.
    const QString only = on ? QStringLiteral(" (undescribed only)") : QString();
    StaticTextFolders->setText(QStringLiteral("F&olders") + only);
    StaticTextFiles->setText(QStringLiteral("&Files") + only);
}

bool TFrmMain::IndexAvailable()
{
    if (FIndex && FIndex->IsUsable())
        return true;
    MessageDlg(FIndex ? QStringLiteral("The description index cannot be used; see the status line.")
                      : QStringLiteral("The description index is switched off (DIRNOTE_NO_INDEX=1)."),
               TMsgDlgType::mtInformation, mbOK, this);
    return false;
}

// ---- search ----

void TFrmMain::ShowSearch()
{
    if (!IndexAvailable())
        return;
    const bool opening = SearchPanel->isHidden();
    const QList<int> before = SplitterFolderFile->sizes();
    SearchPanel->Open();
    if (!opening)
        return;
    FTableSizes = before;
    GiveSearchPanelItsShare(SplitterFolderFile, SearchPanel, before);
}

void TFrmMain::CloseSearch()
{
    // The tables get back the heights they had.
    if (FTableSizes.size() == SplitterFolderFile->count())
        SplitterFolderFile->setSizes(FTableSizes);
    FTableSizes.clear();
    // The focus goes back to the table it came from, or to one that can take it.
    if (FLastGrid && FLastGrid->isEnabled())
        FLastGrid->setFocus();
    else if (StringGridFolders->isEnabled())
        StringGridFolders->setFocus();
    else if (StringGridFiles->isEnabled())
        StringGridFiles->setFocus();
    else
        setFocus();
}

void TFrmMain::OpenSearchHit(const TIndexHit &hit)
{
    CommitPendingDescription();
    if (!IsExistingFolder(hit.Folder)) {
        MessageDlg(QStringLiteral("The folder %1 does not exist any more.").arg(DecodeName(hit.Folder)),
                   TMsgDlgType::mtInformation, mbOK, this);
        return;
    }
    TStringGrid *grid = hit.IsFolder ? StringGridFolders : StringGridFiles;
    if (!LoadFolder(hit.Folder))
        return;
    SearchPanel->Close();
    const int row = grid->GridModel()->FindName(hit.Name);
    if (row < 0)
        return;
    // The user asked for this row: a filter that hides it is switched off.
    if (!grid->GridModel()->IsRowShown(row))
        SetUndescribedOnly(false);
    grid->setFocus();
    grid->SetCurrentCell(TStringGridModel::ColDesc, row);
}

// ---- pruned descriptions ----

void TFrmMain::ShowPrunedDescriptions()
{
    CommitPendingDescription();
    if (!IndexAvailable())
        return;
    TDescriptionIndex &index = *FIndex;
    std::vector<TPrunedDescription> pruned = index.Pruned();
    if (const QString problem = index.TakeProblem(); !problem.isEmpty()) {
        ShowIndexProblem(problem);
        MessageDlg(QStringLiteral("The description index cannot be read: ") + problem, TMsgDlgType::mtError, mbOK,
                   this);
        return;
    }
    std::vector<TRestoreTarget> targets;
    for (TStringGrid *grid : {StringGridFolders, StringGridFiles}) {
        const TStringGridModel *model = grid->GridModel();
        for (int row = 0; row < model->rowCount(); ++row)
            if (!model->Name(row).isEmpty())
                targets.push_back({model->Name(row), grid == StringGridFolders});
    }
    TFrmPrunedDescriptions dialog(std::move(pruned), std::move(targets), this);
    dialog.OnRestore = [this, &index](const TPrunedDescription &chosen, const TRestoreTarget &target) {
        if (!RestorePruned(chosen, target))
            return false;
        index.ForgetPruned(chosen.Id);
        return true;
    };
    dialog.exec();
}

bool TFrmMain::RestorePruned(const TPrunedDescription &pruned, const TRestoreTarget &target)
{
    TStringGrid *grid = target.IsFolder ? StringGridFolders : StringGridFiles;
    TStringGridModel *model = grid->GridModel();
    const int row = model->FindName(target.Name);
    if (row < 0 || model->Name(row) != target.Name)
        return false;
    const QString text = DecodeText(pruned.Text);
    const QString stored = model->Stored(row);
    // Another description is not replaced without asking.
    if (!stored.isEmpty() && stored != text
        && MessageDlg(QStringLiteral("%1 has a description already. Replace it with the restored one?")
                          .arg(model->DisplayName(row)),
                      TMsgDlgType::mtConfirmation, mbYes | mbNo, this)
               != mrYes)
        return false;
    const QString shown = model->Description(row);
    model->SetDescription(row, text);
    try {
        // The stored bytes go back as they were; a commit would write what is shown as UTF-8.
        StoreDescription(grid, target.IsFolder ? kSectionFolders : kSectionFiles, row, text, pruned.Text);
    } catch (...) {
        model->SetDescription(row, shown);
        throw;
    }
    return true;
}

// ---- indexing a tree ----

void TFrmMain::IndexFolderTree()
{
    CommitPendingDescription();
    if (!IndexAvailable())
        return;
    const QByteArray root = CurrentFolderPath();
    if (root.isEmpty()) {
        MessageDlg(QStringLiteral("No folder is listed yet, so there is nothing to index."), TMsgDlgType::mtInformation,
                   mbOK, this);
        return;
    }
    TFrmIndexTree dialog(root, FIndex->Path(), this);
    dialog.exec();
    // What was indexed is found at once.
    if (SearchPanel->isVisible())
        SearchPanel->SearchNow();
}
