// SPDX-License-Identifier: GPL-3.0-or-later
#include "UiTestSupport.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileFile.h"
#include "common/Exceptions.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include "system/FoldrDlg.h"

#include <memory>

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
    TFrmMain Window{NothingToList(Dir)};
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

TEST_F(MainWindowTest, ACreationFailureIsRaisedAfterTheTablesAreFilled)
{
    // A folder where no file may be created: a read-only one for an ordinary user; for root, who
    // ignores permissions, a folder of the kernel's read-only file system.
    QByteArray folder = Dir.Path();
    Dir.MakeDir("sub");
    if (::geteuid() == 0)
        folder = "/sys/fs";
    else {
        Dir.WriteFile("a.txt", "x");
        ::chmod(Dir.Path().constData(), 0555);
    }
    const auto restoreMode = qScopeGuard([&] { ::chmod(Dir.Path().constData(), 0755); });
    if (!IsExistingFolder(folder))
        GTEST_SKIP() << "no read-only folder to list here";
    try {
        Window.LoadFolder(folder);
        FAIL() << "no error for a description file that cannot be created";
    } catch (const TException &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("File access denied"));
    }
    EXPECT_FALSE(Folders()->Name(0).isEmpty());
    EXPECT_EQ(Window.DescFilePath(), folder + "/Folder.dnt");
    EXPECT_EQ(Window.LabelCurrFolder->text(), QString::fromUtf8(folder) + u'/');
    EXPECT_TRUE(Window.StringGridFolders->isEnabled());
    // The cursor was not placed on an undescribed row, but each table has its current cell on
    // row 0 in the description column, so typing reaches a cell; the handlers are back.
    ShowAndActivate(Window);
    for (TStringGrid *grid : {Window.StringGridFolders, Window.StringGridFiles}) {
        EXPECT_TRUE(static_cast<bool>(grid->OnSelectCell));
        if (!grid->isEnabled())
            continue;
        EXPECT_EQ(grid->currentIndex(), grid->GridModel()->index(0, 1));
        grid->setFocus();
        Type(QStringLiteral("typed"));
        EXPECT_EQ(grid->GridModel()->Description(0), QStringLiteral("typed"));
        Key(Qt::Key_Escape);
        grid->GridModel()->SetDescription(0, grid->GridModel()->Stored(0));
    }
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

TEST_F(MainWindowTest, StoredTextIsShownAsStoredAndOnlyAnEditedCellIsRewritten)
{
    // A byte-order mark before the first section, a 2050-byte UTF-8 value (cut when read), a value
    // that begins with U+FEFF and a Windows-1252 value, in both tables.
    const QByteArray a4 = "\xC3\xA4", bom = "\xEF\xBB\xBF";
    QByteArray content = bom + "[Folders]\r\n";
    for (const char *section : {"Folders", "Files"}) {
        if (QByteArray(section) == "Files")
            content += "[Files]\r\n";
        const char prefix = section[1] == 'o' ? 'd' : 'f';
        content += prefix + QByteArray("_long=AB") + a4.repeated(1024) + "\r\n" + prefix + "_mark=" + bom + "note\r\n"
                   + prefix + "_cp=caf\xE9\r\n";
        for (const char *name : {"_long", "_mark", "_cp"}) {
            if (prefix == 'd')
                Dir.MakeDir(QByteArray("d") + name);
            else
                Dir.WriteFile(QByteArray("f") + name, "x");
        }
    }
    Dir.WriteFile("Folder.dnt", content);
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    for (const auto &[grid, prefix] :
         {std::pair{Window.StringGridFolders, 'd'}, std::pair{Window.StringGridFiles, 'f'}}) {
        SCOPED_TRACE(prefix);
        TStringGridModel *model = grid->GridModel();
        const int longRow = model->FindName(prefix + QByteArray("_long"));
        const int markRow = model->FindName(prefix + QByteArray("_mark"));
        const int cpRow = model->FindName(prefix + QByteArray("_cp"));
        ASSERT_GE(std::min({longRow, markRow, cpRow}), 0);
        EXPECT_EQ(model->Description(longRow), QStringLiteral("AB") + QString(1022, QChar(0xE4)));
        EXPECT_EQ(model->Description(markRow), QStringLiteral("\uFEFFnote"));
        EXPECT_EQ(model->Description(cpRow), QStringLiteral("caf\u00E9"));

        grid->setFocus();
        auto editEnd = [&](int row, const QString &typed) {
            ASSERT_TRUE(grid->SetCurrentCell(1, row));
            Key(Qt::Key_F2);
            Key(Qt::Key_End);
            Type(typed);
            Key(row + 1 < model->rowCount() ? Qt::Key_Down : Qt::Key_Up);
        };
        // The editor opened and closed without a change writes nothing.
        const auto inode = Inode(DescPath());
        for (const int row : {longRow, markRow, cpRow})
            editEnd(row, QString());
        EXPECT_EQ(Inode(DescPath()), inode);
        EXPECT_EQ(Bytes(), content);
        // An edited value is stored as the text shown plus what was typed, as UTF-8.
        editEnd(longRow, QStringLiteral("!"));
        editEnd(markRow, QStringLiteral("!"));
        EXPECT_TRUE(Bytes().contains(prefix + QByteArray("_long=AB") + a4.repeated(1022) + "!\r\n"));
        EXPECT_TRUE(Bytes().contains(prefix + QByteArray("_mark=") + bom + "note!\r\n"));
        EXPECT_TRUE(Bytes().startsWith(bom + "[Folders]\r\n"));
        EXPECT_EQ(Bytes().count("[Files]"), 1);
        content = Bytes();
    }
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

// A listing of 10,000 entries or more that another replaces is freed on a thread of its own while
// the window goes on; each row then shows its own description, back and forth between the large
// folder and a small one, and a window closed while the freeing runs ends cleanly.
TEST(LargeListingTest, AReplacedLargeListingIsFreedApartAndTheRowsStayTheirOwn)
{
    constexpr int kFiles = 10000;
    TTempDir dir;
    const QByteArray large = dir.MakeDir("large");
    const QByteArray small = dir.MakeDir("small");
    QByteArray stored = "[Files]\r\n";
    for (int i = 0; i < kFiles; ++i) {
        const QByteArray name = "file" + QByteArray::number(i);
        WriteFileBytes(large + '/' + name, {});
        if (i % 100 == 0)
            stored += name + "=note " + QByteArray::number(i) + "\r\n";
    }
    WriteFileBytes(large + "/Folder.dnt", stored);
    WriteFileBytes(small + "/kept.txt", "x");
    WriteFileBytes(small + "/Folder.dnt", "[Files]\r\nkept.txt=small one\r\n");

    auto window = std::make_unique<TFrmMain>(NothingToList(dir));
    TStringGridModel *files = window->StringGridFiles->GridModel();
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(window->LoadFolder(large));
        ASSERT_EQ(files->rowCount(), kFiles);
        EXPECT_EQ(files->Description(files->FindName("file4200")), QStringLiteral("note 4200"));
        EXPECT_EQ(files->Description(files->FindName("file4201")), QString());
        ASSERT_TRUE(window->LoadFolder(small));
        ASSERT_EQ(files->rowCount(), 1);
        EXPECT_EQ(files->Description(files->FindName("kept.txt")), QStringLiteral("small one"));
    }
    // Closed at once, while the large listing may still be being freed.
    window.reset();
    EXPECT_EQ(ReadFileBytes(large + "/Folder.dnt"), stored);
    EXPECT_EQ(ReadFileBytes(small + "/Folder.dnt"), QByteArray("[Files]\r\nkept.txt=small one\r\n"));
}
