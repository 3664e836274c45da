// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/KeyMap.h"

#include <QList>
#include <QObject>

#include <utility>
#include <vector>

class QAction;
class TFrmMain;
struct TIndexHit;
class TSearchPanel;
struct TPrunedDescription;
struct TRestoreTarget;

// The main window's parts that use the per-user description index: the filter of undescribed
// entries, the search field, the pruned descriptions and the indexing of a folder tree.
class TMainIndex : public QObject {
    Q_OBJECT
public:
    explicit TMainIndex(TFrmMain &window);

    // The index's items of the window menu.
    void CreateIndexComponents();
    // The menu items of keyboard commands show their keys, once the codes are read.
    void ShowIndexShortCuts();

    // Shows only the undescribed entries of both tables, or all of them again.
    void SetUndescribedOnly(bool on);
    bool UndescribedOnly() const;
    // Opens the search field above the tables; a chosen hit's folder is listed with the cursor
    // on the hit's row.
    void ShowSearch();
    void OpenSearchHit(const TIndexHit &hit);
    // "Pruned descriptions...": lists them and gives a chosen one to an entry of this folder.
    void ShowPrunedDescriptions();
    bool RestorePruned(const TPrunedDescription &pruned, const TRestoreTarget &target);
    // "Index this folder and its subfolders".
    void IndexFolderTree();

private:
    // The search field above the tables, made when it is first opened.
    TSearchPanel *MadeSearchPanel();
    void CloseSearch();
    // Whether the index can be used; if not, the user is told why.
    bool IndexAvailable();

    TFrmMain &FWindow;
    QAction *FUndescribedOnlyItem = nullptr;
    // The window-menu items of keyboard commands, which show their keys.
    std::vector<std::pair<QAction *, TKeyMap::TCommand>> FCommandItems;
    // The tables' heights while the search panel takes its share of them.
    QList<int> FTableSizes;
};
