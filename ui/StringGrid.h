// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QHash>
#include <QItemSelectionModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QSet>

#include "catalogue/FolderCatalogue.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

// Values read back at most this many bytes (UTF-8 as typed), so an editor takes no more.
constexpr qsizetype kValueByteLimit = 2047;

// What an edit leaves when each line of the text may hold at most `limit` bytes of UTF-8: the
// text before the edit, with as much of what the edit inserted as fits, cut at whole characters
// (a character that would cross the limit is left out whole). Lines end at "\n" and U+2029.
struct TLimitedEdit {
    QString Text;
    qsizetype Cursor = 0;   // just after what was taken of the insertion
    bool Cut = false;       // something of the edit was left out
    bool Refused = false;   // the edit was refused whole: Text is the text before it
    qsizetype Start = 0;    // where the insertion begins
    qsizetype Inserted = 0; // its length
    QString Taken;          // what of it was kept
};
TLimitedEdit LimitEdit(const QString &before, const QString &after, qsizetype limit = kValueByteLimit);
// Why a description of `size` bytes is not saved.
QString TooLongMessage(qsizetype size);

// The rows of one table: column 0 the entry's name (the file system's bytes), column 1 the
// description being edited, column 2 the stored description (never shown).
class TStringGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int ColName = 0, ColDesc = 1, ColStored = 2;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // One empty row: how an empty table looks.
    void Clear();
    // The rows become the entries themselves, shared with the listing that holds them.
    // Returns the entries it showed before.
    std::shared_ptr<const std::vector<TCatalogueEntry>> SetEntries(
        std::shared_ptr<const std::vector<TCatalogueEntry>> entries);

    QByteArray Name(int row) const;
    QString DisplayName(int row) const;
    QString Description(int row) const;
    QString Stored(int row) const;
    // The stored description's bytes, as listed or committed.
    QByteArray StoredBytes(int row) const;
    void SetDescription(int row, const QString &text);
    // After a successful write: the description is now the stored text, with these bytes.
    void SetStored(int row, const QString &text, const QByteArray &bytes);
    // The row of the entry that the name describes by the name rule of the catalogue (its own
    // name, else one equal without regard to letter case or normalization), -1 if none.
    int FindName(const QByteArray &name) const;
    std::vector<QByteArray> Names() const;
    // Whether the row's stored description was longer than the read limit, so the cell shows
    // only its beginning; cleared by a commit of the row.
    bool StoredWasCut(int row) const;
    // The listed entries the rows show (none for the empty table).
    const std::vector<TCatalogueEntry> &ListedEntries() const;
    // Whether the row is an entry (the empty table's one row is none).
    bool IsEntryRow(int row) const { return Entry(row) != nullptr; }
    // Whether editing the row needs the user's consent first (the stored value would be cut),
    // and the consent given, for as long as the rows stay.
    bool EditNeedsConsent(int row) const { return StoredWasCut(row) && !FCutConsented.contains(row); }
    void ConsentToCut(int row) { FCutConsented.insert(row); }
    // The first row without a description, -1 if none.
    int FirstUndescribed() const;

    // Only the undescribed entries are shown while this is on. Which rows those are is decided
    // when it is switched on and when the rows are replaced, never while typing: a row that gets
    // a description stays until the next listing.
    void SetUndescribedOnly(bool on);
    bool UndescribedOnly() const { return FUndescribedOnly; }
    bool IsRowShown(int row) const;
    // Whether some entry is shown (an empty table's one row is no entry).
    bool HasShownEntries() const;

Q_SIGNALS:
    // The set of shown rows changed other than by a reset of the rows.
    void ShownRowsChanged();

private:
    // The rows are the listing's entries, not a copy of them: a folder of a million entries costs
    // no more than its listing. The texts shown are decoded when asked for; texts typed or
    // committed since the listing, and the bytes a commit stored, are kept beside the rows.
    // Without entries the table has one empty row.
    size_t RowCount() const { return std::max<size_t>(FEntries ? FEntries->size() : 0, 1); }
    bool ValidRow(int row) const { return row >= 0 && size_t(row) < RowCount(); }
    // The entry of a row; none for the empty table's row.
    const TCatalogueEntry *Entry(int row) const
    {
        return FEntries && ValidRow(row) && size_t(row) < FEntries->size() ? &(*FEntries)[size_t(row)] : nullptr;
    }
    void DecideShownRows();
    bool StoredIsEmpty(int row) const;
    std::shared_ptr<const std::vector<TCatalogueEntry>> FEntries;
    std::vector<bool> FShown{true};
    QHash<int, QByteArray> FStoredBytes; // where a commit stored other bytes than the listing's
    QHash<int, QString> FTyped;          // the description column where it was edited
    QHash<int, QString> FStored;         // the stored text where a commit set it
    QSet<int> FCutConsented;             // cut rows whose editing the user allowed
    bool FUndescribedOnly = false;
};

// Keeps every move of the cursor, by the user or by the program, behind the grid's veto.
class TGridSelectionModel : public QItemSelectionModel {
    Q_OBJECT
public:
    using TVeto = std::function<bool(const QModelIndex &target)>;
    TGridSelectionModel(QAbstractItemModel *model, TVeto veto, QObject *parent);
    void setCurrentIndex(const QModelIndex &index, QItemSelectionModel::SelectionFlags command) override;
    void select(const QItemSelection &selection, QItemSelectionModel::SelectionFlags command) override;
    void select(const QModelIndex &index, QItemSelectionModel::SelectionFlags command) override;

private:
    TVeto FVeto;
    bool FRefused = false;
};

// The editor of a description cell hands every keystroke to the model at once.
class TGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    // The model already holds every keystroke; writing the editor's text back when it closes
    // would undo what a commit put into the cell meanwhile.
    void setModelData(QWidget *, QAbstractItemModel *, const QModelIndex &) const override {}
    // Within the visible part of the table, so the editor's cursor never goes out of sight.
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
};

struct TWidthCandidates;

// A table with a fixed name column, an editable description column and a hidden stored column.
// It raises a cancellable event before its cursor moves to another cell and an event when the
// focus leaves it (or its cell editor) for another control of the same window.
class TStringGrid : public QTableView {
    Q_OBJECT
public:
    static constexpr int DefaultColWidth = 140;
    static constexpr int DefaultRowHeight = 18;

    explicit TStringGrid(QWidget *parent = nullptr);
    ~TStringGrid() override;

    TStringGridModel *GridModel() const { return FModel; }
    int Col() const;
    int Row() const;
    // Moves the cursor as the user would: the select-cell event decides. A row the filter hides
    // is not taken: the next shown row is, else the nearest one before it.
    bool SetCurrentCell(int col, int row);

    // Answers whether the cursor may move to (col, row); empty while detached.
    std::function<bool(int col, int row)> OnSelectCell;
    std::function<void()> OnExit;

    // Whether the widget or its cell editor holds the keyboard focus.
    bool HasFocusWithin() const;
    // The width the listing's rule gives a column. The description column is drawn wider when
    // the table has more room beside the name column, so a wider window shows more of it.
    void SetColumnRuleWidth(int column, int width);
    int ColumnRuleWidth(int column) const;

    // The note shown beside the cell editor when a text was cut at the limit.
    static QString LimitNote();
    // The question asked before a cut description is edited.
    static QString CutQuestion();

    // The pixel width of a text in the table's font, as it is drawn.
    int TextWidth(const QString &text) const;
    // Gives the name and description columns the listing's rule widths for the rows just set:
    // each DefaultColWidth, or its widest text (TextWidth) plus 6 when that is wider.
    void FitListedColumns();

    using QTableView::edit;

protected:
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    void initViewItemOption(QStyleOptionViewItem *option) const override;
    void paintEvent(QPaintEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // Advances of single characters in the table's font, measured once each, to rank texts by
    // width without shaping each one. Negative where not measured yet.
    mutable std::vector<qreal> FAdvances;
    qreal EstimatedWidth(const QString &text) const;
    qreal Advance(char16_t c) const;
    // The largest TextWidth of a column's texts, 0 for none, given the rows ranked by the advances
    // of their characters added up (RankWidths): only the texts that could be the widest are shaped.
    int WidestListedText(int column, const TWidthCandidates &candidates) const;
    bool AllowMove(const QModelIndex &target);
    // Asks before a cut description is edited; whether it may be.
    bool ConsentToEdit(const QModelIndex &index);
    void FitDescriptionColumn();
    // Hides the rows the model does not show and moves the cursor off a hidden row.
    void ApplyShownRows();
    int ShownRowNear(int row) const;
    int FRuleWidth[2] = {DefaultColWidth, DefaultColWidth};
    void FocusChanged(QWidget *old, QWidget *now);
    int FirstShownRow() const;
    int LastShownRow() const;

    TStringGridModel *FModel;
    QMetaObject::Connection FFocusConnection;
};
