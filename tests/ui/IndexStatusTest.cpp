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
        window.ShowStatus({});
        ASSERT_TRUE(window.LoadFolder(folder));
        ASSERT_TRUE(window.LoadFolder(folder));
        EXPECT_TRUE(window.StatusLine->isHidden());
        EXPECT_EQ(DescriptionOf(window, "a.txt"), QStringLiteral("kept"));
        EXPECT_EQ(ProfileFile(folder + "/Folder.dnt").ReadString("Files", "gone.txt"), "");
    }
    ::unlink(folderOfIndex.constData());
}
