// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Main.h"

#include "UiTestSupport.h"

#include "catalogue/ProfileFile.h"
#include "index/DescriptionIndex.h"
#include "index/IndexUpdater.h"
#include "ui/StringGrid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <string>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

using namespace TestSupport;
using namespace UiTest;

namespace {
class IndexStatusTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        const QByteArray index = QFile::encodeName(DefaultIndexPath());
        for (const char *suffix : {"", "-wal", "-shm"})
            ::unlink((index + suffix).constData());
    }
    static QString DescriptionOf(TFrmMain &window, const QByteArray &name)
    {
        const TStringGridModel *model = window.StringGridFiles->GridModel();
        const int row = model->FindName(name);
        return row < 0 ? QStringLiteral("<not listed>") : model->Description(row);
    }
    // Lists the folder and waits for the index's work after it.
    static void List(TFrmMain &window, const QByteArray &folder)
    {
        ASSERT_TRUE(window.LoadFolder(folder));
        ASSERT_NE(window.IndexUpdater(), nullptr);
        window.IndexUpdater()->WaitIdle();
    }
    TTempDir Dir;
};
} // namespace

// The status line is hidden until it has something to say, then names the followed rename.
TEST_F(IndexStatusTest, RenameFollowedInTheListingIsShownInTheStatusLine)
{
    const QByteArray folder = Dir.MakeDir("work");
    WriteFileBytes(folder + "/a.txt", "a");
    WriteFileBytes(folder + "/Folder.dnt", "[Files]\r\na.txt=Notes of the meeting\r\n");
    TFrmMain window(NothingToList(Dir));
    QLabel *status = window.findChild<QLabel *>(QStringLiteral("StatusLine"));
    ASSERT_NE(status, nullptr);
    List(window, folder);
    EXPECT_TRUE(status->isHidden());

    ASSERT_EQ(::rename((folder + "/a.txt").constData(), (folder + "/b.txt").constData()), 0);
    window.RefreshFolder();
    EXPECT_EQ(status->text(), QStringLiteral("1 description followed its file (a.txt → b.txt)"));
    EXPECT_FALSE(status->isHidden());
    EXPECT_EQ(DescriptionOf(window, "b.txt"), QStringLiteral("Notes of the meeting"));
    EXPECT_EQ(ProfileFile(folder + "/Folder.dnt").ReadString("Files", "b.txt"), "Notes of the meeting");
}

// A file renamed while DirNote was closed keeps its description at the next start, whose folder
// is read while the window is built.
TEST_F(IndexStatusTest, ARenameWhileClosedIsFollowedAtTheNextStart)
{
    const QByteArray folder = Dir.MakeDir("work");
    WriteFileBytes(folder + "/a.txt", "a");
    WriteFileBytes(folder + "/Folder.dnt", "[Files]\r\na.txt=Notes of the meeting\r\n");
    {
        TFrmMain first({folder});
        ASSERT_NE(first.IndexUpdater(), nullptr);
        first.IndexUpdater()->WaitIdle();
    }
    ASSERT_EQ(::rename((folder + "/a.txt").constData(), (folder + "/b.txt").constData()), 0);
    TFrmMain window({folder});
    EXPECT_EQ(DescriptionOf(window, "b.txt"), QStringLiteral("Notes of the meeting"));
    EXPECT_EQ(window.findChild<QLabel *>(QStringLiteral("StatusLine"))->text(),
              QStringLiteral("1 description followed its file (a.txt → b.txt)"));
    EXPECT_EQ(ProfileFile(folder + "/Folder.dnt").ReadString("Files", "b.txt"), "Notes of the meeting");
}

// A file moved in from another folder gets its description after the rows are shown: the
// window lists the folder again and says so.
TEST_F(IndexStatusTest, MoveFollowedAfterTheListingRefreshesTheRows)
{
    const QByteArray from = Dir.MakeDir("from"), to = Dir.MakeDir("to");
    WriteFileBytes(from + "/plan.odt", "p");
    WriteFileBytes(from + "/Folder.dnt", "[Files]\r\nplan.odt=Garden plan\r\n");
    TFrmMain window(NothingToList(Dir));
    List(window, from);
    List(window, to);
    ASSERT_EQ(::rename((from + "/plan.odt").constData(), (to + "/plan.odt").constData()), 0);
    List(window, from);
    List(window, to);
    QLabel *status = window.StatusLine;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return DescriptionOf(window, "plan.odt") == QStringLiteral("Garden plan"); }, 5000))
        << DescriptionOf(window, "plan.odt").toStdString();
    EXPECT_TRUE(status->text().startsWith(QStringLiteral("1 description followed its file from another folder")))
        << status->text().toStdString();
    EXPECT_EQ(ProfileFile(to + "/Folder.dnt").ReadString("Files", "plan.odt"), "Garden plan");
}

// A damaged index is said once in the status line, replaced, and the window works on.
TEST_F(IndexStatusTest, DamagedIndexIsReportedOnceAndReplaced)
{
    const QByteArray index = QFile::encodeName(DefaultIndexPath());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(DefaultIndexPath()).path()));
    WriteFileBytes(index, QByteArray(8192, '\x5a'));
    const QByteArray folder = Dir.MakeDir("work");
    WriteFileBytes(folder + "/a.txt", "a");
    WriteFileBytes(folder + "/Folder.dnt", "[Files]\r\na.txt=kept\r\n");
    TFrmMain window(NothingToList(Dir));
    EXPECT_TRUE(window.StatusLine->text().contains(QStringLiteral("replaced")))
        << window.StatusLine->text().toStdString();
    EXPECT_FALSE(window.StatusLine->isHidden());
    window.ShowStatus({});
    List(window, folder);
    EXPECT_TRUE(window.StatusLine->isHidden());
    EXPECT_EQ(DescriptionOf(window, "a.txt"), QStringLiteral("kept"));
    ASSERT_TRUE(window.DescriptionIndex()->IsUsable());
    EXPECT_EQ(window.DescriptionIndex()->Search(QStringLiteral("kep")).size(), 1u);
}

// An index that cannot be opened at all: said once, and listings, pruning and commits go on.
TEST_F(IndexStatusTest, UnusableIndexIsReportedOnceAndTheWindowWorksWithoutIt)
{
    const QByteArray index = QFile::encodeName(DefaultIndexPath());
    const QByteArray folderOfIndex = index.left(index.lastIndexOf('/'));
    ASSERT_TRUE(QDir(QFile::decodeName(folderOfIndex)).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(QFile::decodeName(folderOfIndex)).path()));
    WriteFileBytes(folderOfIndex, "not a folder");
    const QByteArray folder = Dir.MakeDir("work");
    WriteFileBytes(folder + "/a.txt", "a");
    WriteFileBytes(folder + "/Folder.dnt", "[Files]\r\na.txt=kept\r\ngone.txt=stale\r\n");
    {
        TFrmMain window(NothingToList(Dir));
        EXPECT_TRUE(window.StatusLine->text().contains(QStringLiteral("cannot be used")))
            << window.StatusLine->text().toStdString();
        // Said once a run, it stays across listings.
        ASSERT_TRUE(window.LoadFolder(folder));
        EXPECT_TRUE(window.StatusLine->text().contains(QStringLiteral("cannot be used")))
            << window.StatusLine->text().toStdString();
        window.ShowStatus({});
        ASSERT_TRUE(window.LoadFolder(folder));
        ASSERT_TRUE(window.LoadFolder(folder));
        EXPECT_TRUE(window.StatusLine->isHidden());
        EXPECT_EQ(DescriptionOf(window, "a.txt"), QStringLiteral("kept"));
        EXPECT_EQ(ProfileFile(folder + "/Folder.dnt").ReadString("Files", "gone.txt"), "");
    }
    ::unlink(folderOfIndex.constData());
}

namespace {
// Files of this process cannot grow past `limit` bytes while it lives (root included): writes
// beyond it fail with EFBIG, as on a disk whose space or quota runs out.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &FOld);
        FOldSignal = std::signal(SIGXFSZ, SIG_IGN); // the write fails instead of the process
        const rlimit lower{limit, FOld.rlim_max};
        Set = ::setrlimit(RLIMIT_FSIZE, &lower) == 0;
    }
    ~TFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldSignal);
    }
    bool Set = false;

private:
    rlimit FOld{};
    void (*FOldSignal)(int) = nullptr;
};
} // namespace

// A moved file whose description cannot be written into its new folder: the status line says
// so, rather than the description staying away without a word.
TEST_F(IndexStatusTest, AMoveWhoseDescriptionCannotBeWrittenIsReportedInTheStatusLine)
{
    const QByteArray from = Dir.MakeDir("from"), to = Dir.MakeDir("to");
    WriteFileBytes(from + "/plan.odt", "p");
    WriteFileBytes(from + "/Folder.dnt", "[Files]\r\nplan.odt=Garden plan\r\n");
    // A description file larger than what may be written below; the lines are comments.
    QByteArray large = "[Files]\r\n";
    while (large.size() < 2 << 20)
        large += ';' + QByteArray(1000, 'c') + "\r\n";
    WriteFileBytes(to + "/Folder.dnt", large);
    TFrmMain window(NothingToList(Dir));
    List(window, from);
    List(window, to);
    ASSERT_EQ(::rename((from + "/plan.odt").constData(), (to + "/plan.odt").constData()), 0);
    List(window, from);

    {
        // The index and the settings stay far below the limit; the description file cannot.
        TFileSizeLimit limit(1 << 20);
        ASSERT_TRUE(limit.Set);
        List(window, to);
    }
    const QString expected = QStringLiteral("Unable to write to %1/Folder.dnt").arg(QString::fromUtf8(to));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.StatusLine->text().startsWith(expected); }, 5000))
        << window.StatusLine->text().toStdString();
    EXPECT_FALSE(window.StatusLine->isHidden());
    EXPECT_EQ(DescriptionOf(window, "plan.odt"), QString());
    EXPECT_EQ(ReadFileBytes(to + "/Folder.dnt"), large);
}

// A move followed into a folder the user has left since: the folder shown stays as listed and
// its status line does not speak of the other folder. The report may come after the next
// listing, or during it.
TEST_F(IndexStatusTest, AMoveIntoAFolderTheUserHasLeftLeavesTheShownFolderAlone)
{
    for (const bool duringListing : {false, true}) {
        SCOPED_TRACE(duringListing ? "reported during the next listing" : "reported after the next listing");
        TTempDir dir;
        const QByteArray from = dir.MakeDir("from"), to = dir.MakeDir("to"), other = dir.MakeDir("other");
        WriteFileBytes(from + "/plan.odt", "p");
        WriteFileBytes(from + "/Folder.dnt", "[Files]\r\nplan.odt=Garden plan\r\n");
        WriteFileBytes(other + "/shown.txt", "s");
        TFrmMain window(NothingToList(dir));
        List(window, from);
        List(window, to);
        ASSERT_EQ(::rename((from + "/plan.odt").constData(), (to + "/plan.odt").constData()), 0);
        List(window, from);

        if (duringListing) {
            // The index has followed the move into "to" and its report waits in the event loop,
            // which the listing of "other" runs.
            ASSERT_TRUE(window.LoadFolder(to));
            window.IndexUpdater()->WaitIdle();
            ASSERT_TRUE(window.LoadFolder(other));
        } else {
            List(window, other);
            TFolderUpdate update;
            update.Moved.push_back({false, from + '/', "plan.odt", "plan.odt"});
            Q_EMIT window.IndexUpdater()->Updated(to + '/', update);
        }
        // A file that a new listing of "other" would show.
        WriteFileBytes(other + "/later.txt", "l");
        QTest::qWait(200);
        window.IndexUpdater()->WaitIdle();
        QCoreApplication::processEvents();
        EXPECT_EQ(window.DescFilePath(), other + "/Folder.dnt");
        EXPECT_EQ(window.StringGridFiles->GridModel()->FindName("later.txt"), -1)
            << "the shown folder was listed again";
        EXPECT_FALSE(window.StatusLine->text().contains(QStringLiteral("plan.odt")))
            << window.StatusLine->text().toStdString();
    }
}

// What the status line said about one listing is gone once another replaces it, however that
// comes: F5, a subfolder entered, a second start's hand-off. A listing's own message stays.
TEST_F(IndexStatusTest, EachListingClearsTheStatusLineOfTheOneBefore)
{
    const QByteArray folder = Dir.MakeDir("work");
    const QByteArray sub = Dir.MakeDir("work/sub");
    const struct {
        const char *Way;
        std::function<void(TFrmMain &)> List;
    } ways[] = {
        {"F5",
         [](TFrmMain &window) {
             window.StringGridFiles->setFocus();
             Key(Qt::Key_F5);
         }},
        {"into a subfolder",
         [](TFrmMain &window) {
             window.StringGridFolders->setFocus();
             window.StringGridFolders->SetCurrentCell(1, window.StringGridFolders->GridModel()->FindName("sub"));
             Key(Qt::Key_Return, Qt::ControlModifier);
         }},
        {"a hand-off",
         [&folder](TFrmMain &) {
             std::atomic<bool> done{false};
             std::thread secondStart([&] {
                 HandOffToPrevInstance(QStringLiteral("TFrmMain"), TFrmMain::AppId, {folder});
                 done = true;
             });
             EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
             secondStart.join();
         }},
    };
    for (const char *name : {"/old1.txt", "/old2.txt", "/old3.txt"})
        WriteFileBytes(folder + name, "x");
    WriteFileBytes(folder + "/Folder.dnt", "[Files]\r\nold1.txt=One\r\nold2.txt=Two\r\nold3.txt=Three\r\n");
    TFrmMain window(NothingToList(Dir));
    ASSERT_NE(window.PrevInstServer(), nullptr);
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));

    int n = 0;
    for (const auto &way : ways) {
        SCOPED_TRACE(way.Way);
        const QByteArray number = QByteArray::number(++n);
        List(window, folder);
        ASSERT_EQ(
            ::rename((folder + "/old" + number + ".txt").constData(), (folder + "/new" + number + ".txt").constData()),
            0);
        window.RefreshFolder();
        // The listing's own message.
        ASSERT_TRUE(window.StatusLine->text().startsWith(QStringLiteral("1 description followed its file")))
            << window.StatusLine->text().toStdString();
        ASSERT_FALSE(window.StatusLine->isHidden());

        way.List(window);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.StatusLine->isHidden(); }, 5000))
            << window.StatusLine->text().toStdString();
        EXPECT_EQ(window.StatusLine->text(), QString());
        EXPECT_EQ(window.DescFilePath(), (way.Way == std::string("into a subfolder") ? sub : folder) + "/Folder.dnt");
    }
}
