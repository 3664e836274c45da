// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// "Pruned descriptions...": the descriptions the listings removed in the last 90 days, newest
// first, to give one back to an entry of the current folder or to copy its text.

#include "index/DescriptionIndex.h"

#include <QDialog>

#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QLayout;
class QPushButton;
class QTreeWidget;

// An entry of the current folder that a pruned description can be given to.
struct TRestoreTarget {
    QByteArray Name;
    bool IsFolder = false;
};

// The target a pruned description goes to unless the user picks another: the entry of the same
// name and kind, else of the same name, else the first; -1 when there is none.
int DefaultRestoreTarget(const TPrunedDescription &pruned, const std::vector<TRestoreTarget> &targets);

class TFrmPrunedDescriptions : public QDialog {
    Q_OBJECT
public:
    static constexpr int ColFolder = 0, ColName = 1, ColText = 2, ColDate = 3;

    TFrmPrunedDescriptions(std::vector<TPrunedDescription> pruned, std::vector<TRestoreTarget> targets,
                           QWidget *parent = nullptr);

    // Gives the description to the target; true when it was written (the row then goes).
    std::function<bool(const TPrunedDescription &, const TRestoreTarget &)> OnRestore;

    // The pruned descriptions still listed, in their order.
    const std::vector<TPrunedDescription> &Listed() const { return FPruned; }
    void SelectPruned(int row);
    void SelectTarget(int index);
    void RestoreClick();
    void CopyTextClick();

    QLabel *LabelEmpty = nullptr;
    QTreeWidget *ListPruned = nullptr;
    QLabel *LabelTarget = nullptr;
    QComboBox *ComboTarget = nullptr;
    QPushButton *BitBtnRestore = nullptr;
    QPushButton *BitBtnCopyText = nullptr;
    QPushButton *BitBtnClose = nullptr;

private:
    // The controls in the order the focus goes through them.
    void CreateList();
    QLayout *CreateTargetRow();
    void ConnectControls();
    int CurrentRow() const;
    void UpdateButtons();

    std::vector<TPrunedDescription> FPruned;
    std::vector<TRestoreTarget> FTargets;
};
