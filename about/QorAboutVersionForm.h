// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "about/ProgramIcon.h"

#include <QDialog>
#include <QIcon>
#include <QRect>
#include <QStringList>

#include <array>
#include <optional>

class QFrame;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Where the About box goes: centred over the reference window when there is one, else on the
// screen, and then kept on the screen. Halvings truncate towards zero.
QPoint AboutBoxPosition(QSize dialog, const QRect &screen, const std::optional<QRect> &reference);

class TFrmQorVersionAbout : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTextCount = 25;

    explicit TFrmQorVersionAbout(QWidget *owner = nullptr);

    // Loads the English or the Danish column of the caption table into the 25 texts.
    void LoadTexts(bool english);
    // Puts the current caption texts on the window and its controls.
    void ApplyTexts();
    // Caption text n (1 to 25).
    QString Text(int n) const { return FTexts.at(size_t(n - 1)); }

    // The caller's row labels, kept sorted without regard to case; duplicates stay.
    void SetExtraLabels(const QStringList &labels);
    void AddExtraLabel(const QString &line);
    const QStringList &ExtraLabels() const { return FExtraLabels; }

    // The file whose version resource the version view shows (the running program by default).
    QString ExeName() const { return FExeName; }
    void SetExeName(const QString &fileName) { FExeName = fileName; }

    void BitBtnVersionClick(); // builds the version view
    void BitBtnMemoryClick();  // builds the memory view

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormCreate();
    void FillVersionView();
    void PrepareTable(const QString &firstHeader, const QString &secondHeader, Qt::Alignment valueAlignment);
    QTreeWidgetItem *MakeRow(const QString &label, const QString &value, Qt::Alignment valueAlignment) const;
    void AddSortedRow(const QString &label, const QString &value);
    void SetIcon(const QIcon &icon);

    QFrame *PanelMain = nullptr;
    QFrame *PanelInfo = nullptr;
    QLabel *LabelVersionTxt = nullptr;
    QLabel *LabelVersion = nullptr;
    QLabel *LabelProductTxt = nullptr;
    QLabel *LabelProduct = nullptr;
    QLabel *LabelDescriptionTxt = nullptr;
    QLabel *LabelDescription = nullptr;
    QLabel *ImageAppIcon = nullptr;
    QFrame *PanelAdditionalInfo = nullptr;
    QTreeWidget *ListViewVersion = nullptr;
    QFrame *PanelButtons = nullptr;
    QPushButton *BitBtnMemory = nullptr;
    QPushButton *BitBtnVersion = nullptr;
    QPushButton *BitBtnOK = nullptr;

    std::array<QString, kTextCount> FTexts;
    QStringList FExtraLabels;
    QString FExeName;
};
