// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/StringGrid.h"

#include "catalogue/FolderCatalogue.h"
#include "catalogue/FoldedName.h"
#include "common/ErrorReport.h"
#include "common/MessageDlg.h"
#include "common/TextCodec.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <future>
#include <string_view>

// ---- the byte limit of a value ----

namespace {
bool IsLineEnd(QChar c)
{
    return c == u'\n' || c == QChar::ParagraphSeparator;
}

// The UTF-8 bytes of the character at `at` (a lone surrogate is written as U+FFFD, 3 bytes) and
// its length in UTF-16 units.
std::pair<qsizetype, qsizetype> CharacterAt(QStringView text, qsizetype at)
{
    const char16_t c = text[at].unicode();
    if (QChar::isHighSurrogate(c) && at + 1 < text.size() && text[at + 1].isLowSurrogate())
        return {4, 2};
    return {c < 0x80 ? 1 : c < 0x800 ? 2 : 3, 1};
}

qsizetype Utf8Length(QStringView text)
{
    qsizetype bytes = 0;
    for (qsizetype at = 0; at < text.size();) {
        const auto [size, units] = CharacterAt(text, at);
        bytes += size;
        at += units;
    }
    return bytes;
}

bool LinesFit(QStringView text, qsizetype limit)
{
    qsizetype begin = 0;
    for (qsizetype at = 0; at <= text.size(); ++at)
        if (at == text.size() || IsLineEnd(text[at])) {
            if (Utf8Length(text.mid(begin, at - begin)) > limit)
                return false;
            begin = at + 1;
        }
    return true;
}

// Where an edit changed the text: the part both texts begin with and the part both end with,
// never splitting a surrogate pair. What the edit inserted lies between them.
struct TEditSpan {
    qsizetype Prefix = 0;
    qsizetype Suffix = 0;
};
TEditSpan FindEditSpan(const QString &before, const QString &after)
{
    const qsizetype shortest = std::min(before.size(), after.size());
    TEditSpan span;
    while (span.Prefix < shortest && before[span.Prefix] == after[span.Prefix])
        ++span.Prefix;
    if (span.Prefix > 0 && span.Prefix < after.size() && after[span.Prefix].isLowSurrogate())
        --span.Prefix;
    while (span.Suffix < shortest - span.Prefix
           && before[before.size() - 1 - span.Suffix] == after[after.size() - 1 - span.Suffix])
        ++span.Suffix;
    if (span.Suffix > 0 && after[after.size() - span.Suffix].isLowSurrogate())
        --span.Suffix;
    return span;
}

// The UTF-8 bytes of the line of `text` that holds `at`, from its start up to `at`.
qsizetype LineBytesBefore(QStringView text, qsizetype at)
{
    qsizetype lineStart = at;
    while (lineStart > 0 && !IsLineEnd(text[lineStart - 1]))
        --lineStart;
    return Utf8Length(text.mid(lineStart, at - lineStart));
}

// The UTF-8 bytes of the first line of `text`.
qsizetype FirstLineBytes(QStringView text)
{
    qsizetype end = 0;
    while (end < text.size() && !IsLineEnd(text[end]))
        ++end;
    return Utf8Length(text.left(end));
}

// What is kept of an insertion: its text, and the UTF-16 lengths of the characters kept on its
// last line with the bytes that line holds (so it can be shortened from the end).
struct TKeptInsertion {
    QString Text;
    std::vector<qsizetype> LastLineUnits;
    qsizetype LastLineBytes = 0;
};

// Of each line of the insertion, as many whole characters as the line holds; its first line goes
// on from `lineBytes` bytes of the text before it.
TKeptInsertion KeepWhatFits(QStringView inserted, qsizetype lineBytes, qsizetype limit)
{
    TKeptInsertion kept;
    kept.LastLineBytes = lineBytes;
    bool full = false;
    for (qsizetype at = 0; at < inserted.size();) {
        if (IsLineEnd(inserted[at])) {
            kept.Text += inserted[at++];
            kept.LastLineBytes = 0;
            kept.LastLineUnits.clear();
            full = false;
            continue;
        }
        const auto [size, length] = CharacterAt(inserted, at);
        if (!full && kept.LastLineBytes + size <= limit) {
            kept.Text += inserted.mid(at, length);
            kept.LastLineBytes += size;
            kept.LastLineUnits.push_back(length);
        } else {
            full = true;
        }
        at += length;
    }
    return kept;
}

// The last line of the insertion goes on with the text after it: characters are taken back
// from its end until both fit on one line.
void MakeRoomForTheRest(TKeptInsertion &kept, qsizetype rightBytes, qsizetype limit)
{
    while (kept.LastLineBytes + rightBytes > limit && !kept.LastLineUnits.empty()) {
        kept.LastLineBytes -= CharacterAt(kept.Text, kept.Text.size() - kept.LastLineUnits.back()).first;
        kept.Text.chop(kept.LastLineUnits.back());
        kept.LastLineUnits.pop_back();
    }
}

TLimitedEdit Unchanged(const QString &text, qsizetype cursor)
{
    TLimitedEdit edit;
    edit.Text = text;
    edit.Cursor = cursor;
    return edit;
}
} // namespace

TLimitedEdit LimitEdit(const QString &before, const QString &after, qsizetype limit)
{
    if (LinesFit(after, limit))
        return Unchanged(after, after.size());
    const TEditSpan span = FindEditSpan(before, after);
    const QStringView inserted = QStringView(after).mid(span.Prefix, after.size() - span.Prefix - span.Suffix);
    const QStringView right = QStringView(after).right(span.Suffix);
    // Only a deletion from a text over the limit (a stored value that reads as more UTF-8 than it
    // had bytes): it brings the text nearer the limit, so it is taken.
    if (inserted.isEmpty() && !LinesFit(before, limit))
        return Unchanged(after, span.Prefix);
    TKeptInsertion kept = KeepWhatFits(inserted, LineBytesBefore(after, span.Prefix), limit);
    MakeRoomForTheRest(kept, FirstLineBytes(right), limit);
    TLimitedEdit result;
    result.Text = after.left(span.Prefix) + kept.Text + right.toString();
    result.Cursor = span.Prefix + kept.Text.size();
    result.Cut = true;
    result.Start = span.Prefix;
    result.Inserted = inserted.size();
    result.Taken = kept.Text;
    // Nothing inserted could be cut (lines joined by a deletion): the edit is refused whole.
    if (!LinesFit(result.Text, limit) && LinesFit(before, limit)) {
        result.Text = before;
        result.Cursor = span.Prefix;
        result.Refused = true;
    }
    return result;
}

QString TooLongMessage(qsizetype size)
{
    return QCoreApplication::translate("TStringGrid", "This description is %1 bytes long in UTF-8; at most %2 bytes "
                                                      "can be saved. Shorten it first.")
        .arg(size)
        .arg(kValueByteLimit);
}

// ---- model ----

int TStringGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(RowCount());
}

int TStringGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant TStringGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !ValidRow(index.row()))
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case ColName: return DisplayName(index.row());
        case ColDesc: return Description(index.row());
        case ColStored: return role == Qt::ToolTipRole ? QVariant() : QVariant(Stored(index.row()));
        }
        break;
    // What a screen reader says of a cell: an empty description is said to be one, and the
    // description names the entry it belongs to.
    case Qt::AccessibleTextRole:
        if (!IsEntryRow(index.row()))
            return index.column() == ColName ? tr("No entries") : QVariant();
        if (index.column() == ColName)
            return DisplayName(index.row());
        if (index.column() == ColDesc)
            return Description(index.row()).isEmpty() ? tr("No description") : Description(index.row());
        break;
    case Qt::AccessibleDescriptionRole:
        if (index.column() == ColName && IsEntryRow(index.row()))
            return tr("Name");
        if (index.column() == ColDesc && IsEntryRow(index.row()))
            return tr("Description of %1").arg(DisplayName(index.row()));
        break;
    case Qt::BackgroundRole:
        if (index.column() == ColName)
            return QApplication::palette().brush(QPalette::Button);
        break;
    case Qt::ForegroundRole:
        if (index.column() == ColName)
            return QApplication::palette().brush(QPalette::ButtonText);
        break;
    }
    return {};
}

bool TStringGridModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.column() != ColDesc || role != Qt::EditRole)
        return false;
    SetDescription(index.row(), value.toString());
    return true;
}

Qt::ItemFlags TStringGridModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    switch (index.column()) {
    case ColDesc: return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
    case ColName: return Qt::ItemIsEnabled; // shown, never selected or edited
    default: return Qt::NoItemFlags;
    }
}

void TStringGridModel::Clear()
{
    beginResetModel();
    FEntries.reset();
    FShown.assign(1, true);
    FTyped.clear();
    FStored.clear();
    FStoredBytes.clear();
    FCutConsented.clear();
    endResetModel();
}

std::shared_ptr<const std::vector<TCatalogueEntry>> TStringGridModel::SetEntries(
    std::shared_ptr<const std::vector<TCatalogueEntry>> entries)
{
    beginResetModel();
    FTyped.clear();
    FStored.clear();
    FStoredBytes.clear();
    FCutConsented.clear();
    std::swap(FEntries, entries);
    DecideShownRows();
    endResetModel();
    return entries;
}

QByteArray TStringGridModel::Name(int row) const
{
    const TCatalogueEntry *entry = Entry(row);
    return entry ? entry->Name : QByteArray();
}

QString TStringGridModel::DisplayName(int row) const
{
    const TCatalogueEntry *entry = Entry(row);
    return entry ? DecodeName(entry->Name) : QString();
}

QString TStringGridModel::Description(int row) const
{
    if (const auto typed = FTyped.constFind(row); typed != FTyped.cend())
        return *typed;
    return Stored(row);
}

QString TStringGridModel::Stored(int row) const
{
    if (!ValidRow(row))
        return {};
    if (const auto stored = FStored.constFind(row); stored != FStored.cend())
        return *stored;
    return DecodeText(StoredBytes(row));
}

QByteArray TStringGridModel::StoredBytes(int row) const
{
    if (const auto stored = FStoredBytes.constFind(row); stored != FStoredBytes.cend())
        return *stored;
    const TCatalogueEntry *entry = Entry(row);
    return entry ? entry->Description : QByteArray();
}

void TStringGridModel::SetDescription(int row, const QString &text)
{
    if (!ValidRow(row) || Description(row) == text)
        return;
    FTyped.insert(row, text);
    const QModelIndex cell = index(row, ColDesc);
    Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole, Qt::EditRole});
}

void TStringGridModel::SetStored(int row, const QString &text, const QByteArray &bytes)
{
    if (!ValidRow(row))
        return;
    // The cell keeps showing what it showed; only the stored text changes.
    FTyped.insert(row, Description(row));
    FStored.insert(row, text);
    FStoredBytes.insert(row, bytes);
    const QModelIndex cell = index(row, ColStored);
    Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole, Qt::EditRole});
}

const std::vector<TCatalogueEntry> &TStringGridModel::ListedEntries() const
{
    static const std::vector<TCatalogueEntry> none;
    return FEntries ? *FEntries : none;
}

bool TStringGridModel::StoredWasCut(int row) const
{
    // A commit stored what the cell holds: from then on the stored text is whole.
    if (FStoredBytes.contains(row))
        return false;
    const TCatalogueEntry *entry = Entry(row);
    return entry && entry->DescriptionWasCut();
}

int TStringGridModel::FindName(const QByteArray &name) const
{
    if (name.isEmpty())
        return -1;
    std::vector<std::string_view> names;
    names.reserve(RowCount());
    for (size_t row = 0; row < RowCount(); ++row) {
        const TCatalogueEntry *entry = Entry(int(row));
        names.push_back(entry ? ViewOf(entry->Name) : std::string_view());
    }
    return int(EntryOfKey(names, ViewOf(name)));
}

std::vector<QByteArray> TStringGridModel::Names() const
{
    std::vector<QByteArray> names;
    names.reserve(RowCount());
    for (size_t row = 0; row < RowCount(); ++row)
        names.push_back(Name(int(row)));
    return names;
}

bool TStringGridModel::StoredIsEmpty(int row) const
{
    // Without a copy of the bytes: a listing asks this of every row of a large folder.
    if (!FStoredBytes.isEmpty())
        if (const auto stored = FStoredBytes.constFind(row); stored != FStoredBytes.cend())
            return stored->isEmpty();
    const TCatalogueEntry *entry = Entry(row);
    return !entry || entry->Description.isEmpty();
}

int TStringGridModel::FirstUndescribed() const
{
    for (size_t i = 0; i < RowCount(); ++i) {
        const int row = int(i);
        if (!FTyped.isEmpty())
            if (const auto typed = FTyped.constFind(row); typed != FTyped.cend()) {
                if (typed->isEmpty())
                    return row;
                continue;
            }
        if (StoredIsEmpty(row))
            return row;
    }
    return -1;
}

void TStringGridModel::DecideShownRows()
{
    FShown.assign(RowCount(), true);
    if (!FUndescribedOnly)
        return;
    for (size_t i = 0; i < RowCount(); ++i) {
        const auto stored = FStored.constFind(int(i));
        FShown[i] = stored != FStored.cend() ? stored->isEmpty() : StoredIsEmpty(int(i));
    }
}

void TStringGridModel::SetUndescribedOnly(bool on)
{
    FUndescribedOnly = on;
    DecideShownRows();
    Q_EMIT ShownRowsChanged();
}

bool TStringGridModel::IsRowShown(int row) const
{
    return ValidRow(row) && FShown[size_t(row)];
}

bool TStringGridModel::HasShownEntries() const
{
    for (size_t row = 0; row < RowCount(); ++row)
        if (FShown[row] && Entry(int(row)) && !Entry(int(row))->Name.isEmpty())
            return true;
    return false;
}

// ---- selection model ----

TGridSelectionModel::TGridSelectionModel(QAbstractItemModel *model, TVeto veto, QObject *parent)
    : QItemSelectionModel(model, parent), FVeto(std::move(veto))
{
}

void TGridSelectionModel::setCurrentIndex(const QModelIndex &index, QItemSelectionModel::SelectionFlags command)
{
    if (index != currentIndex() && FVeto && !FVeto(index)) {
        // The view goes on to select the refused cell; that selection is dropped too.
        FRefused = true;
        return;
    }
    FRefused = false;
    QItemSelectionModel::setCurrentIndex(index, command);
}

void TGridSelectionModel::select(const QItemSelection &selection, QItemSelectionModel::SelectionFlags command)
{
    if (FRefused)
        return;
    QItemSelectionModel::select(selection, command);
}

void TGridSelectionModel::select(const QModelIndex &index, QItemSelectionModel::SelectionFlags command)
{
    if (FRefused)
        return;
    QItemSelectionModel::select(index, command);
}

// ---- delegate ----

QWidget *TGridDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                     const QModelIndex &index) const
{
    QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto *line = qobject_cast<QLineEdit *>(editor)) {
        line->setObjectName(QStringLiteral("InplaceEditor"));
        line->setAccessibleName(index.data(Qt::AccessibleDescriptionRole).toString());
        QAbstractItemModel *model = const_cast<QAbstractItemModel *>(index.model());
        const QPersistentModelIndex cell(index);
        connect(line, &QLineEdit::textEdited, line, [model, cell, line](const QString &text) {
            if (!cell.isValid())
                return;
            // What reads back is what is stored: the editor takes no more than a value holds.
            const TLimitedEdit limited = LimitEdit(model->data(cell, Qt::EditRole).toString(), text);
            if (limited.Cut) {
                line->setText(limited.Text);
                line->setCursorPosition(int(limited.Cursor));
                QApplication::beep();
                QToolTip::showText(line->mapToGlobal(QPoint(0, line->height())), TStringGrid::LimitNote(), line, {},
                                   5000);
            }
            model->setData(cell, limited.Text, Qt::EditRole);
        });
    }
    return editor;
}

void TGridDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                         const QModelIndex &index) const
{
    QStyledItemDelegate::updateEditorGeometry(editor, option, index);
    const auto *grid = qobject_cast<const TStringGrid *>(parent());
    const QWidget *area = editor->parentWidget();
    if (!grid || !area)
        return;
    // Right of the names and inside the viewport, however wide the column.
    QRect rect = editor->geometry();
    rect.setLeft(std::max(rect.left(), grid->columnWidth(TStringGridModel::ColName)));
    rect.setRight(std::min(rect.right(), area->width() - 1));
    editor->setGeometry(rect);
}

void TGridDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    // Keystrokes echo back through the model; leave the editor (and its cursor) alone then.
    if (auto *line = qobject_cast<QLineEdit *>(editor); line && line->text() == index.data(Qt::EditRole).toString())
        return;
    QStyledItemDelegate::setEditorData(editor, index);
}

// ---- view ----

TStringGrid::TStringGrid(QWidget *parent) : QTableView(parent), FModel(new TStringGridModel(this))
{
    setModel(FModel);
    setSelectionModel(new TGridSelectionModel(
        FModel, [this](const QModelIndex &target) { return AllowMove(target); }, this));
    setItemDelegate(new TGridDelegate(this));
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(DefaultRowHeight);
    horizontalHeader()->setMinimumSectionSize(0);
    horizontalHeader()->setDefaultSectionSize(DefaultColWidth);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    setColumnHidden(TStringGridModel::ColStored, true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked
                    | QAbstractItemView::EditKeyPressed);
    setTabKeyNavigation(false);
    setWordWrap(false);
    // Columns are sized to their text plus 6 pixels; clip rather than elide what does not fit.
    setTextElideMode(Qt::ElideNone);
    setShowGrid(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // The selection of the table without the focus is drawn dimmed, as file managers draw it,
    // also where the style gives inactive windows the same highlight.
    QPalette colours = palette();
    const QColor highlight = colours.color(QPalette::Active, QPalette::Highlight);
    if (colours.color(QPalette::Inactive, QPalette::Highlight) == highlight) {
        const QColor base = colours.color(QPalette::Active, QPalette::Base);
        colours.setColor(QPalette::Inactive, QPalette::Highlight,
                         QColor((highlight.red() + 2 * base.red()) / 3, (highlight.green() + 2 * base.green()) / 3,
                                (highlight.blue() + 2 * base.blue()) / 3));
        colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         colours.color(QPalette::Active, QPalette::Text));
        setPalette(colours);
    }

    FFocusConnection = connect(qApp, &QApplication::focusChanged, this, &TStringGrid::FocusChanged);
    connect(FModel, &TStringGridModel::modelReset, this, &TStringGrid::ApplyShownRows);
    connect(FModel, &TStringGridModel::ShownRowsChanged, this, &TStringGrid::ApplyShownRows);
}

TStringGrid::~TStringGrid()
{
    // Destroying the cell editor moves the focus; a grid half destroyed must not hear of it.
    disconnect(FFocusConnection);
}

int TStringGrid::Col() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.column() : TStringGridModel::ColDesc;
}

int TStringGrid::Row() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : 0;
}

void TStringGrid::ApplyShownRows()
{
    // A reset shows every row again; a listing without the filter has nothing to hide.
    const int count = FModel->rowCount();
    if (FModel->UndescribedOnly() || verticalHeader()->hiddenSectionCount() > 0) {
        // Each hidden row would otherwise make the header place all its rows anew and tell the
        // view so: seconds for a large folder. Placed once afterwards, it takes milliseconds.
        QHeaderView *rows = verticalHeader();
        const QSignalBlocker quiet(rows);
        rows->setUpdatesEnabled(false);
        for (int row = 0; row < count; ++row)
            setRowHidden(row, !FModel->IsRowShown(row));
        rows->setUpdatesEnabled(true);
    }
    updateGeometries();
    viewport()->update();
    const QModelIndex current = currentIndex();
    if (current.isValid() && isRowHidden(current.row()))
        SetCurrentCell(current.column(), current.row());
}

int TStringGrid::ShownRowNear(int row) const
{
    const int count = FModel->rowCount();
    for (int next = row; next < count; ++next)
        if (!isRowHidden(next))
            return next;
    for (int before = std::min(row, count) - 1; before >= 0; --before)
        if (!isRowHidden(before))
            return before;
    return -1;
}

bool TStringGrid::SetCurrentCell(int col, int row)
{
    if (row >= 0 && isRowHidden(row))
        row = ShownRowNear(row);
    const QModelIndex target = FModel->index(row, col);
    if (!target.isValid())
        return false;
    // The cell alone is selected, whatever keys are held: a move by a command run with Ctrl
    // held (Ctrl+Delete) must not add the new row to the old one's selection.
    selectionModel()->setCurrentIndex(target, FModel->IsEntryRow(row) ? QItemSelectionModel::ClearAndSelect
                                                                      : QItemSelectionModel::Clear);
    scrollTo(target);
    return currentIndex() == target;
}

bool TStringGrid::AllowMove(const QModelIndex &target)
{
    if (!OnSelectCell)
        return true;
    // A failure inside the handler is reported here, so it never unwinds through the toolkit;
    // the cursor stays where it is.
    bool allowed = false;
    ReportErrors([&] { allowed = OnSelectCell(target.column(), target.row()); });
    return allowed;
}

int TStringGrid::FirstShownRow() const
{
    return ShownRowNear(0);
}

int TStringGrid::LastShownRow() const
{
    const int count = FModel->rowCount();
    for (int row = count - 1; row >= 0; --row)
        if (!isRowHidden(row))
            return row;
    return -1;
}

QModelIndex TStringGrid::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    // The description is the one column the cursor takes, so Home and End go to the first and
    // last row, as Ctrl+Home and Ctrl+End do.
    if (cursorAction == MoveHome || cursorAction == MoveEnd) {
        const int row = cursorAction == MoveHome ? FirstShownRow() : LastShownRow();
        return row >= 0 ? FModel->index(row, TStringGridModel::ColDesc) : QModelIndex();
    }
    return QTableView::moveCursor(cursorAction, modifiers);
}

void TStringGrid::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    // Only the rows scroll to the cursor. Sideways the description column is wider than the
    // room, so showing "all" of it would push the names out; it stays where the user left it.
    const int sideways = horizontalScrollBar()->value();
    QTableView::scrollTo(index, hint);
    horizontalScrollBar()->setValue(sideways);
}

void TStringGrid::paintEvent(QPaintEvent *event)
{
    QTableView::paintEvent(event);
    if (horizontalOffset() <= 0)
        return;
    // The names are drawn again at the left edge, over the descriptions scrolled beneath them,
    // so they stay in view as a fixed column does.
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int gridHint = style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this);
    painter.setPen(QPen(QColor::fromRgba(static_cast<QRgb>(gridHint)), 1, gridStyle()));
    const int width = std::min(columnWidth(TStringGridModel::ColName), viewport()->width());
    for (int y = 0; y < viewport()->height();) {
        const int row = rowAt(y);
        if (row < 0)
            break;
        const QRect cell(0, rowViewportPosition(row), width, rowHeight(row));
        painter.fillRect(cell, option.palette.brush(QPalette::Base));
        option.rect = cell.adjusted(0, 0, -1, -1); // the grid lines take the last pixels
        itemDelegate()->paint(&painter, option, FModel->index(row, TStringGridModel::ColName));
        painter.drawLine(cell.topRight(), cell.bottomRight());
        painter.drawLine(cell.bottomLeft(), cell.bottomRight());
        y = cell.bottom() + 1;
    }
}

void TStringGrid::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    // Scrolling moves the pixels, the names too: sideways they are drawn anew in their place.
    if (dx != 0)
        viewport()->update();
}

void TStringGrid::initViewItemOption(QStyleOptionViewItem *option) const
{
    QTableView::initViewItemOption(option);
    // Which table has the keyboard focus shows: the other one draws its selection dimmed, in
    // the inactive colours, whatever colour group the style picks. The toolkit dims a view
    // whose cell editor has the focus too; that table has it all the same.
    if (HasFocusWithin()) {
        option->state |= QStyle::State_Active;
    } else {
        option->state &= ~QStyle::State_Active;
        for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
            option->palette.setColor(role, option->palette.color(QPalette::Inactive, role));
    }
}

QString TStringGrid::LimitNote()
{
    return tr("A description holds at most %1 bytes; the rest was not taken.").arg(kValueByteLimit);
}

QString TStringGrid::CutQuestion()
{
    return tr("This description is longer than %1 bytes, so only its beginning is shown. Saving a change will cut "
              "it to what is shown. Edit it anyway?")
        .arg(kValueByteLimit);
}

bool TStringGrid::ConsentToEdit(const QModelIndex &index)
{
    if (!index.isValid() || !FModel->EditNeedsConsent(index.row()))
        return true;
    if (MessageDlg(CutQuestion(), TMsgDlgType::mtConfirmation, mbYes | mbNo, this) != mrYes)
        return false;
    FModel->ConsentToCut(index.row());
    return true;
}

bool TStringGrid::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    // Asked only where an editor would open.
    const bool opens = index.isValid() && state() != EditingState && (FModel->flags(index) & Qt::ItemIsEditable)
                       && (trigger == AllEditTriggers || (trigger & editTriggers()));
    if (opens && !ConsentToEdit(index))
        return false;
    return QTableView::edit(index, trigger, event);
}

bool TStringGrid::HasFocusWithin() const
{
    const QWidget *focus = QApplication::focusWidget();
    return focus && (focus == this || isAncestorOf(focus));
}

int TStringGrid::TextWidth(const QString &text) const
{
    return fontMetrics().horizontalAdvance(text);
}

qreal TStringGrid::Advance(char16_t c) const
{
    if (FAdvances.empty())
        FAdvances.assign(0x300, -1);
    qreal &advance = FAdvances[c];
    if (advance < 0)
        advance = QFontMetricsF(font()).horizontalAdvance(QChar(c));
    return advance;
}

qreal TStringGrid::EstimatedWidth(const QString &text) const
{
    // Text of simple characters is about as wide as its characters' advances added up; shaping
    // changes that only by kerning and ligatures. Anything else is shaped in full.
    qreal width = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x300)
            return TextWidth(text);
        width += Advance(u);
    }
    return width;
}

namespace {
// The advances of the ASCII characters in the table's font, in 1/64 pixel.
using TAdvanceTable = std::array<std::int32_t, 128>;

// The sum of the advances of an ASCII text's bytes in 1/64 pixel; -1 for a text with other bytes,
// which only the font's shaping can measure.
std::int32_t EstimatedAsciiWidth(const TAdvanceTable &advances, std::string_view text)
{
    // Four running sums: the additions of one text do not wait on each other.
    std::int32_t sum[4] = {};
    unsigned char high = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const size_t n = text.size();
    size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        high |= static_cast<unsigned char>(p[k] | p[k + 1] | p[k + 2] | p[k + 3]);
        sum[0] += advances[p[k] & 0x7f];
        sum[1] += advances[p[k + 1] & 0x7f];
        sum[2] += advances[p[k + 2] & 0x7f];
        sum[3] += advances[p[k + 3] & 0x7f];
    }
    for (; k < n; ++k) {
        high |= p[k];
        sum[0] += advances[p[k] & 0x7f];
    }
    return high & 0x80 ? -1 : sum[0] + sum[1] + sum[2] + sum[3];
}

// Adds an item to a heap that keeps the `keep` largest items seen (the smallest of them on top).
template <typename T> void KeepLargest(std::vector<T> &heap, const T &item, std::size_t keep)
{
    if (heap.size() == keep && !(item > heap.front()))
        return;
    heap.push_back(item);
    std::push_heap(heap.begin(), heap.end(), std::greater<>());
    if (heap.size() > keep) {
        std::pop_heap(heap.begin(), heap.end(), std::greater<>());
        heap.pop_back();
    }
}

// The rows of a column whose texts could be its widest: the rows of the kWidthCandidates widest
// estimates, and every row whose text has no estimate, which is estimated from its shown text.
// Only these are ever shaped.
constexpr std::size_t kWidthCandidates = 257;
// From this many rows on, the two columns are ranked side by side: a row's name and description
// lie apart in memory, and reading either is mostly a wait on memory.
constexpr std::size_t kRankApartFrom = 10000;
} // namespace

struct TWidthCandidates {
    std::vector<std::pair<std::int32_t, std::uint32_t>> Ranked; // estimate in 1/64 pixel, row
    std::vector<std::uint32_t> Unestimated;
};

namespace {

// A row's text for a column, or null for a description left to the estimate of the text the
// cell shows (one cut when it was read).
const QByteArray *RowText(const TCatalogueEntry &entry, int column)
{
    if (column == TStringGridModel::ColName)
        return &entry.Name;
    return entry.DescriptionWasCut() ? nullptr : &entry.Description;
}

TWidthCandidates RankWidths(const std::vector<TCatalogueEntry> &entries, int column, const TAdvanceTable &advances)
{
    TWidthCandidates candidates;
    candidates.Ranked.reserve(kWidthCandidates + 1);
    // A large folder's texts lie in memory in the order they were read, not in the rows' order:
    // without asking for a text a few rows ahead, nearly every text is a wait on memory.
    constexpr size_t kAhead = 8;
    for (size_t row = 0; row < entries.size(); ++row) {
        if (row + kAhead < entries.size())
            if (const QByteArray *ahead = RowText(entries[row + kAhead], column))
                __builtin_prefetch(ahead->constData());
        const QByteArray *text = RowText(entries[row], column);
        if (const std::int32_t estimate = text ? EstimatedAsciiWidth(advances, ViewOf(*text)) : -1; estimate < 0)
            candidates.Unestimated.push_back(std::uint32_t(row));
        else
            KeepLargest(candidates.Ranked, {estimate, std::uint32_t(row)}, kWidthCandidates);
    }
    return candidates;
}
} // namespace

int TStringGrid::WidestListedText(int column, const TWidthCandidates &candidates) const
{
    auto text = [this, column](int row) {
        return column == TStringGridModel::ColName ? FModel->DisplayName(row) : FModel->Description(row);
    };
    // Shaping every text of a large folder would take about a second per 100,000 texts. The
    // texts are ranked by their estimated width instead, and shaped from the widest down while
    // one could still beat the widest shaped so far. Kerning and ligatures move a text by a few
    // pixels at most; beyond the first few hundred near-ties, the estimate is taken as it is.
    constexpr qreal kSlack = 4;
    constexpr int kMostShaped = int(kWidthCandidates) - 1;
    // The texts without an estimate are estimated from their shown text and join the ranking,
    // kept in a heap (its narrowest on top) as they pass by.
    using TRanked = std::pair<qreal, int>;
    std::vector<TRanked> ranked;
    ranked.reserve(candidates.Ranked.size() + 1);
    for (const auto &[width, row] : candidates.Ranked)
        ranked.emplace_back(qreal(width) / 64, int(row));
    std::make_heap(ranked.begin(), ranked.end(), std::greater<>());
    for (const std::uint32_t row : candidates.Unestimated)
        KeepLargest(ranked, {EstimatedWidth(text(int(row))), int(row)}, kWidthCandidates);
    std::sort(ranked.begin(), ranked.end(), std::greater<>());
    int widest = 0;
    int shaped = 0;
    for (const auto &[width, i] : ranked) {
        if (width + kSlack < widest)
            break;
        if (shaped++ == kMostShaped) {
            widest = std::max(widest, qRound(width));
            break;
        }
        widest = std::max(widest, TextWidth(text(i)));
    }
    return widest;
}

void TStringGrid::FitListedColumns()
{
    TAdvanceTable advances{};
    for (char16_t c = 0; c < 128; ++c)
        advances[c] = std::int32_t(std::lround(Advance(c) * 64));
    const std::vector<TCatalogueEntry> &entries = FModel->ListedEntries();
    // Without a thread to be had, the descriptions are ranked here after the names.
    std::future<TWidthCandidates> descriptions = std::async(
        entries.size() >= kRankApartFrom ? std::launch::async | std::launch::deferred : std::launch::deferred,
        [&] { return RankWidths(entries, TStringGridModel::ColDesc, advances); });
    const auto fit = [this](int column, const TWidthCandidates &candidates) {
        const int widest = WidestListedText(column, candidates);
        SetColumnRuleWidth(column, widest <= DefaultColWidth ? DefaultColWidth : widest + 6);
    };
    fit(TStringGridModel::ColName, RankWidths(entries, TStringGridModel::ColName, advances));
    fit(TStringGridModel::ColDesc, descriptions.get());
}

void TStringGrid::SetColumnRuleWidth(int column, int width)
{
    if (column != TStringGridModel::ColName && column != TStringGridModel::ColDesc)
        return;
    FRuleWidth[column] = width;
    if (column == TStringGridModel::ColName)
        setColumnWidth(column, width);
    FitDescriptionColumn();
}

int TStringGrid::ColumnRuleWidth(int column) const
{
    return column == TStringGridModel::ColName || column == TStringGridModel::ColDesc ? FRuleWidth[column] : 0;
}

void TStringGrid::FitDescriptionColumn()
{
    const int room = viewport()->width() - columnWidth(TStringGridModel::ColName);
    const int width = std::max(FRuleWidth[TStringGridModel::ColDesc], room);
    if (columnWidth(TStringGridModel::ColDesc) != width)
        setColumnWidth(TStringGridModel::ColDesc, width);
}

bool TStringGrid::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Resize)
        FitDescriptionColumn();
    return QTableView::viewportEvent(event);
}

void TStringGrid::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        FAdvances.clear();
    QTableView::changeEvent(event);
}

void TStringGrid::FocusChanged(QWidget *old, QWidget *now)
{
    const bool wasInside = old && (old == this || isAncestorOf(old));
    const bool isInside = now && (now == this || isAncestorOf(now));
    if (wasInside != isInside)
        viewport()->update(); // the selection's colours tell where the focus is
    if (!old || !now || !OnExit)
        return;
    // Only a move to another control of this window counts: a message box or another program
    // taking the focus is no exit.
    if (wasInside && !isInside && now->window() == window())
        ReportErrors([&] { OnExit(); });
}

void TStringGrid::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    // Tab and Shift+Tab in the cell editor go on to the next or previous control, as they do
    // from the table itself, rather than walking its cells: on a table of one row that walk
    // never left the row, so nothing was committed.
    if (hint == QAbstractItemDelegate::EditNextItem || hint == QAbstractItemDelegate::EditPreviousItem) {
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
        focusNextPrevChild(hint == QAbstractItemDelegate::EditNextItem);
        return;
    }
    QTableView::closeEditor(editor, hint);
}

void TStringGrid::keyPressEvent(QKeyEvent *event)
{
    // Enter opens the cell editor as F2 does; the editor itself closes on Enter.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier
        && state() != QAbstractItemView::EditingState && currentIndex().isValid()
        && (FModel->flags(currentIndex()) & Qt::ItemIsEditable)) {
        edit(currentIndex());
        return;
    }
    // A key that types into the cell asks first where the description is cut; refused, the key
    // does nothing else (it would search the rows).
    if (!event->text().isEmpty() && event->text().front().isPrint() && state() != EditingState
        && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) && !ConsentToEdit(currentIndex())) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}
