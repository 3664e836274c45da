// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/IndexSearch.h"

#include "common/TextCodec.h"
#include "common/ThreadHandOff.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSplitter>
#include <QTextDocument>
#include <QTreeView>
#include <QVBoxLayout>

#include <utility>

QString SnippetToHtml(const QString &snippet)
{
    // Markers outside a match, or a match left open, are tolerated: the bold ends with the text.
    QString html;
    bool open = false;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= snippet.size(); ++i) {
        const QChar c = i < snippet.size() ? snippet[i] : QChar(u'\x01');
        if (c != u'\x01' && c != u'\x02')
            continue;
        html += snippet.mid(from, i - from).toHtmlEscaped();
        from = i + 1;
        if (i == snippet.size())
            break;
        if (c == u'\x01' && !open)
            html += QStringLiteral("<b>");
        else if (c == u'\x02' && open)
            html += QStringLiteral("</b>");
        else
            continue;
        open = !open;
    }
    if (open)
        html += QStringLiteral("</b>");
    return html;
}

void GiveSearchPanelItsShare(QSplitter *splitter, QWidget *panel, const QList<int> &before)
{
    const int at = splitter->indexOf(panel);
    qint64 others = 0;
    for (int i = 0; i < before.size(); ++i)
        if (i != at)
            others += before[i];
    if (at < 0 || others <= 0)
        return;
    const qint64 share = others * 3 / 5;
    QList<int> sizes;
    for (int i = 0; i < before.size(); ++i)
        sizes << int(i == at ? share : before[i] * (others - share) / others);
    splitter->setSizes(sizes);
}

// ---- results ----

int TSearchResultModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(FHits.size());
}

int TSearchResultModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant TSearchResultModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(FHits.size()))
        return {};
    const TIndexHit &hit = FHits[size_t(index.row())];
    if (role == SnippetHtmlRole && index.column() == ColText)
        return SnippetToHtml(hit.Snippet.isEmpty() ? hit.Text : hit.Snippet);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case ColFolder: return DecodeName(hit.Folder);
    case ColName: return DecodeName(hit.Name) + (hit.IsFolder ? QStringLiteral("/") : QString());
    case ColText: return hit.Text;
    }
    return {};
}

QVariant TSearchResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColFolder: return tr("Folder");
    case ColName: return tr("Name");
    case ColText: return tr("Description");
    }
    return {};
}

void TSearchResultModel::SetHits(std::vector<TIndexHit> hits)
{
    beginResetModel();
    FHits = std::move(hits);
    endResetModel();
}

void TSnippetDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QVariant html = index.data(TSearchResultModel::SnippetHtmlRole);
    if (!html.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    item.text.clear();
    const QStyle *style = item.widget ? item.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);

    QTextDocument document;
    document.setDefaultFont(item.font);
    document.setDocumentMargin(0);
    document.setHtml(html.toString());
    const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = item.palette;
    context.palette.setColor(
        QPalette::Text,
        item.palette.color(item.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    painter->save();
    painter->translate(area.left(), area.top() + (area.height() - document.size().height()) / 2);
    painter->setClipRect(QRectF(0, 0, area.width(), area.height()));
    document.documentLayout()->draw(painter, context);
    painter->restore();
}

// ---- worker ----

TSearchWorker::TSearchWorker(QString indexPath, std::shared_ptr<std::atomic<quint64>> latest, std::stop_token closing)
    : FIndexPath(std::move(indexPath)), FLatest(std::move(latest)), FClosing(std::move(closing))
{
}

TSearchWorker::~TSearchWorker() = default;

void TSearchWorker::Run(quint64 generation, const QString &query,
                        const std::function<void(std::vector<TIndexHit>, QString)> &deliver)
{
    if (generation != FLatest->load())
        return;
    // Opened on this thread at the first search: a connection is used by one thread only.
    if (!FIndex) {
        FIndex = std::make_unique<TDescriptionIndex>(FIndexPath);
        FIndex->SetStopToken(FClosing);
    }
    std::vector<TIndexHit> hits = FIndex->Search(query, TSearchPanel::MostHits);
    deliver(std::move(hits), FIndex->TakeProblem());
}

// ---- panel ----

TSearchPanel::TSearchPanel(const QString &indexPath, QWidget *parent)
    : QWidget(parent), FResults(new TSearchResultModel(this)),
      FWorker(new TSearchWorker(indexPath, FLatest, FClosing.get_token()))
{
    setObjectName(QStringLiteral("SearchPanel"));
    SearchEdit = new QLineEdit(this);
    SearchEdit->setObjectName(QStringLiteral("SearchEdit"));
    SearchEdit->setPlaceholderText(tr("Search the descriptions of every indexed folder"));
    SearchEdit->setAccessibleName(tr("Search descriptions"));
    SearchEdit->setAccessibleDescription(SearchEdit->placeholderText());
    SearchEdit->setClearButtonEnabled(true);
    SearchResults = new QTreeView(this);
    SearchResults->setObjectName(QStringLiteral("SearchResults"));
    SearchResults->setAccessibleName(tr("Matching descriptions"));
    SearchResults->setAccessibleDescription(tr("Enter lists the folder of the chosen one"));
    SearchResults->setModel(FResults);
    SearchResults->setRootIsDecorated(false);
    SearchResults->setUniformRowHeights(true);
    SearchResults->setAllColumnsShowFocus(true);
    SearchResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SearchResults->setItemDelegateForColumn(TSearchResultModel::ColText, new TSnippetDelegate(SearchResults));
    // What tells hits apart is often at the end of a folder's path as much as at its start: long
    // texts lose their middle (the whole is the tooltip), and the folder and the description
    // share the width.
    SearchResults->setTextElideMode(Qt::ElideMiddle);
    SearchResults->header()->setSectionResizeMode(TSearchResultModel::ColFolder, QHeaderView::Stretch);
    SearchResults->header()->setStretchLastSection(true);
    SearchStatus = new QLabel(this);
    SearchStatus->setObjectName(QStringLiteral("SearchStatus"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->setSpacing(2);
    layout->addWidget(SearchEdit);
    layout->addWidget(SearchResults, 1);
    layout->addWidget(SearchStatus);

    FPause.setSingleShot(true);
    FPause.setInterval(DebounceMs);
    connect(&FPause, &QTimer::timeout, this, &TSearchPanel::SearchNow);
    connect(SearchEdit, &QLineEdit::textChanged, this, [this] { FPause.start(); });
    // Enter, and a double click (or a single one where the style says so), choose a hit.
    connect(SearchResults, &QAbstractItemView::activated, this,
            [this](const QModelIndex &index) { Choose(index.row()); });
    SearchEdit->installEventFilter(this);
    SearchResults->installEventFilter(this);

    FThread.setObjectName(QStringLiteral("DirNote search"));
    FWorker->moveToThread(&FThread);
    connect(&FThread, &QThread::finished, FWorker, &QObject::deleteLater);
    FThread.start();
    hide();
}

TSearchPanel::~TSearchPanel()
{
    // A search under way stops at its next step; an answer posted to this panel is dropped
    // with it.
    FLatest->store(~quint64(0));
    FClosing.request_stop();
    FThread.quit();
    FThread.wait();
}

void TSearchPanel::Open()
{
    show();
    SearchEdit->setFocus(Qt::ShortcutFocusReason);
    SearchEdit->selectAll();
}

void TSearchPanel::Close()
{
    FPause.stop();
    FChooseWhenShown = false;
    hide();
    Q_EMIT Closed();
}

void TSearchPanel::SearchNow()
{
    FPause.stop();
    const QString query = SearchEdit->text().trimmed();
    const quint64 generation = ++*FLatest;
    if (query.isEmpty()) {
        ShowHits(generation, query, {}, {});
        return;
    }
    SearchStatus->setText(tr("Searching..."));
    // The panel outlives every search: its destructor waits for the thread. An answer still
    // posted when it is gone is dropped with it.
    InvokeOn(FWorker, [worker = FWorker, panel = this, generation, query] {
        worker->Run(generation, query, [panel, generation, query](std::vector<TIndexHit> hits, QString problem) {
            InvokeOn(panel, [panel, generation, query, hits = std::move(hits), problem]() mutable {
                panel->ShowHits(generation, query, std::move(hits), problem);
            });
        });
    });
}

void TSearchPanel::ShowHits(quint64 generation, const QString &query, std::vector<TIndexHit> hits,
                            const QString &problem)
{
    // An answer to a query typed over since is not shown.
    if (generation != FLatest->load())
        return;
    FShownGeneration = generation;
    const qsizetype count = qsizetype(hits.size());
    FResults->SetHits(std::move(hits));
    if (count > 0)
        SearchResults->setCurrentIndex(FResults->index(0, 0));
    if (!problem.isEmpty())
        SearchStatus->setText(tr("The index cannot be searched: %1").arg(problem));
    else if (query.isEmpty())
        SearchStatus->clear();
    else if (count == 0)
        SearchStatus->setText(tr("No description matches."));
    else if (count >= MostHits)
        SearchStatus->setText(tr("The first %n matches.", nullptr, int(count)));
    else
        SearchStatus->setText(count == 1 ? tr("1 match.") : tr("%n matches.", nullptr, int(count)));
    Q_EMIT ResultsShown();
    if (std::exchange(FChooseWhenShown, false))
        Choose(0);
}

void TSearchPanel::Choose(int row)
{
    if (row < 0 || row >= FResults->rowCount())
        return;
    // A copy: choosing lists another folder, which may search again and replace the hits.
    const TIndexHit hit = FResults->Hit(row);
    Q_EMIT Chosen(hit);
}

bool TSearchPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
        Close();
        return true;
    }
    if (watched != SearchEdit || key->modifiers() != Qt::NoModifier)
        return false;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter typed right after the text chooses among the hits of that text, once they are in.
        if (!IsUpToDate()) {
            FChooseWhenShown = true;
            if (FPause.isActive())
                SearchNow();
            return true;
        }
        Choose(SearchResults->currentIndex().isValid() ? SearchResults->currentIndex().row() : 0);
        return true;
    case Qt::Key_Down:
    case Qt::Key_PageDown:
        if (FResults->rowCount() == 0)
            return false;
        SearchResults->setFocus(Qt::TabFocusReason);
        return true;
    }
    return false;
}
