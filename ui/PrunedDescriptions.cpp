// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PrunedDescriptions.h"

#include "common/ErrorReport.h"
#include "common/TextCodec.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

int DefaultRestoreTarget(const TPrunedDescription &pruned, const std::vector<TRestoreTarget> &targets)
{
    int sameName = -1;
    for (size_t i = 0; i < targets.size(); ++i) {
        if (targets[i].Name != pruned.Name)
            continue;
        if (targets[i].IsFolder == pruned.IsFolder)
            return int(i);
        if (sameName < 0)
            sameName = int(i);
    }
    if (sameName >= 0)
        return sameName;
    return targets.empty() ? -1 : 0;
}

TFrmPrunedDescriptions::TFrmPrunedDescriptions(std::vector<TPrunedDescription> pruned,
                                               std::vector<TRestoreTarget> targets, QWidget *parent)
    : QDialog(parent), FPruned(std::move(pruned)), FTargets(std::move(targets))
{
    setObjectName(QStringLiteral("FrmPrunedDescriptions"));
    setWindowTitle(tr("Pruned descriptions"));
    resize(640, 360);
    CreateList();
    QLayout *targetRow = CreateTargetRow();
    LabelEmpty = new QLabel(tr("No description was pruned in the last 90 days."), this);
    LabelEmpty->setObjectName(QStringLiteral("LabelEmpty"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(LabelEmpty);
    layout->addWidget(ListPruned, 1);
    layout->addLayout(targetRow);
    ConnectControls();
    if (!FPruned.empty())
        SelectPruned(0);
    UpdateButtons();
    ListPruned->setFocus();
}

// The list of pruned descriptions, a row each, newest first.
void TFrmPrunedDescriptions::CreateList()
{
    ListPruned = new QTreeWidget(this);
    ListPruned->setObjectName(QStringLiteral("ListPruned"));
    ListPruned->setHeaderLabels({tr("Folder"), tr("Name"), tr("Description"), tr("Pruned")});
    ListPruned->setAccessibleName(tr("Pruned descriptions"));
    ListPruned->setAccessibleDescription(tr("Newest first, with folder, name, text and date"));
    ListPruned->setRootIsDecorated(false);
    ListPruned->setUniformRowHeights(true);
    ListPruned->setAllColumnsShowFocus(true);
    const QLocale locale;
    for (const TPrunedDescription &entry : FPruned) {
        auto *item = new QTreeWidgetItem(ListPruned);
        item->setText(ColFolder, DecodeName(entry.Folder));
        item->setText(ColName, DecodeName(entry.Name) + (entry.IsFolder ? QStringLiteral("/") : QString()));
        item->setText(ColText, DecodeText(entry.Text));
        item->setToolTip(ColText, item->text(ColText));
        item->setText(ColDate, locale.toString(entry.Pruned.toLocalTime(), QLocale::ShortFormat));
    }
    ListPruned->header()->setSectionResizeMode(ColText, QHeaderView::Stretch);
}

// The entry a description is restored to, and the buttons.
QLayout *TFrmPrunedDescriptions::CreateTargetRow()
{
    LabelTarget = new QLabel(tr("Restore &to:"), this);
    ComboTarget = new QComboBox(this);
    ComboTarget->setObjectName(QStringLiteral("ComboTarget"));
    LabelTarget->setBuddy(ComboTarget);
    ComboTarget->setAccessibleName(tr("Restore to"));
    ComboTarget->setAccessibleDescription(tr("The entry of the listed folder that gets the chosen description"));
    for (const TRestoreTarget &target : FTargets)
        ComboTarget->addItem(DecodeName(target.Name) + (target.IsFolder ? QStringLiteral("/") : QString()));
    BitBtnRestore = new QPushButton(tr("&Restore"), this);
    BitBtnRestore->setObjectName(QStringLiteral("BitBtnRestore"));
    BitBtnCopyText = new QPushButton(tr("&Copy text"), this);
    BitBtnCopyText->setObjectName(QStringLiteral("BitBtnCopyText"));
    BitBtnClose = new QPushButton(tr("Close"), this);
    BitBtnClose->setObjectName(QStringLiteral("BitBtnClose"));

    auto *targetRow = new QHBoxLayout;
    targetRow->addWidget(LabelTarget);
    targetRow->addWidget(ComboTarget, 1);
    targetRow->addWidget(BitBtnRestore);
    targetRow->addWidget(BitBtnCopyText);
    targetRow->addWidget(BitBtnClose);
    return targetRow;
}

void TFrmPrunedDescriptions::ConnectControls()
{
    connect(ListPruned, &QTreeWidget::currentItemChanged, this, [this] {
        const int row = CurrentRow();
        if (row >= 0)
            ComboTarget->setCurrentIndex(DefaultRestoreTarget(FPruned[size_t(row)], FTargets));
        UpdateButtons();
    });
    connect(BitBtnRestore, &QPushButton::clicked, this, [this] { ReportErrors([this] { RestoreClick(); }); });
    connect(BitBtnCopyText, &QPushButton::clicked, this, &TFrmPrunedDescriptions::CopyTextClick);
    connect(BitBtnClose, &QPushButton::clicked, this, &QDialog::reject);
}

int TFrmPrunedDescriptions::CurrentRow() const
{
    QTreeWidgetItem *item = ListPruned->currentItem();
    return item ? ListPruned->indexOfTopLevelItem(item) : -1;
}

void TFrmPrunedDescriptions::UpdateButtons()
{
    LabelEmpty->setVisible(FPruned.empty());
    const bool chosen = CurrentRow() >= 0;
    BitBtnRestore->setEnabled(chosen && ComboTarget->currentIndex() >= 0);
    BitBtnCopyText->setEnabled(chosen);
}

void TFrmPrunedDescriptions::SelectPruned(int row)
{
    ListPruned->setCurrentItem(ListPruned->topLevelItem(row));
}

void TFrmPrunedDescriptions::SelectTarget(int index)
{
    ComboTarget->setCurrentIndex(index);
    UpdateButtons();
}

void TFrmPrunedDescriptions::RestoreClick()
{
    const int row = CurrentRow();
    const int target = ComboTarget->currentIndex();
    if (row < 0 || target < 0 || !OnRestore)
        return;
    if (!OnRestore(FPruned[size_t(row)], FTargets[size_t(target)]))
        return;
    FPruned.erase(FPruned.begin() + row);
    delete ListPruned->takeTopLevelItem(row);
    UpdateButtons();
}

void TFrmPrunedDescriptions::CopyTextClick()
{
    const int row = CurrentRow();
    if (row >= 0)
        QApplication::clipboard()->setText(DecodeText(FPruned[size_t(row)].Text));
}
