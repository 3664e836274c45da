// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The search field above the tables: as the user types, the descriptions of every indexed folder
// that match are listed, with the matches highlighted. The index is searched on a thread of its
// own, after a short pause in the typing, so typing never waits for it.

#include "index/DescriptionIndex.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <stop_token>
#include <vector>

class QLabel;
class QLineEdit;
class QSplitter;
class QTreeView;

// Gives `panel`, a pane of `splitter` just shown, three fifths of the height that the panes had
// before (`before`, the panel hidden): the hits are what the user looks at now. The other panes
// keep their proportions in the rest.
void GiveSearchPanelItsShare(QSplitter *splitter, QWidget *panel, const QList<int> &before);

// A snippet's text as rich text: its matches (between \x01 and \x02) bold, everything else
// escaped, so that a description that looks like markup shows as typed.
QString SnippetToHtml(const QString &snippet);

// The hits of the last search: the folder, the entry's name (a folder's with a trailing "/") and
// the matching text.
class TSearchResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int ColFolder = 0, ColName = 1, ColText = 2;
    // The snippet as rich text, for the highlighting delegate.
    static constexpr int SnippetHtmlRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void SetHits(std::vector<TIndexHit> hits);
    const TIndexHit &Hit(int row) const { return FHits[size_t(row)]; }

private:
    std::vector<TIndexHit> FHits;
};

// Draws a cell's SnippetHtmlRole as rich text.
class TSnippetDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

// Lives on the search thread with an index object of its own; a query that a newer one has
// replaced before its turn is skipped.
class TSearchWorker : public QObject {
    Q_OBJECT
public:
    // A search under way when `closing` asks to stop ends at once, without hits.
    TSearchWorker(QString indexPath, std::shared_ptr<std::atomic<quint64>> latest, std::stop_token closing);
    ~TSearchWorker() override;
    // Runs on the search thread; `deliver` is called there with the hits and the index's problem.
    void Run(quint64 generation, const QString &query,
             const std::function<void(std::vector<TIndexHit>, QString)> &deliver);

private:
    QString FIndexPath;
    std::shared_ptr<std::atomic<quint64>> FLatest;
    std::stop_token FClosing;
    std::unique_ptr<TDescriptionIndex> FIndex;
};

class TSearchPanel : public QWidget {
    Q_OBJECT
public:
    // The pause in the typing after which the index is searched.
    static constexpr int DebounceMs = 100;
    static constexpr int MostHits = 200;

    explicit TSearchPanel(const QString &indexPath, QWidget *parent = nullptr);
    ~TSearchPanel() override;

    // Shows the panel with the focus in its field, its text selected.
    void Open();
    // Hides the panel; Closed tells the window to take the focus back.
    void Close();
    const TSearchResultModel *Results() const { return FResults; }
    // Whether the hits listed are those of the field's text (no search pending or running).
    bool IsUpToDate() const { return !FPause.isActive() && FShownGeneration == FLatest->load(); }
    // Searches for the field's text now (the pause in typing starts it otherwise).
    void SearchNow();
    // The hit at a row of the results, as Enter or a double click choose it.
    void Choose(int row);

    QLineEdit *SearchEdit = nullptr;
    QTreeView *SearchResults = nullptr;
    QLabel *SearchStatus = nullptr;

Q_SIGNALS:
    void Chosen(const TIndexHit &hit);
    void Closed();
    // A search's hits are listed (tests wait for this).
    void ResultsShown();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ShowHits(quint64 generation, const QString &query, std::vector<TIndexHit> hits, const QString &problem);

    // The number of the latest query, shared with the worker (declared before it: the worker is
    // made with it), and of the one listed.
    std::shared_ptr<std::atomic<quint64>> FLatest = std::make_shared<std::atomic<quint64>>(0);
    // Asked to stop when the panel goes: a search under way need not finish.
    std::stop_source FClosing;
    TSearchResultModel *FResults;
    QTimer FPause;
    QThread FThread;
    TSearchWorker *FWorker;
    quint64 FShownGeneration = 0;
    bool FChooseWhenShown = false;
};
