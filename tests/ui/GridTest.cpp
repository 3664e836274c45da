// The two tables of the main window behave alike; every case here runs on each of them.

#include "UiTestSupport.h"

#include "catalogue/ProfileFile.h"
#include "common/Exceptions.h"

#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <initializer_list>
#include <optional>

using namespace TestSupport;
using namespace UiTest;

namespace {
enum class TTable { Folders, Files };

class GridTest : public ::testing::TestWithParam<TTable> {
protected:
    void SetUp() override
    {
        MessageLog().Requests.clear();
        MessageLog().Answers.clear();
    }

    bool IsFolders() const { return GetParam() == TTable::Folders; }
    TStringGrid *Grid() const { return IsFolders() ? Window.StringGridFolders : Window.StringGridFiles; }
    TStringGrid *OtherGrid() const { return IsFolders() ? Window.StringGridFiles : Window.StringGridFolders; }
    TStringGridModel *Model() const { return Grid()->GridModel(); }
    QByteArray Section() const { return IsFolders() ? "Folders" : "Files"; }
    QByteArray DescPath() const { return Dir.FilePath("Folder.dnt"); }
    QByteArray Bytes() const { return ReadFileBytes(DescPath()); }
    int RowOf(const QByteArray &name) const { return Model()->FindName(name); }

    // Entries of the table under test: subfolders or files of the test folder.
    void MakeEntries(std::initializer_list<const char *> names) const
    {
        for (const char *name : names)
            IsFolders() ? Dir.MakeDir(name) : Dir.WriteFile(name, "x");
    }
    // One entry of the other kind, so that the other table is enabled too.
    void MakeOtherEntry() const { IsFolders() ? Dir.WriteFile("other.txt", "x") : Dir.MakeDir("other"); }
    // A description file whose section of the table under test holds these lines.
    void WriteSection(const QByteArray &lines, const QByteArray &after = {}) const
    {
        WriteFileBytes(DescPath(), "[" + Section() + "]\r\n" + lines + after);
    }
    // Lists the test folder, shows the window and gives the table under test the focus.
    void ListAndFocus()
    {
        ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
        ShowAndActivate(Window);
        Grid()->setFocus();
        ASSERT_TRUE(Grid()->hasFocus());
    }
    QByteArray Line(const QByteArray &name, const QByteArray &value) const { return name + "=" + value + "\r\n"; }

    TTempDir Dir;
    TFrmMain Window{NothingToList(Dir)};
};

std::string TableName(const ::testing::TestParamInfo<TTable> &info)
{
    return info.param == TTable::Folders ? "Folders" : "Files";
}

} // namespace

INSTANTIATE_TEST_SUITE_P(BothTables, GridTest, ::testing::Values(TTable::Folders, TTable::Files), TableName);

TEST_P(GridTest, ColumnWidthsFollowTheWidestTextAndTheDescriptionsTakeTheRoomLeft)
{
    MakeEntries({"short"});
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    // Short texts: the name column by the rule, the description column fills the table.
    EXPECT_EQ(Grid()->columnWidth(0), 140);
    const int room = Grid()->viewport()->width() - 140;
    ASSERT_GT(room, 140);
    EXPECT_EQ(Grid()->columnWidth(1), room);
    // A wider window shows longer descriptions.
    Window.resize(Window.width() + 200, Window.height());
    EXPECT_TRUE(QTest::qWaitFor([&] { return Grid()->columnWidth(1) == room + 200; }, 3000)) << Grid()->columnWidth(1);

    // Long texts: each column as wide as its widest text as the table's font draws it, plus 6.
    // Mixed letters, digits and accents, so that a width summed wrongly shows.
    const QByteArray longName = "Quarterly report, Z\xc3\xbcrich & Tokyo office (final) 2026-03 version.txt";
    const QByteArray longDesc = "Wide description: AVATAR WAVE Type Lyric \xc3\x96"
                                "ffnung, 1234567890 \xe2\x80\x94 "
                                "and more words, so that it is wider than any room the window leaves";
    MakeEntries({longName.constData()});
    WriteSection(Line("short", longDesc));
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    const QFontMetrics metrics(Grid()->font());
    const int nameWidth = metrics.horizontalAdvance(QString::fromUtf8(longName));
    ASSERT_GT(nameWidth, 140);
    EXPECT_EQ(Grid()->columnWidth(0), nameWidth + 6);
    const int descWidth = metrics.horizontalAdvance(QString::fromUtf8(longDesc)) + 6;
    ASSERT_GT(descWidth, Grid()->viewport()->width() - Grid()->columnWidth(0));
    EXPECT_EQ(Grid()->columnWidth(1), descWidth);

    // Plain ASCII texts are ranked by the widths the listing estimates: the widest is not the
    // one of the most letters, and the widest name is not the one of the widest description.
    const QByteArray narrowName(120, 'i'), wideName(60, 'W');
    const QByteArray narrowDesc(300, 'l'), wideDesc = QByteArray(100, 'M') + " 0123";
    MakeEntries({narrowName.constData(), wideName.constData()});
    WriteSection(Line(narrowName, wideDesc) + Line(wideName, narrowDesc));
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ASSERT_GT(metrics.horizontalAdvance(QString::fromLatin1(wideName)), nameWidth);
    EXPECT_EQ(Grid()->columnWidth(0), metrics.horizontalAdvance(QString::fromLatin1(wideName)) + 6);
    ASSERT_GT(metrics.horizontalAdvance(QString::fromLatin1(wideDesc)) + 6, descWidth);
    EXPECT_EQ(Grid()->columnWidth(1), metrics.horizontalAdvance(QString::fromLatin1(wideDesc)) + 6);

    // Among many more rows than are ever shaped, the widest still sets the width.
    QByteArray lines = Line(narrowName, wideDesc) + Line(wideName, narrowDesc);
    for (int i = 0; i < 600; ++i) {
        const QByteArray name = "n" + QByteArray::number(i) + " " + QByteArray(i % 50, 'i');
        MakeEntries({name.constData()});
        lines += Line(name, "d" + QByteArray(i % 70, 'l'));
    }
    WriteSection(lines);
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    EXPECT_EQ(Grid()->columnWidth(0), metrics.horizontalAdvance(QString::fromLatin1(wideName)) + 6);
    EXPECT_EQ(Grid()->columnWidth(1), metrics.horizontalAdvance(QString::fromLatin1(wideDesc)) + 6);
}

TEST_P(GridTest, TypingThenDownWritesOnceAndMovingWithoutTypingWritesNothing)
{
    MakeEntries({"a", "b"});
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    const int first = Grid()->Row();
    const QByteArray name = Model()->Name(first);

    Type(QStringLiteral("Budget 2026 \u00e9"));
    // The cell holds the text while the editor is still open.
    EXPECT_EQ(Model()->Description(first), QStringLiteral("Budget 2026 \u00e9"));
    const auto before = Inode(DescPath());
    Key(Qt::Key_Down);
    EXPECT_EQ(Grid()->Row(), first + 1);
    EXPECT_NE(Inode(DescPath()), before);
    EXPECT_TRUE(Bytes().contains("[" + Section() + "]\r\n" + Line(name, "Budget 2026 \xc3\xa9")));

    const auto written = Inode(DescPath());
    Key(Qt::Key_Up);
    Key(Qt::Key_Down);
    Key(Qt::Key_Up);
    EXPECT_EQ(Inode(DescPath()), written);
    EXPECT_EQ(Grid()->Row(), first);

    // Changing only the letter case is a change.
    Key(Qt::Key_F2);
    Key(Qt::Key_Home);
    Key(Qt::Key_Delete);
    Type(QStringLiteral("b"));
    Key(Qt::Key_Down);
    EXPECT_TRUE(Bytes().contains(Line(name, "budget 2026 \xc3\xa9")));
    EXPECT_EQ(ProfileFile(DescPath()).ReadSection(Section()).size(), 1);
}

TEST_P(GridTest, EmptyingADescribedCellBringsTheStoredTextBack)
{
    MakeEntries({"a", "b"});
    WriteSection(Line("a", "keep me") + Line("b", "other"));
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    const QByteArray original = Bytes();
    const int row = RowOf("a");
    ASSERT_TRUE(Grid()->SetCurrentCell(1, row));
    Key(Qt::Key_F2);
    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_Backspace);
    EXPECT_TRUE(Model()->Description(row).isEmpty());
    Key(row == 0 ? Qt::Key_Down : Qt::Key_Up);
    EXPECT_EQ(Model()->Description(row), QStringLiteral("keep me"));
    EXPECT_EQ(Bytes(), original);
}

TEST_P(GridTest, TheNameColumnNeverTakesTheCursor)
{
    MakeEntries({"a", "b"});
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    ASSERT_TRUE(Grid()->SetCurrentCell(1, 0));
    ClickCell(Grid(), 0, 0);
    EXPECT_EQ(Grid()->Col(), 1);
    ClickCell(Grid(), 0, 1);
    EXPECT_EQ(Grid()->Col(), 1);
    EXPECT_EQ(Grid()->Row(), 0);
    Key(Qt::Key_Left);
    EXPECT_EQ(Grid()->Col(), 1);
    Key(Qt::Key_Home);
    EXPECT_EQ(Grid()->Col(), 1);
    EXPECT_FALSE(Grid()->SetCurrentCell(0, 1));
    EXPECT_EQ(Grid()->Col(), 1);
    ClickCell(Grid(), 1, 1);
    EXPECT_EQ(Grid()->Row(), 1);
    EXPECT_EQ(Grid()->Col(), 1);
}

TEST_P(GridTest, NewKeysGoToTheEndOfTheirSectionChangedOnesStayInPlace)
{
    MakeEntries({"a", "b", "c"});
    WriteSection(Line("c", "third") + Line("a", "first"), "\r\n[ThisFolder]\r\nText0=t\r\n");
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    ASSERT_TRUE(Grid()->SetCurrentCell(1, RowOf("b")));
    Type(QStringLiteral("second"));
    ASSERT_TRUE(Grid()->SetCurrentCell(1, RowOf("c")));
    Key(Qt::Key_F2);
    Key(Qt::Key_End);
    Type(QStringLiteral("!"));
    ASSERT_TRUE(Grid()->SetCurrentCell(1, RowOf("a")));
    EXPECT_EQ(Bytes(), "[" + Section() + "]\r\nc=third!\r\na=first\r\nb=second\r\n\r\n[ThisFolder]\r\nText0=t\r\n");
}

TEST_P(GridTest, FocusLeavingTheTableForAnotherControlCommits)
{
    MakeEntries({"a"});
    MakeOtherEntry();
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    // By the other heading's accelerator, with the cell editor still open.
    Type(QStringLiteral("left by keyboard"));
    Key(IsFolders() ? Qt::Key_F : Qt::Key_O, Qt::AltModifier);
    ASSERT_TRUE(OtherGrid()->hasFocus());
    EXPECT_TRUE(Bytes().contains(Line("a", "left by keyboard")));

    // By pressing the mouse on a button (released away from it, so the button does nothing).
    Grid()->setFocus();
    Key(Qt::Key_F2);
    Key(Qt::Key_End);
    Type(QStringLiteral(", then the mouse"));
    QTest::mousePress(Window.BitBtnDirNote, Qt::LeftButton);
    EXPECT_TRUE(Bytes().contains(Line("a", "left by keyboard, then the mouse")));
    QTest::mouseRelease(Window.BitBtnDirNote, Qt::LeftButton, {}, QPoint(-10, -10));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // A message box or another window taking the focus is no exit.
    Grid()->setFocus();
    Key(Qt::Key_F2);
    Type(QStringLiteral("!"));
    const QByteArray before = Bytes();
    QWidget other;
    ShowAndActivate(other);
    EXPECT_EQ(Bytes(), before);
}

TEST_P(GridTest, TabInTheCellEditorLeavesTheTableAndCommitsAlsoOnItsOnlyRow)
{
    // One row: walking the cells would stay on it, and nothing would be stored.
    MakeEntries({"a"});
    MakeOtherEntry();
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    for (const bool back : {false, true}) {
        SCOPED_TRACE(back ? "Shift+Tab" : "Tab");
        Grid()->setFocus();
        Key(Qt::Key_F2);
        Key(Qt::Key_End);
        Type(back ? QStringLiteral(" and back") : QStringLiteral("left by Tab"));
        Key(back ? Qt::Key_Backtab : Qt::Key_Tab, back ? Qt::ShiftModifier : Qt::NoModifier);
        EXPECT_FALSE(Grid()->HasFocusWithin());
        EXPECT_TRUE(Bytes().contains(Line("a", back ? "left by Tab and back" : "left by Tab")));
    }
}

TEST_P(GridTest, EveryButtonCommitsTheTypedDescriptionFirstAndNoneMovesTheFocus)
{
    MakeEntries({"e1", "e2", "e3", "e4", "e5", "e6"});
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    struct TButton {
        QPushButton *Button;
        Qt::Key AltKey;
        bool OpensDialog;
    };
    const TButton buttons[] = {{Window.BitBtnDirNote, Qt::Key_I, true},
                               {Window.BitBtnSelectFolder, Qt::Key_S, true},
                               {Window.BitBtnRefreshFolder, Qt::Key_R, false}};
    int entry = 0;
    for (const TButton &button : buttons) {
        for (const bool byKey : {true, false}) {
            SCOPED_TRACE(button.Button->objectName().toStdString() + (byKey ? " by its Alt key" : " by mouse"));
            const QByteArray name = "e" + QByteArray::number(++entry);
            const QByteArray text = "typed before " + button.Button->objectName().toUtf8();
            // Without a window manager nobody activates the window again after a dialog.
            ASSERT_NO_FATAL_FAILURE(ShowAndActivate(Window));
            Grid()->setFocus();
            ASSERT_TRUE(Grid()->SetCurrentCell(1, RowOf(name)));
            Type(QString::fromUtf8(text));
            ASSERT_EQ(QApplication::focusWidget()->objectName(), QStringLiteral("InplaceEditor"));
            QByteArray atDialog;
            std::optional<TModalCanceller> canceller;
            if (button.OpensDialog)
                canceller.emplace([&](QDialog *) { atDialog = Bytes(); });
            // A button's Alt key clicks it a moment later, as a click it can see.
            if (byKey)
                Key(button.AltKey, Qt::AltModifier);
            else
                QTest::mouseClick(button.Button, Qt::LeftButton);
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return Bytes().contains(Line(name, text)) && (!canceller || canceller->Seen); }, 5000));
            if (canceller) {
                EXPECT_TRUE(atDialog.contains(Line(name, text))) << "the dialog opened before the commit";
            }
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
            if (byKey) {
                // The keyboard focus is still in the table (or its editor), not on a button that
                // the next Space would press.
                QWidget *focus = Window.focusWidget();
                EXPECT_TRUE(focus && (focus == Grid() || Grid()->isAncestorOf(focus)))
                    << "focus on " << (focus ? focus->objectName().toStdString() : "nothing");
            }
            EXPECT_EQ(Model()->Description(RowOf(name)), QString::fromUtf8(text));
        }
    }
}

TEST_P(GridTest, AFailedWriteShowsTheMessageAndKeepsTheCursorEachTime)
{
    MakeEntries({"a", "b"});
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    const int row = Grid()->Row();
    Type(QStringLiteral("cannot be stored"));
    // The folder disappears behind the window's back; root cannot write there either.
    const QByteArray moved = Dir.Path() + "-moved";
    ASSERT_EQ(::rename(Dir.Path().constData(), moved.constData()), 0);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        Key(Qt::Key_Down);
        ASSERT_EQ(MessageLog().Requests.size(), size_t(attempt));
        EXPECT_EQ(
            MessageLog().Requests.back().Text,
            QStringLiteral("Unable to write to %1: No such file or directory.").arg(QString::fromUtf8(DescPath())));
        EXPECT_EQ(MessageLog().Requests.back().Type, TMsgDlgType::mtError);
        EXPECT_EQ(Grid()->Row(), row);
        EXPECT_EQ(Model()->Description(row), QStringLiteral("cannot be stored"));
    }
    // A button does not list over the unsaved text either.
    Key(Qt::Key_R, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([] { return MessageLog().Requests.size() == 3; }, 5000));
    EXPECT_EQ(Model()->Description(row), QStringLiteral("cannot be stored"));
    // Back in place, the next attempt stores it.
    ASSERT_EQ(::rename(moved.constData(), Dir.Path().constData()), 0);
    Key(Qt::Key_Down);
    EXPECT_EQ(Grid()->Row(), row + 1);
    EXPECT_TRUE(Bytes().contains("=cannot be stored\r\n"));
}

TEST_P(GridTest, UnstorableNamesAreReportedAndTheFileStaysIntact)
{
    MakeEntries({" leading blank"});
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    const QByteArray before = Bytes();
    Model()->SetDescription(0, QStringLiteral("text"));
    EXPECT_THROW(IsFolders() ? Window.StringGridFoldersExit() : Window.StringGridFilesExit(), TException);
    EXPECT_EQ(Bytes(), before);
}

TEST_P(GridTest, ClosingTheWindowCommitsWhatIsTypedEvenWithTheEditorOpen)
{
    MakeEntries({"a"});
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    Type(QStringLiteral("typed, then the window closed"));
    ASSERT_EQ(QApplication::focusWidget()->objectName(), QStringLiteral("InplaceEditor"));
    EXPECT_TRUE(Window.close());
    EXPECT_TRUE(Bytes().contains(Line("a", "typed, then the window closed")));

    // Closed while another window is active: the table that had the focus last is committed.
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    Key(Qt::Key_F2);
    Key(Qt::Key_End);
    Type(QStringLiteral(" elsewhere"));
    {
        QWidget other;
        ASSERT_NO_FATAL_FAILURE(ShowAndActivate(other));
        EXPECT_TRUE(Window.close());
    }
    EXPECT_TRUE(Bytes().contains(Line("a", "typed, then the window closed elsewhere")));

    // A description that cannot be written keeps the window open.
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    Key(Qt::Key_F2);
    Type(QStringLiteral("again"));
    const QByteArray moved = Dir.Path() + "-moved";
    ASSERT_EQ(::rename(Dir.Path().constData(), moved.constData()), 0);
    EXPECT_FALSE(Window.close());
    EXPECT_TRUE(Window.isVisible());
    ASSERT_EQ(::rename(moved.constData(), Dir.Path().constData()), 0);
}
