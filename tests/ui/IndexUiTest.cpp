// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's parts that use the description index: the search field, the pruned
// descriptions and the indexing of a folder tree, each against an index in the test's own
// XDG_DATA_HOME.

#include "UiTestSupport.h"

#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileFile.h"
#include "index/DescriptionIndex.h"
#include "index/IndexUpdater.h"
#include "settings/RegSpecial.h"
#include "settings/RegistryStore.h"
#include "ui/IndexSearch.h"
#include "ui/IndexTree.h"
#include "ui/PrunedDescriptions.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPaintEngine>
#include <QSplitter>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>

#include <climits>
#include <set>

#include <sqlite3.h>

using namespace TestSupport;
using namespace UiTest;

namespace {
constexpr int kDeadlineMs = 10000;

// Records the texts a widget draws, as the style has cut them to fit.
class TTextRecorder : public QPaintDevice {
public:
    TTextRecorder(QSize size, int dpi) : FSize(size), FDpi(dpi) {}
    QPaintEngine *paintEngine() const override { return &FEngine; }
    const QStringList &Texts() const { return FEngine.Texts; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth: return FSize.width();
        case PdmHeight: return FSize.height();
        case PdmDepth: return 32;
        case PdmNumColors: return INT_MAX;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return FDpi;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return int(devicePixelRatioFScale());
        default: return QPaintDevice::metric(metric);
        }
    }

private:
    class TEngine : public QPaintEngine {
    public:
        TEngine() : QPaintEngine(AllFeatures) {}
        bool begin(QPaintDevice *) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState &) override {}
        void drawPath(const QPainterPath &) override {}
        void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
        void drawTextItem(const QPointF &, const QTextItem &item) override { Texts << item.text(); }
        Type type() const override { return User; }
        QStringList Texts;
    };
    QSize FSize;
    int FDpi;
    mutable TEngine FEngine;
};

class IndexUiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unlink(RegistryFilePath(HKEY_CURRENT_USER).constData());
        // Each case starts from an empty index.
        QFile::remove(DefaultIndexPath());
        MessageLog() = {};
    }
    void TearDown() override
    {
        Window.reset();
        QFile::remove(DefaultIndexPath());
    }
    void Open(const QByteArray &folder)
    {
        Window = std::make_unique<TFrmMain>(QByteArrayList{folder});
        ASSERT_NO_FATAL_FAILURE(ShowAndActivate(*Window));
    }
    QAction *MenuItem(const QString &start) const
    {
        for (QAction *action : Window->WindowMenu()->actions())
            if (action->text().startsWith(start))
                return action;
        return nullptr;
    }
    // Indexes the Folder.dnt of each folder as it is on disk.
    static void IndexFolders(std::initializer_list<QByteArray> folders)
    {
        TDescriptionIndex index;
        for (const QByteArray &folder : folders)
            index.IndexFolder(folder + '/');
        ASSERT_TRUE(index.IsUsable()) << index.TakeProblem().toStdString();
    }
    // The rows the results list shows, as "folder|name|text".
    QStringList ShownHits() const
    {
        QStringList rows;
        const TSearchResultModel *results = Window->SearchPanel->Results();
        for (int row = 0; row < results->rowCount(); ++row) {
            QStringList cells;
            for (int col = 0; col < 3; ++col)
                cells << results->index(row, col).data().toString();
            rows << cells.join(u'|');
        }
        return rows;
    }
    bool WaitForHits(qsizetype count) const
    {
        // The hits of the text typed last, not those still shown from before.
        return QTest::qWaitFor(
            [&] { return Window->SearchPanel->IsUpToDate() && Window->SearchPanel->Results()->rowCount() == count; },
            kDeadlineMs);
    }
    int HitRow(const QString &name) const
    {
        const QStringList rows = ShownHits();
        for (int row = 0; row < rows.size(); ++row)
            if (rows[row].section(u'|', 1, 1) == name)
                return row;
        return -1;
    }
    QString Stored(const QByteArray &folder, const char *section, const QByteArray &key) const
    {
        ProfileFile profile(folder + "/Folder.dnt");
        return QString::fromUtf8(profile.ReadString(section, key));
    }

    TTempDir Dir;
    std::unique_ptr<TFrmMain> Window;
};
} // namespace

TEST(SnippetToHtmlTest, MatchesAreBoldAndEverythingElseIsEscaped)
{
    EXPECT_EQ(SnippetToHtml(QStringLiteral("a \x01"
                                           "budget\x02 <b>&co")),
              QStringLiteral("a <b>budget</b> &lt;b&gt;&amp;co"));
    // A match left open ends with the text; stray closing markers are dropped.
    EXPECT_EQ(SnippetToHtml(QStringLiteral("\x02x \x01y")), QStringLiteral("x <b>y</b>"));
    EXPECT_EQ(SnippetToHtml(QStringLiteral("\x01\x01z\x02\x02")), QStringLiteral("<b>z</b>"));
}

TEST_F(IndexUiTest, TypingListsTheHitsAndEnterOrADoubleClickListsTheHitsFolder)
{
    const QByteArray alpha = Dir.MakeDir("alpha"), beta = Dir.MakeDir("beta");
    Dir.WriteFile("alpha/report.txt", "x");
    Dir.WriteFile("alpha/other.txt", "x");
    Dir.MakeDir("beta/Drafts");
    Dir.WriteFile(
        "alpha/Folder.dnt",
        "[Folders]\n[Files]\nother.txt=Nothing to see\nreport.txt=Quarterly r\xC3\xA9sum\xC3\xA9 of the budget\n");
    Dir.WriteFile("beta/Folder.dnt", "[Folders]\nDrafts=Budget drafts <old>\n[Files]\n");
    ASSERT_NO_FATAL_FAILURE(IndexFolders({alpha, beta}));
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    Window->StringGridFolders->setFocus();
    // The search field is made at its first opening: a start does not wait for it.
    EXPECT_EQ(Window->findChild<TSearchPanel *>(), nullptr);

    Key(Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(Window->SearchPanel->isVisible());
    ASSERT_EQ(QApplication::focusWidget(), Window->SearchPanel->SearchEdit);
    Type(QStringLiteral("budg"));
    ASSERT_TRUE(WaitForHits(2)) << ShownHits().join(u'\n').toStdString();
    const int report = HitRow(QStringLiteral("report.txt")), drafts = HitRow(QStringLiteral("Drafts/"));
    ASSERT_GE(report, 0);
    ASSERT_GE(drafts, 0);
    EXPECT_EQ(ShownHits()[report],
              QString::fromUtf8(alpha) + QStringLiteral("/|report.txt|Quarterly résumé of the budget"));
    EXPECT_TRUE(Window->SearchPanel->Results()
                    ->index(drafts, TSearchResultModel::ColText)
                    .data(TSearchResultModel::SnippetHtmlRole)
                    .toString()
                    .contains(QStringLiteral("<b>Budget</b> drafts &lt;old&gt;")));
    EXPECT_EQ(Window->SearchPanel->SearchStatus->text(), QStringLiteral("2 matches."));

    // Without its accents, and by the keyboard: Down into the list, Enter on the hit.
    Window->SearchPanel->SearchEdit->clear();
    Type(QStringLiteral("resume"));
    ASSERT_TRUE(WaitForHits(1));
    Key(Qt::Key_Down);
    ASSERT_EQ(QApplication::focusWidget(), Window->SearchPanel->SearchResults);
    Key(Qt::Key_Return);
    EXPECT_FALSE(Window->SearchPanel->isVisible());
    EXPECT_EQ(Window->CurrentFolderPath(), alpha + '/');
    EXPECT_EQ(QApplication::focusWidget(), Window->StringGridFiles);
    EXPECT_EQ(Window->StringGridFiles->GridModel()->Name(Window->StringGridFiles->Row()), QByteArray("report.txt"));

    // The field opens again with its text; by the mouse, a double click on a hit.
    Key(Qt::Key_F, Qt::ControlModifier);
    Window->SearchPanel->SearchEdit->selectAll();
    Type(QStringLiteral("drafts"));
    ASSERT_TRUE(WaitForHits(1));
    QTreeView *list = Window->SearchPanel->SearchResults;
    const QRect cell = list->visualRect(Window->SearchPanel->Results()->index(0, 1));
    // A person's double click: a click, then the second press that makes it double.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    EXPECT_EQ(Window->CurrentFolderPath(), beta + '/');
    EXPECT_EQ(QApplication::focusWidget(), Window->StringGridFolders);
    EXPECT_EQ(Window->StringGridFolders->GridModel()->Name(Window->StringGridFolders->Row()), QByteArray("Drafts"));
}

// Closing while the index is held up by another program holding it (as a long update of a large
// listing holds it up too): the window goes at once, the description typed and not yet committed
// is on disk, and the folder's next listing brings the index up to date with it.
TEST_F(IndexUiTest, ClosingWaitsForNoIndexWorkAndKeepsTheTypedDescription)
{
    const QByteArray folder = Dir.MakeDir("notes");
    Dir.WriteFile("notes/plan.txt", "x");
    ASSERT_NO_FATAL_FAILURE(Open(folder));
    // The first listing's update is done before another program takes the index.
    Window->IndexUpdater()->WaitIdle();
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(DefaultIndexPath()).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    // A listing's update is queued behind the lock; then a description is typed.
    QTest::mouseClick(Window->BitBtnRefreshFolder, Qt::LeftButton);
    Window->StringGridFiles->setFocus();
    Type(QStringLiteral("typed right before closing"));

    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(Window->close());
    Window.reset();
    // The update and the commit's row each waited 2 s for the index before.
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_EQ(Stored(folder, "Files", "plan.txt"), QStringLiteral("typed right before closing"));
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    ASSERT_NO_FATAL_FAILURE(Open(folder));
    Window->IndexUpdater()->WaitIdle();
    TDescriptionIndex index;
    const std::vector<TIndexHit> hits = index.Search(QStringLiteral("typed right before"));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].Name, QByteArray("plan.txt"));
    EXPECT_TRUE(index.TakeProblem().isEmpty());
}

// Many hits: the list takes the room the window has (not four rows), grows with the window, and
// gives the tables their heights back when it closes; a long folder path shows both its start and
// its end, and is whole in its tooltip.
TEST_F(IndexUiTest, HitsUseTheWindowsRoomAndLongPathsKeepTheirStartAndEnd)
{
    constexpr int kHits = 40;
    QByteArray relative, deep;
    for (const char *part : {"projects", "customer-archive", "2026", "contracts", "signed-and-scanned", "final-copies"})
        deep = Dir.MakeDir(relative += (relative.isEmpty() ? "" : "/") + QByteArray(part));
    QByteArray file = "[Files]\n";
    for (int i = 0; i < kHits; ++i)
        file += "copy" + QByteArray::number(i) + ".pdf=scanned copy " + QByteArray::number(i) + "\n";
    Dir.WriteFile(relative + "/Folder.dnt", file);
    ASSERT_NO_FATAL_FAILURE(IndexFolders({deep}));
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    const QList<int> tables = Window->SplitterFolderFile->sizes();
    Key(Qt::Key_F, Qt::ControlModifier);
    Type(QStringLiteral("scanned"));
    ASSERT_TRUE(WaitForHits(kHits));

    QTreeView *list = Window->SearchPanel->SearchResults;
    const auto wholeRowsShown = [&] {
        QApplication::processEvents();
        int rows = 0;
        for (int row = 0; row < kHits; ++row)
            rows += list->viewport()->rect().contains(list->visualRect(Window->SearchPanel->Results()->index(row, 0)));
        return rows;
    };
    const int shown = wholeRowsShown();
    EXPECT_GE(shown, 8);
    Window->resize(Window->width(), Window->height() + 200);
    EXPECT_GE(wholeRowsShown(), shown + 8);

    const QString path = QString::fromUtf8(deep) + u'/';
    const QModelIndex first = Window->SearchPanel->Results()->index(0, TSearchResultModel::ColFolder);
    EXPECT_EQ(first.data(Qt::ToolTipRole).toString(), path);
    TTextRecorder recorder(list->viewport()->size(), list->logicalDpiX());
    list->viewport()->render(&recorder);
    QString cut;
    for (const QString &text : recorder.Texts())
        if (text.contains(QChar(0x2026)))
            cut = text;
    ASSERT_FALSE(cut.isEmpty()) << recorder.Texts().join(u'|').toStdString();
    const QString start = cut.section(QChar(0x2026), 0, 0), end = cut.section(QChar(0x2026), 1);
    EXPECT_TRUE(path.startsWith(start) && start.size() >= 4) << cut.toStdString();
    EXPECT_TRUE(path.endsWith(end) && end.size() >= 4) << cut.toStdString();

    Window->resize(Window->width(), Window->height() - 200);
    QApplication::processEvents();
    Key(Qt::Key_Escape);
    QApplication::processEvents();
    // The tables are the splitter's last two panes, the search field (made at its opening) above.
    EXPECT_EQ(Window->SplitterFolderFile->sizes().last(2), tables.last(2));
}

TEST_F(IndexUiTest, EnterRightAfterTypingChoosesAHitOfTheTextTypedAndEscClosesTheField)
{
    const QByteArray alpha = Dir.MakeDir("alpha"), beta = Dir.MakeDir("beta");
    Dir.WriteFile("alpha/a.txt", "x");
    Dir.WriteFile("beta/b.txt", "x");
    Dir.WriteFile("alpha/Folder.dnt", "[Files]\na.txt=apple pie\n");
    Dir.WriteFile("beta/Folder.dnt", "[Files]\nb.txt=banana bread\n");
    ASSERT_NO_FATAL_FAILURE(IndexFolders({alpha, beta}));
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    Window->StringGridFolders->setFocus();

    // Esc closes the field; the focus goes back to the table it came from.
    Key(Qt::Key_F, Qt::ControlModifier);
    Key(Qt::Key_Escape);
    EXPECT_FALSE(Window->SearchPanel->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), Window->StringGridFolders);
    EXPECT_EQ(Window->CurrentFolderPath(), Dir.Path() + '/');

    // The hits of "apple" are listed; "banana" typed over it and Enter at once go to banana's
    // folder, not to a hit of the text typed before.
    Key(Qt::Key_F, Qt::ControlModifier);
    Type(QStringLiteral("apple"));
    ASSERT_TRUE(WaitForHits(1));
    Window->SearchPanel->SearchEdit->selectAll();
    Type(QStringLiteral("banana"));
    Key(Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window->CurrentFolderPath() != Dir.Path() + '/'; }, kDeadlineMs));
    EXPECT_EQ(Window->CurrentFolderPath(), beta + '/');
    EXPECT_EQ(Window->StringGridFiles->GridModel()->Name(Window->StringGridFiles->Row()), QByteArray("b.txt"));
}

TEST_F(IndexUiTest, APrunedDescriptionIsRestoredToAnEntryOfTheCurrentFolderOrItsTextCopied)
{
    // Two descriptions pruned by a listing of "old": their files are gone.
    const QByteArray old = Dir.MakeDir("old"), current = Dir.MakeDir("current");
    Dir.WriteFile("old/Folder.dnt", "[Folders]\n[Files]\nreport.txt=Quarterly figures\nnotes.txt=Call the bank\n");
    {
        TDescriptionIndex index;
        index.UpdateFolder(ListAndPruneFolder(old + '/'));
        ASSERT_EQ(index.Pruned().size(), 2u) << index.TakeProblem().toStdString();
    }
    // The current folder has another file of the same name, and a described one.
    Dir.WriteFile("current/other.txt", "x");
    Dir.WriteFile("current/report.txt", "a new file");
    Dir.WriteFile("current/kept.txt", "x");
    Dir.WriteFile("current/Folder.dnt", "[Folders]\n[Files]\nkept.txt=Keep me\n");
    ASSERT_NO_FATAL_FAILURE(Open(current));
    MessageLog().Answers = {mrNo};

    bool seen = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<TFrmPrunedDescriptions *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        driver.stop();
        seen = true;
        ASSERT_EQ(dialog->ListPruned->topLevelItemCount(), 2);
        EXPECT_FALSE(dialog->LabelEmpty->isVisible());
        const int report = dialog->ListPruned->topLevelItem(0)->text(1) == QStringLiteral("report.txt") ? 0 : 1;
        QTreeWidgetItem *item = dialog->ListPruned->topLevelItem(report);
        EXPECT_EQ(item->text(0), QString::fromUtf8(old) + u'/');
        EXPECT_EQ(item->text(2), QStringLiteral("Quarterly figures"));
        EXPECT_FALSE(item->text(3).isEmpty());

        // The other one: "Copy text" puts it on the clipboard; given to a described entry, the
        // user is asked first and says no.
        dialog->SelectPruned(1 - report);
        QTest::mouseClick(dialog->BitBtnCopyText, Qt::LeftButton);
        EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("Call the bank"));
        dialog->SelectTarget(dialog->ComboTarget->findText(QStringLiteral("kept.txt")));
        QTest::mouseClick(dialog->BitBtnRestore, Qt::LeftButton);
        EXPECT_EQ(MessageLog().Requests.size(), 1u);
        EXPECT_EQ(dialog->ListPruned->topLevelItemCount(), 2);

        // The first goes by default to the entry of the same name.
        dialog->SelectPruned(report);
        EXPECT_EQ(dialog->ComboTarget->currentText(), QStringLiteral("report.txt"));
        QTest::mouseClick(dialog->BitBtnRestore, Qt::LeftButton);
        EXPECT_EQ(dialog->ListPruned->topLevelItemCount(), 1);
        // The last one restored leaves the list empty, and says so.
        dialog->SelectPruned(0);
        dialog->SelectTarget(dialog->ComboTarget->findText(QStringLiteral("other.txt")));
        QTest::mouseClick(dialog->BitBtnRestore, Qt::LeftButton);
        EXPECT_EQ(dialog->ListPruned->topLevelItemCount(), 0);
        EXPECT_TRUE(dialog->LabelEmpty->isVisible());
        EXPECT_FALSE(dialog->BitBtnRestore->isEnabled());
        dialog->reject();
    });
    driver.start(5);
    Window->StringGridFiles->setFocus();
    Key(Qt::Key_P, Qt::ControlModifier);
    ASSERT_TRUE(seen);

    EXPECT_EQ(Stored(current, "Files", "report.txt"), QStringLiteral("Quarterly figures"));
    EXPECT_EQ(Stored(current, "Files", "kept.txt"), QStringLiteral("Keep me"));
    EXPECT_EQ(Stored(current, "Files", "other.txt"), QStringLiteral("Call the bank"));
    TStringGridModel *files = Window->StringGridFiles->GridModel();
    EXPECT_EQ(files->Stored(files->FindName("report.txt")), QStringLiteral("Quarterly figures"));
    TDescriptionIndex index;
    EXPECT_TRUE(index.Pruned().empty());
}

TEST_F(IndexUiTest, IndexingATreeCancelledFromItsDialogLeavesTheWindowAndTheIndexUsable)
{
    constexpr int kFolders = 2000;
    Dir.MakeDir("tree");
    for (int i = 0; i < kFolders; ++i) {
        const QByteArray name = "tree/f" + QByteArray::number(i);
        Dir.MakeDir(name);
        Dir.WriteFile(name + "/Folder.dnt",
                      "[Folders]\n[Files]\nitem.txt=treeword number " + QByteArray::number(i) + "\n");
    }
    Dir.WriteFile("tree/top.txt", "x");
    ASSERT_NO_FATAL_FAILURE(Open(Dir.FilePath("tree")));

    bool seen = false, completed = true;
    qint64 done = 0;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<TFrmIndexTree *>(QApplication::activeModalWidget());
        // Part of the way through, as the progress shows it.
        if (!dialog || dialog->Progress().FoldersDone < 100)
            return;
        driver.stop();
        seen = true;
        EXPECT_GT(dialog->ProgressBar->value(), 0);
        QTest::mouseClick(dialog->BitBtnCancel, Qt::LeftButton);
        EXPECT_FALSE(dialog->IsRunning());
        EXPECT_FALSE(dialog->isVisible());
        completed = dialog->Completed();
        done = dialog->Progress().FoldersDone;
    });
    driver.start(5);
    QAction *item = MenuItem(QStringLiteral("Index this folder and its subfolders"));
    ASSERT_NE(item, nullptr);
    QElapsedTimer clock;
    clock.start();
    item->trigger();
    ASSERT_TRUE(seen);
    EXPECT_FALSE(completed);
    EXPECT_LT(done, kFolders);
    std::fprintf(stderr, "cancelled after %lld of %d folders, %lld ms\n", done, kFolders, clock.elapsed());

    // The window works on: typing is committed.
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate(*Window));
    Window->StringGridFiles->setFocus();
    Type(QStringLiteral("after the cancel"));
    Window->StringGridFolders->setFocus();
    EXPECT_EQ(Stored(Dir.FilePath("tree"), "Files", "top.txt"), QStringLiteral("after the cancel"));
    // What was indexed before the cancel is found.
    TDescriptionIndex index;
    const std::vector<TIndexHit> hits = index.Search(QStringLiteral("treeword"), kFolders + 1);
    EXPECT_TRUE(index.IsUsable()) << index.TakeProblem().toStdString();
    // Every folder the progress counted is in it (the root holds no such word).
    EXPECT_GE(qint64(hits.size()), done - 1);
    EXPECT_LT(hits.size(), size_t(kFolders));
}

// The dialog over a tree of a few hundred folders: the bar is busy while the tree is counted,
// then moves only forward and is full only when the walk has ended, and the end says how many
// folders were indexed (as the test counted them).
TEST_F(IndexUiTest, IndexingATreeShowsAnEvenProgressAndTheCountOfTheFoldersIndexed)
{
    Dir.MakeDir("tree");
    qint64 folders = 1;
    for (int i = 0; i < 30; ++i) {
        const QByteArray top = "tree/t" + QByteArray::number(i);
        Dir.MakeDir(top);
        Dir.WriteFile(top + "/Folder.dnt", "[Files]\nitem.txt=dialogword " + QByteArray::number(i) + "\n");
        ++folders;
        for (int j = 0; j < i % 19; ++j, ++folders)
            Dir.MakeDir(top + "/s" + QByteArray::number(j));
    }
    ASSERT_GT(folders, 250);

    struct TShown {
        int Maximum, Value;
        QString Label;
    };
    std::vector<TShown> shown;
    TFrmIndexTree dialog(Dir.FilePath("tree"), DefaultIndexPath());
    QObject::connect(&dialog, &TFrmIndexTree::ProgressShown, [&] {
        shown.push_back({dialog.ProgressBar->maximum(), dialog.ProgressBar->value(), dialog.LabelProgress->text()});
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.IsRunning(); }, kDeadlineMs));
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(dialog.Completed());
    EXPECT_EQ(shown.back().Label.toStdString(), QStringLiteral("Done: %1 folders indexed.").arg(folders).toStdString());
    EXPECT_EQ(dialog.Progress().FoldersDone, folders);
    EXPECT_EQ(shown.back().Value, shown.back().Maximum);
    double lastShare = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE(shown[i].Label.toStdString());
        // A busy bar (no maximum) tells no share; it comes before any count.
        const double share = shown[i].Maximum > 0 ? double(shown[i].Value) / shown[i].Maximum : 0.0;
        EXPECT_GE(share, lastShare);
        if (i + 1 < shown.size()) {
            EXPECT_LT(share, 1.0);
        }
        lastShare = share;
    }
    EXPECT_EQ(TDescriptionIndex().Search(QStringLiteral("dialogword")).size(), 30u);
}
