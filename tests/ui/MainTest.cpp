#include "UiTestSupport.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileFile.h"
#include "common/Exceptions.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include "system/FoldrDlg.h"

#include <unistd.h>

using namespace TestSupport;
using namespace UiTest;

namespace {
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MessageLog().Requests.clear();
        MessageLog().Answers.clear();
    }
    QByteArray DescPath() const { return Dir.FilePath("Folder.dnt"); }
    QByteArray Bytes() const { return ReadFileBytes(DescPath()); }
    TStringGridModel *Folders() const { return Window.StringGridFolders->GridModel(); }
    TStringGridModel *Files() const { return Window.StringGridFiles->GridModel(); }
    int FileRow(const QByteArray &name) const { return Files()->FindName(name); }

    TTempDir Dir;
    TFrmMain Window;
};
} // namespace

TEST_F(MainWindowTest, ListingFillsTablesLabelAndCreatesTheDescriptionFile)
{
    EXPECT_EQ(Window.LabelCurrFolder->text(), QStringLiteral("(none)"));
    EXPECT_EQ(Window.LabelCurrFolder->toolTip(), QStringLiteral("(none)"));
    EXPECT_FALSE(Window.StringGridFolders->isEnabled());

    Dir.MakeDir("Sub");
    Dir.WriteFile("a.txt", "x");
    Dir.WriteFile("b.txt", "x");
    Dir.WriteFile("Folder.dnt", "[Folders]\r\n[Files]\r\nA.TXT=first file\r\nghost.txt=gone\r\n");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    const QString shown = QString::fromUtf8(Dir.Path()) + u'/';
    EXPECT_EQ(Window.LabelCurrFolder->text(), shown);
    EXPECT_EQ(Window.LabelCurrFolder->toolTip(), shown);
    EXPECT_EQ(Window.DescFilePath(), Dir.Path() + "/Folder.dnt");
    EXPECT_EQ(Folders()->rowCount(), 1);
    EXPECT_EQ(Folders()->Name(0), QByteArray("Sub"));
    ASSERT_EQ(Files()->rowCount(), 2);
    EXPECT_EQ(Files()->Description(FileRow("a.txt")), QStringLiteral("first file"));
    EXPECT_EQ(Files()->Stored(FileRow("a.txt")), QStringLiteral("first file"));
    EXPECT_FALSE(Bytes().contains("ghost"));
    // The cursor stands on the first undescribed file, in the description column.
    EXPECT_EQ(Window.StringGridFiles->Row(), FileRow("b.txt"));
    EXPECT_EQ(Window.StringGridFiles->Col(), 1);
    EXPECT_TRUE(Window.StringGridFiles->isEnabled());

    // The same folder with a trailing "/" gives the same result.
    ASSERT_TRUE(Window.LoadFolder(Dir.Path() + '/'));
    EXPECT_EQ(Window.LabelCurrFolder->text(), shown);
    EXPECT_EQ(Window.DescFilePath(), Dir.Path() + "/Folder.dnt");

    // A missing folder or an empty path changes nothing.
    EXPECT_FALSE(Window.LoadFolder(Dir.Path() + "/missing"));
    EXPECT_FALSE(Window.LoadFolder(QByteArray()));
    EXPECT_EQ(Window.LabelCurrFolder->text(), shown);
    EXPECT_EQ(Files()->rowCount(), 2);
}

TEST_F(MainWindowTest, EmptyFolderAndFolderWithOnlySubfolders)
{
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    for (TStringGrid *grid : {Window.StringGridFolders, Window.StringGridFiles}) {
        EXPECT_EQ(grid->GridModel()->rowCount(), 1);
        EXPECT_TRUE(grid->GridModel()->Name(0).isEmpty());
        EXPECT_FALSE(grid->isEnabled());
        EXPECT_EQ(grid->Row(), 0);
        EXPECT_EQ(grid->Col(), 1);
    }
    EXPECT_EQ(Bytes(), DefaultDescriptionContent());
    // The description file never lists itself.
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    EXPECT_TRUE(Files()->Name(0).isEmpty());

    Dir.MakeDir("only");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    EXPECT_TRUE(Window.StringGridFolders->isEnabled());
    EXPECT_FALSE(Window.StringGridFiles->isEnabled());
}

TEST_F(MainWindowTest, ColumnWidthsFollowTheWidestText)
{
    Dir.WriteFile("short", "x");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    EXPECT_EQ(Window.StringGridFiles->columnWidth(0), 140);
    EXPECT_EQ(Window.StringGridFiles->columnWidth(1), 140);

    const QByteArray longName = QByteArray(60, 'W') + ".txt";
    Dir.WriteFile(longName, "x");
    WriteFileBytes(DescPath(), "[Files]\r\nshort=" + QByteArray(80, 'M') + "\r\n");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    const int nameWidth = Window.StringGridFiles->TextWidth(QString::fromUtf8(longName));
    ASSERT_GT(nameWidth, 140);
    EXPECT_EQ(Window.StringGridFiles->columnWidth(0), nameWidth + 6);
    EXPECT_EQ(Window.StringGridFiles->columnWidth(1),
              Window.StringGridFiles->TextWidth(QString(80, u'M')) + 6);
}

TEST_F(MainWindowTest, ACreationFailureIsRaisedAfterTheTablesAreFilled)
{
    // A folder where no file may be created: a read-only one for an ordinary user; for root, who
    // ignores permissions, a folder of the kernel's read-only file system.
    QByteArray folder = Dir.Path();
    Dir.MakeDir("sub");
    if (::geteuid() == 0)
        folder = "/sys/fs";
    else
        ::chmod(Dir.Path().constData(), 0555);
    if (!IsExistingFolder(folder))
        GTEST_SKIP() << "no read-only folder to list here";
    try {
        Window.LoadFolder(folder);
        FAIL() << "no error for a description file that cannot be created";
    } catch (const TException &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("File access denied"));
    }
    ::chmod(Dir.Path().constData(), 0755);
    EXPECT_FALSE(Folders()->Name(0).isEmpty());
    EXPECT_EQ(Window.DescFilePath(), folder + "/Folder.dnt");
    EXPECT_EQ(Window.LabelCurrFolder->text(), QString::fromUtf8(folder) + u'/');
    EXPECT_TRUE(Window.StringGridFolders->isEnabled());
    // The cursor was not placed, and the handlers are attached again.
    EXPECT_EQ(Window.StringGridFolders->Row(), 0);
    EXPECT_TRUE(static_cast<bool>(Window.StringGridFolders->OnSelectCell));
}

TEST_F(MainWindowTest, TypingThenDownWritesOnceAndMovingWithoutTypingWritesNothing)
{
    Dir.WriteFile("a.txt", "x");
    Dir.WriteFile("b.txt", "x");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    Window.StringGridFiles->setFocus();
    const int first = Window.StringGridFiles->Row();
    const QByteArray name = Files()->Name(first);

    Type(QStringLiteral("Budget 2026 \u00e9"));
    // The cell holds the text while the editor is still open.
    EXPECT_EQ(Files()->Description(first), QStringLiteral("Budget 2026 \u00e9"));
    const auto before = Inode(DescPath());
    Key(Qt::Key_Down);
    EXPECT_EQ(Window.StringGridFiles->Row(), first + 1);
    EXPECT_NE(Inode(DescPath()), before);
    EXPECT_TRUE(Bytes().contains("[Files]\r\n" + name + "=Budget 2026 \xc3\xa9\r\n"));

    const auto written = Inode(DescPath());
    Key(Qt::Key_Up);
    Key(Qt::Key_Down);
    Key(Qt::Key_Up);
    EXPECT_EQ(Inode(DescPath()), written);
    EXPECT_EQ(Window.StringGridFiles->Row(), first);

    // Changing only the letter case is a change.
    Key(Qt::Key_F2);
    Key(Qt::Key_Home);
    Key(Qt::Key_Delete);
    Type(QStringLiteral("b"));
    Key(Qt::Key_Down);
    EXPECT_TRUE(Bytes().contains(name + "=budget 2026 \xc3\xa9\r\n"));
    EXPECT_EQ(ProfileFile(DescPath()).ReadSection("Files").size(), 1);
}

TEST_F(MainWindowTest, EmptyingADescribedCellBringsTheStoredTextBack)
{
    Dir.WriteFile("a.txt", "x");
    Dir.WriteFile("b.txt", "x");
    Dir.WriteFile("Folder.dnt", "[Files]\r\na.txt=keep me\r\nb.txt=other\r\n");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    const QByteArray original = Bytes();
    Window.StringGridFiles->setFocus();
    const int row = FileRow("a.txt");
    ASSERT_TRUE(Window.StringGridFiles->SetCurrentCell(1, row));
    Key(Qt::Key_F2);
    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_Backspace);
    EXPECT_TRUE(Files()->Description(row).isEmpty());
    Key(row == 0 ? Qt::Key_Down : Qt::Key_Up);
    EXPECT_EQ(Files()->Description(row), QStringLiteral("keep me"));
    EXPECT_EQ(Bytes(), original);
}

TEST_F(MainWindowTest, ClicksOnTheNameColumnNeverTakeTheCursor)
{
    Dir.WriteFile("a.txt", "x");
    Dir.WriteFile("b.txt", "x");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    TStringGrid *grid = Window.StringGridFiles;
    grid->setFocus();
    ClickCell(grid, 0, 0);
    EXPECT_EQ(grid->Col(), 1);
    ClickCell(grid, 0, 1);
    EXPECT_EQ(grid->Col(), 1);
    EXPECT_EQ(grid->Row(), 0);
    Key(Qt::Key_Left);
    EXPECT_EQ(grid->Col(), 1);
    Key(Qt::Key_Right);
    EXPECT_EQ(grid->Col(), 1);
    ClickCell(grid, 1, 1);
    EXPECT_EQ(grid->Row(), 1);
    EXPECT_EQ(grid->Col(), 1);
}

TEST_F(MainWindowTest, NewKeysGoToTheEndOfTheirSectionChangedOnesStayInPlace)
{
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        Dir.WriteFile(name, "x");
    Dir.WriteFile("Folder.dnt", "[Files]\r\nc.txt=third\r\na.txt=first\r\n\r\n[ThisFolder]\r\nText0=t\r\n");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    Window.StringGridFiles->setFocus();
    ASSERT_TRUE(Window.StringGridFiles->SetCurrentCell(1, FileRow("b.txt")));
    Type(QStringLiteral("second"));
    ASSERT_TRUE(Window.StringGridFiles->SetCurrentCell(1, FileRow("c.txt")));
    Key(Qt::Key_F2);
    Key(Qt::Key_End);
    Type(QStringLiteral("!"));
    ASSERT_TRUE(Window.StringGridFiles->SetCurrentCell(1, FileRow("a.txt")));
    EXPECT_EQ(Bytes(), QByteArray("[Files]\r\nc.txt=third!\r\na.txt=first\r\nb.txt=second\r\n\r\n"
                                  "[ThisFolder]\r\nText0=t\r\n"));
}

TEST_F(MainWindowTest, ALongDescriptionWidensItsColumnAndAShortOneNeverNarrowsIt)
{
    Dir.WriteFile("a.txt", "x");
    Dir.WriteFile("b.txt", "x");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    TStringGrid *grid = Window.StringGridFiles;
    grid->setFocus();
    const QString text = QStringLiteral("a description far wider than the column it starts in");
    Type(text);
    Key(Qt::Key_Down);
    const int wide = grid->TextWidth(text) + 6;
    EXPECT_EQ(grid->columnWidth(1), wide);
    Type(QStringLiteral("short"));
    Key(Qt::Key_Up);
    EXPECT_EQ(grid->columnWidth(1), wide);
}

TEST_F(MainWindowTest, FocusLeavingTheTableCommits)
{
    Dir.WriteFile("a.txt", "x");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    Window.StringGridFiles->setFocus();
    Type(QStringLiteral("typed then clicked away"));
    // The editor is still open when the button takes the focus.
    QTest::mouseClick(Window.BitBtnRefreshFolder, Qt::LeftButton);
    EXPECT_TRUE(Bytes().contains("a.txt=typed then clicked away\r\n"));
}

TEST_F(MainWindowTest, AFailedWriteShowsTheMessageAndKeepsTheCursorEachTime)
{
    Dir.WriteFile("a.txt", "x");
    Dir.WriteFile("b.txt", "x");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    TStringGrid *grid = Window.StringGridFiles;
    grid->setFocus();
    const int row = grid->Row();
    Type(QStringLiteral("cannot be stored"));
    // The folder disappears behind the window's back; root cannot write there either.
    const QByteArray moved = Dir.Path() + "-moved";
    ASSERT_EQ(::rename(Dir.Path().constData(), moved.constData()), 0);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        Key(Qt::Key_Down);
        ASSERT_EQ(MessageLog().Requests.size(), size_t(attempt));
        EXPECT_EQ(MessageLog().Requests.back().Text,
                  QStringLiteral("Unable to write to %1.").arg(QString::fromUtf8(Dir.Path() + "/Folder.dnt")));
        EXPECT_EQ(MessageLog().Requests.back().Type, TMsgDlgType::mtError);
        EXPECT_EQ(grid->Row(), row);
        EXPECT_EQ(grid->GridModel()->Description(row), QStringLiteral("cannot be stored"));
    }
    // Back in place, the next attempt stores it.
    ASSERT_EQ(::rename(moved.constData(), Dir.Path().constData()), 0);
    Key(Qt::Key_Down);
    EXPECT_EQ(grid->Row(), row + 1);
    EXPECT_TRUE(Bytes().contains("=cannot be stored\r\n"));
}

TEST_F(MainWindowTest, RefreshPutsTheCursorBackOnItsNames)
{
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        Dir.WriteFile(name, "x");
    Dir.MakeDir("one");
    Dir.MakeDir("two");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    const int cRow = FileRow("c.txt");
    const int twoRow = Folders()->FindName("two");
    ASSERT_TRUE(Window.StringGridFiles->SetCurrentCell(1, cRow));
    ASSERT_TRUE(Window.StringGridFolders->SetCurrentCell(1, twoRow));
    Dir.WriteFile("d.txt", "x");
    QTest::mouseClick(Window.BitBtnRefreshFolder, Qt::LeftButton);
    EXPECT_EQ(Files()->rowCount(), 4);
    EXPECT_EQ(Files()->Name(Window.StringGridFiles->Row()), QByteArray("c.txt"));
    EXPECT_EQ(Folders()->Name(Window.StringGridFolders->Row()), QByteArray("two"));

    // A file deleted meanwhile: the cursor stays where the listing put it.
    ::unlink(Dir.FilePath("c.txt").constData());
    WriteFileBytes(DescPath(), "[Files]\r\na.txt=described\r\n");
    Window.BitBtnRefreshFolderClick();
    const int expected = Files()->FirstUndescribed();
    EXPECT_EQ(Window.StringGridFiles->Row(), expected);
    EXPECT_NE(Files()->Name(expected), QByteArray("a.txt"));
}

TEST_F(MainWindowTest, UnstorableNamesAreReportedAndTheFileStaysIntact)
{
    Dir.WriteFile(" leading blank.txt", "x");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    const QByteArray before = Bytes();
    Files()->SetDescription(0, QStringLiteral("text"));
    EXPECT_THROW(Window.StringGridFilesExit(), TException);
    EXPECT_EQ(Bytes(), before);
}

TEST_F(MainWindowTest, SelectFolderListsAnotherFolderButNotTheCurrentOneAgain)
{
    const QByteArray other = Dir.MakeDir("other");
    Dir.WriteFile("other/inside.txt", "x");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    // Presses OK in the open picker once the chosen folder is selected.
    auto pressOk = [] {
        QWidget *picker = QApplication::activeModalWidget();
        ASSERT_NE(picker, nullptr);
        auto *ok = picker->findChild<QPushButton *>(QStringLiteral("ButtonOk"));
        ASSERT_NE(ok, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return ok->isEnabled(); }, 3000));
        QTest::mouseClick(ok, Qt::LeftButton);
    };
    // The current folder chosen again: nothing is listed again.
    const auto before = Inode(Dir.FilePath("Folder.dnt"));
    WriteFileBytes(Dir.FilePath("new.txt"), "x");
    QTimer::singleShot(0, pressOk); // the picker opens on the current folder
    Window.BitBtnSelectFolderClick();
    EXPECT_EQ(Files()->FindName("new.txt"), -1);
    EXPECT_EQ(Inode(Dir.FilePath("Folder.dnt")), before);

    // Another folder is listed.
    QTimer::singleShot(0, [&] {
        Window.FolderDialog->SetDirectory(QString::fromUtf8(other));
        pressOk();
    });
    Window.BitBtnSelectFolderClick();
    EXPECT_EQ(Window.DescFilePath(), other + "/Folder.dnt");
    EXPECT_EQ(Files()->Name(0), QByteArray("inside.txt"));
}

TEST_F(MainWindowTest, ClosingTheWindowCommitsWhatIsTypedEvenWithTheEditorOpen)
{
    Dir.WriteFile("a.txt", "x");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    Window.StringGridFiles->setFocus();
    Type(QStringLiteral("typed, then the window closed"));
    ASSERT_EQ(QApplication::focusWidget()->objectName(), QStringLiteral("InplaceEditor"));
    EXPECT_TRUE(Window.close());
    EXPECT_TRUE(Bytes().contains("a.txt=typed, then the window closed\r\n"));

    // A description that cannot be written keeps the window open.
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    Window.StringGridFiles->setFocus();
    Key(Qt::Key_F2);
    Type(QStringLiteral("again"));
    const QByteArray moved = Dir.Path() + "-moved";
    ASSERT_EQ(::rename(Dir.Path().constData(), moved.constData()), 0);
    EXPECT_FALSE(Window.close());
    EXPECT_TRUE(Window.isVisible());
    ASSERT_EQ(::rename(moved.constData(), Dir.Path().constData()), 0);
}

TEST_F(MainWindowTest, NamesDifferingOnlyInLetterCaseEachKeepTheirOwnDescription)
{
    // Over both tables: subfolders "Sub" and "sub", files "README" and "readme".
    Dir.MakeDir("Sub");
    Dir.MakeDir("sub");
    Dir.WriteFile("README", "x");
    Dir.WriteFile("readme", "x");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    for (TStringGrid *grid : {Window.StringGridFolders, Window.StringGridFiles}) {
        TStringGridModel *model = grid->GridModel();
        ASSERT_EQ(model->rowCount(), 2);
        grid->setFocus();
        ASSERT_TRUE(grid->SetCurrentCell(1, 0));
        Type(QStringLiteral("first"));
        Key(Qt::Key_Down);
        Type(QStringLiteral("second"));
        Key(Qt::Key_Up); // commits the second row
        ASSERT_TRUE(grid->SetCurrentCell(1, 1));
        const QByteArray secondName = model->Name(1);
        QTest::mouseClick(Window.BitBtnRefreshFolder, Qt::LeftButton);
        EXPECT_EQ(model->Description(0), QStringLiteral("first"));
        EXPECT_EQ(model->Description(1), QStringLiteral("second"));
        EXPECT_EQ(model->Name(grid->Row()), secondName); // the cursor is back on its own row
        EXPECT_TRUE(Bytes().contains(model->Name(0) + "=first\r\n" + model->Name(1) + "=second\r\n"));
    }
}

TEST_F(MainWindowTest, AFolderThatCannotBeListedIsReportedAndLosesNoDescription)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root lists a folder without read permission";
    const QByteArray photos = Dir.MakeDir("photos");
    Dir.WriteFile("photos/a.jpg", "x");
    const QByteArray stored = "[Files]\r\na.jpg=holiday\r\n";
    Dir.WriteFile("photos/Folder.dnt", stored);
    ::chmod(photos.constData(), 0311); // may be entered and written, not read
    try {
        Window.LoadFolder(photos);
        FAIL() << "no error for a folder that cannot be listed";
    } catch (const TException &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Unable to list the folder %1/").arg(QString::fromUtf8(photos)));
    }
    ::chmod(photos.constData(), 0755);
    EXPECT_EQ(ReadFileBytes(photos + "/Folder.dnt"), stored);
}
