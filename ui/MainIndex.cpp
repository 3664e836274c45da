// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/MainIndex.h"

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

TMainIndex::TMainIndex(TFrmMain &window) : QObject(&window), FWindow(window)
{
}

void TMainIndex::CreateIndexComponents()
{
    FUndescribedOnlyItem = FWindow.AddWindowMenuItem(tr("Only &undescribed entries"), TFrmMain::CmdUndescribedOnly);
    FUndescribedOnlyItem->setCheckable(true);
    FCommandItems = {
        {FUndescribedOnlyItem, TFrmMain::cmdUndescribedOnly},
        {FWindow.AddWindowMenuItem(tr("&Search descriptions..."), TFrmMain::CmdSearch), TFrmMain::cmdSearch},
        {FWindow.AddWindowMenuItem(tr("Pruned descriptions..."), TFrmMain::CmdPrunedDescriptions),
         TFrmMain::cmdPrunedDescriptions}};
    FWindow.AddWindowMenuItem(tr("Index this folder and its subfolders"), TFrmMain::CmdIndexTree);
}

TSearchPanel *TMainIndex::MadeSearchPanel()
{
    // Made at its first opening: a start does not wait for a panel that it does not show. The
    // panel is the splitter's upper pane: it grows with the window, and its divider moves as the
    // tables'.
    if (!FWindow.SearchPanel) {
        FWindow.SearchPanel = new TSearchPanel(DefaultIndexPath(), FWindow.PanelClient);
        FWindow.SplitterFolderFile->insertWidget(0, FWindow.SearchPanel);
        FWindow.SplitterFolderFile->setStretchFactor(0, 1);
        connect(FWindow.SearchPanel, &TSearchPanel::Chosen, this,
                [this](const TIndexHit &hit) { ReportErrors([&] { OpenSearchHit(hit); }); });
        connect(FWindow.SearchPanel, &TSearchPanel::Closed, this, &TMainIndex::CloseSearch);
    }
    return FWindow.SearchPanel;
}

void TMainIndex::ShowIndexShortCuts()
{
    for (const auto &[item, command] : FCommandItems)
        item->setText(item->text() + u'\t' + ShortCutToText(FWindow.FShortCuts[command]));
}

// ---- only the undescribed entries ----

bool TMainIndex::UndescribedOnly() const
{
    return FWindow.StringGridFolders->GridModel()->UndescribedOnly();
}

void TMainIndex::SetUndescribedOnly(bool on)
{
    // What was typed is stored first: it decides whether its row is still undescribed.
    FWindow.CommitPendingDescription();
    FWindow.KeepFocusOffEditors();
    for (TStringGrid *grid : {FWindow.StringGridFolders, FWindow.StringGridFiles})
        grid->GridModel()->SetUndescribedOnly(on);
    FWindow.EnableTables();
    FUndescribedOnlyItem->setChecked(on);
    // The headings tell why rows are missing.
    FWindow.StaticTextFolders->setText(on ? tr("F&olders (undescribed only)") : TFrmMain::tr("F&olders"));
    FWindow.StaticTextFiles->setText(on ? tr("&Files (undescribed only)") : TFrmMain::tr("&Files"));
    FWindow.StringGridFolders->setAccessibleName(on ? tr("Folders (undescribed only)") : TFrmMain::tr("Folders"));
    FWindow.StringGridFiles->setAccessibleName(on ? tr("Files (undescribed only)") : TFrmMain::tr("Files"));
}

bool TMainIndex::IndexAvailable()
{
    if (FWindow.FIndex && FWindow.FIndex->IsUsable())
        return true;
    MessageDlg(FWindow.FIndex ? tr("The description index cannot be used; see the status line.")
                              : tr("The description index is switched off (DIRNOTE_NO_INDEX=1)."),
               TMsgDlgType::mtInformation, mbOK, &FWindow);
    return false;
}

// ---- search ----

void TMainIndex::ShowSearch()
{
    if (!IndexAvailable())
        return;
    TSearchPanel *panel = MadeSearchPanel();
    QSplitter *splitter = FWindow.SplitterFolderFile;
    const bool opening = panel->isHidden();
    const QList<int> before = splitter->sizes();
    panel->Open();
    if (!opening)
        return;
    FTableSizes = before;
    GiveSearchPanelItsShare(splitter, panel, before);
}

void TMainIndex::CloseSearch()
{
    // The tables get back the heights they had.
    if (FTableSizes.size() == FWindow.SplitterFolderFile->count())
        FWindow.SplitterFolderFile->setSizes(FTableSizes);
    FTableSizes.clear();
    // The focus goes back to the table it came from, or to one that can take it.
    if (TStringGrid *last = FWindow.FCommit->LastGrid(); last && last->isEnabled())
        last->setFocus();
    else if (FWindow.StringGridFolders->isEnabled())
        FWindow.StringGridFolders->setFocus();
    else if (FWindow.StringGridFiles->isEnabled())
        FWindow.StringGridFiles->setFocus();
    else
        FWindow.setFocus();
}

void TMainIndex::OpenSearchHit(const TIndexHit &hit)
{
    FWindow.CommitPendingDescription();
    if (!IsExistingFolder(hit.Folder)) {
        MessageDlg(tr("The folder %1 does not exist any more.").arg(DecodeName(hit.Folder)), TMsgDlgType::mtInformation,
                   mbOK, &FWindow);
        return;
    }
    TStringGrid *grid = hit.IsFolder ? FWindow.StringGridFolders : FWindow.StringGridFiles;
    if (!FWindow.LoadFolder(hit.Folder))
        return;
    FWindow.SearchPanel->Close();
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

void TMainIndex::ShowPrunedDescriptions()
{
    FWindow.CommitPendingDescription();
    if (!IndexAvailable())
        return;
    TDescriptionIndex &index = *FWindow.FIndex;
    std::vector<TPrunedDescription> pruned = index.Pruned();
    if (const QString problem = index.TakeProblem(); !problem.isEmpty()) {
        FWindow.ShowIndexProblem(problem);
        MessageDlg(tr("The description index cannot be read: %1").arg(problem), TMsgDlgType::mtError, mbOK, &FWindow);
        return;
    }
    std::vector<TRestoreTarget> targets;
    for (TStringGrid *grid : {FWindow.StringGridFolders, FWindow.StringGridFiles}) {
        const TStringGridModel *model = grid->GridModel();
        for (int row = 0; row < model->rowCount(); ++row)
            if (!model->Name(row).isEmpty())
                targets.push_back({model->Name(row), grid == FWindow.StringGridFolders});
    }
    TFrmPrunedDescriptions dialog(std::move(pruned), std::move(targets), &FWindow);
    dialog.OnRestore = [this, &index](const TPrunedDescription &chosen, const TRestoreTarget &target) {
        if (!RestorePruned(chosen, target))
            return false;
        index.ForgetPruned(chosen.Id);
        return true;
    };
    dialog.exec();
}

bool TMainIndex::RestorePruned(const TPrunedDescription &pruned, const TRestoreTarget &target)
{
    TStringGrid *grid = target.IsFolder ? FWindow.StringGridFolders : FWindow.StringGridFiles;
    TStringGridModel *model = grid->GridModel();
    const int row = model->FindName(target.Name);
    if (row < 0 || model->Name(row) != target.Name)
        return false;
    const QString text = DecodeText(pruned.Text);
    const QString stored = model->Stored(row);
    // Another description is not replaced without asking.
    if (!stored.isEmpty() && stored != text
        && MessageDlg(
               tr("%1 has a description already. Replace it with the restored one?").arg(model->DisplayName(row)),
               TMsgDlgType::mtConfirmation, mbYes | mbNo, &FWindow)
               != mrYes)
        return false;
    const QString shown = model->Description(row);
    model->SetDescription(row, text);
    try {
        // The stored bytes go back as they were; a commit would write what is shown as UTF-8.
        FWindow.StoreDescription(grid, target.IsFolder ? kSectionFolders : kSectionFiles, row, text, pruned.Text);
    } catch (...) {
        model->SetDescription(row, shown);
        throw;
    }
    return true;
}

// ---- indexing a tree ----

void TMainIndex::IndexFolderTree()
{
    FWindow.CommitPendingDescription();
    if (!IndexAvailable())
        return;
    const QByteArray root = FWindow.CurrentFolderPath();
    if (root.isEmpty()) {
        MessageDlg(tr("No folder is listed yet, so there is nothing to index."), TMsgDlgType::mtInformation, mbOK,
                   &FWindow);
        return;
    }
    TFrmIndexTree dialog(root, FWindow.FIndex->Path(), &FWindow);
    dialog.exec();
    // What was indexed is found at once.
    if (FWindow.SearchPanel && FWindow.SearchPanel->isVisible())
        FWindow.SearchPanel->SearchNow();
}
