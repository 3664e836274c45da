// SPDX-License-Identifier: GPL-3.0-or-later
// The two tables of the main window behave alike; every case here runs on each of them.

#include "UiTestSupport.h"

#include "catalogue/ProfileFile.h"
#include "common/Exceptions.h"

#include <QClipboard>
#include <QDialog>
#include <QFontMetrics>
#include <QScrollBar>
#include <QToolTip>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <initializer_list>
#include <optional>
#include <random>

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

TEST_P(GridTest, ColumnWidthsAreThoseOfTheWidestShownTextsAmongManyRows)
{
    // More rows than are ever shaped, near-ties, texts beyond ASCII (no estimate from the bytes),
    // quoted values, undescribed rows, rows created in another order than they are shown in, and
    // a value longer than the read limit: each column's rule width is that of its widest text as
    // the table shows and draws it, plus 6.
    std::mt19937 random(11);
    auto text = [&](int i) {
        QByteArray t = QByteArray::number(i * 7919 % 1000);
        t += QByteArray(int(random() % 40), char('a' + random() % 26));
        if (random() % 9 == 0)
            t += "\xc3\xa9";
        return t;
    };
    QByteArray lines;
    for (int i = 0; i < 900; ++i) {
        const QByteArray name = text(i) + "." + QByteArray::number(i);
        MakeEntries({name.constData()});
        if (random() % 5)
            lines += Line(name, random() % 11 == 0 ? "\"" + text(i) + "\"" : text(int(random() % 700)));
    }
    auto expectWidest = [&] {
        const QFontMetrics metrics(Grid()->font());
        int names = 0, descriptions = 0;
        for (int row = 0; row < Model()->rowCount(); ++row) {
            names = std::max(names, metrics.horizontalAdvance(Model()->DisplayName(row)));
            descriptions = std::max(descriptions, metrics.horizontalAdvance(Model()->Description(row)));
        }
        auto rule = [](int widest) {
            return widest <= TStringGrid::DefaultColWidth ? TStringGrid::DefaultColWidth : widest + 6;
        };
        EXPECT_EQ(Grid()->ColumnRuleWidth(0), rule(names));
        EXPECT_EQ(Grid()->columnWidth(0), rule(names));
        EXPECT_EQ(Grid()->ColumnRuleWidth(1), rule(descriptions));
    };
    WriteSection(lines);
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ASSERT_EQ(Model()->rowCount(), 900);
    ASSERT_GT(Grid()->ColumnRuleWidth(1), TStringGrid::DefaultColWidth);
    expectWidest();

    // A value longer than the read limit is as wide as the beginning the cell shows.
    MakeEntries({"cut"});
    lines += Line("cut", QByteArray(2100, 'i') + "WWWW");
    WriteSection(lines);
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ASSERT_TRUE(Model()->StoredWasCut(Model()->FindName("cut")));
    expectWidest();

    // A large table, whose columns may be ranked apart, comes to the same widths; its widest
    // texts are among the rows added last, beyond ASCII in one column and not in the other.
    for (int i = 0; i < 20000; ++i) {
        const QByteArray name = "more " + QByteArray::number(i);
        MakeEntries({name.constData()});
        lines += Line(name, text(i));
    }
    const QByteArray wideName = "more " + QByteArray(60, 'W') + "\xc3\xa9";
    MakeEntries({wideName.constData(), "more wide"});
    lines += Line(wideName, "short") + Line("more wide", QByteArray(70, 'M'));
    WriteSection(lines);
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ASSERT_EQ(Model()->rowCount(), 20903);
    expectWidest();
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

// ---- the limit of a value, the cursor keys, the fixed names, the focus shown ----

namespace {
QString Repeated(char16_t c, int count)
{
    return QString(count, QChar(c));
}
// What the table shows at a point of its viewport (the name column drawn over it included).
QRgb PixelAt(TStringGrid *grid, const QPoint &point)
{
    return grid->grab().toImage().pixel(grid->viewport()->mapTo(grid, point) * grid->devicePixelRatioF());
}
// The same colour but for the rounding of drawing.
bool Near(QRgb shown, const QColor &expected)
{
    return std::abs(qRed(shown) - expected.red()) <= 2 && std::abs(qGreen(shown) - expected.green()) <= 2
           && std::abs(qBlue(shown) - expected.blue()) <= 2;
}
// The left of the table, where the names are, as shown.
QImage NamesShown(TStringGrid *grid)
{
    const QRect area = grid->viewport()->geometry();
    return grid->grab(QRect(area.topLeft(), QSize(grid->columnWidth(0), area.height()))).toImage();
}
// A point of the current row's description cell past its text, where only the cell's ground shows.
QPoint GroundOfCurrentCell(TStringGrid *grid)
{
    const QRect cell = CellRect(grid, 1, grid->Row());
    const int right = std::min(cell.right(), grid->viewport()->width() - 1);
    return {right - 4, cell.center().y()};
}
} // namespace

TEST(LimitEdit, TakesWholeCharactersOfTheInsertionUpToTheLimitOfEachLine)
{
    // Within the limit nothing changes, also a text longer than the limit over several lines.
    const QString fits = Repeated(u'a', 5) + u'\n' + Repeated(u'b', 5);
    EXPECT_FALSE(LimitEdit({}, fits, 5).Cut);
    EXPECT_EQ(LimitEdit({}, fits, 5).Text, fits);
    // A character that would cross the limit is left out whole: "é" is 2 bytes, "€" 3, "😀" 4.
    for (const QString &wide : {QStringLiteral("\u00e9"), QStringLiteral("\u20ac"), QStringLiteral("\U0001F600")}) {
        const TLimitedEdit typed = LimitEdit(QStringLiteral("abcd"), QStringLiteral("abc") + wide + u'd', 5);
        EXPECT_TRUE(typed.Cut);
        EXPECT_EQ(typed.Text, QStringLiteral("abcd"));
        EXPECT_EQ(typed.Cursor, 3);
    }
    // A paste keeps what fits, in its place, with what followed it.
    const TLimitedEdit pasted = LimitEdit(QStringLiteral("ab"), QStringLiteral("a\u00e9\u00e9\u00e9b"), 6);
    EXPECT_EQ(pasted.Text, QStringLiteral("a\u00e9\u00e9b"));
    EXPECT_EQ(pasted.Cursor, 3);
    // Over several lines: each line holds the limit, the lines after a cut one still come, and
    // the last one goes on with the old text.
    const TLimitedEdit lines = LimitEdit(QStringLiteral("xy"), QStringLiteral("x12345\n56789\nabcdey"), 5);
    EXPECT_EQ(lines.Text, QStringLiteral("x1234\n56789\nabcdy"));
    EXPECT_EQ(lines.Taken, QStringLiteral("1234\n56789\nabcd"));
    EXPECT_EQ(lines.Start, 1);
    EXPECT_EQ(lines.Inserted, 17);
    // A paragraph separator ends a line as "\n" does.
    EXPECT_FALSE(LimitEdit({}, QStringLiteral("12345\u202912345"), 5).Cut);
    // A deletion that joins two lines too long for one is refused.
    const TLimitedEdit joined = LimitEdit(QStringLiteral("abc\ndef"), QStringLiteral("abcdef"), 5);
    EXPECT_TRUE(joined.Refused);
    EXPECT_EQ(joined.Text, QStringLiteral("abc\ndef"));
}

TEST_P(GridTest, TheCellEditorStopsAtTheLimitOfAValueAndSaysSo)
{
    MakeEntries({"a", "b"});
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    const int row = Grid()->Row();
    const QByteArray name = Model()->Name(row);
    Key(Qt::Key_F2);
    // A paste of 2,047 bytes exactly is taken whole, without a note.
    const QString full = Repeated(u'x', 2045) + u'\u00e9';
    QApplication::clipboard()->setText(full);
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Model()->Description(row).toStdString(), full.toStdString());
    EXPECT_FALSE(QToolTip::isVisible());
    // One letter more is refused, and the note says why.
    Type(QStringLiteral("y"));
    EXPECT_EQ(Model()->Description(row).toStdString(), full.toStdString());
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), TStringGrid::LimitNote());
    // With two bytes free a three-byte character is refused whole, a two-byte one taken.
    Key(Qt::Key_Backspace);
    Type(QStringLiteral("\u20ac"));
    EXPECT_EQ(Model()->Description(row).toStdString(), Repeated(u'x', 2045).toStdString());
    Type(QStringLiteral("\u00e9"));
    EXPECT_EQ(Model()->Description(row).toStdString(), full.toStdString());
    Key(Qt::Key_Backspace);
    Type(QStringLiteral("z!?"));
    EXPECT_EQ(Model()->Description(row).toStdString(), (Repeated(u'x', 2045) + QStringLiteral("z!")).toStdString());
    // A paste that is too long is cut at the limit, in its place.
    Key(Qt::Key_Home);
    for (int i = 0; i < 4; ++i)
        Key(Qt::Key_Delete);
    QApplication::clipboard()->setText(QStringLiteral("ABCDEFGH"));
    Key(Qt::Key_V, Qt::ControlModifier);
    const QString pasted = QStringLiteral("ABCD") + Repeated(u'x', 2041) + QStringLiteral("z!");
    EXPECT_EQ(Model()->Description(row).toStdString(), pasted.toStdString());
    EXPECT_EQ(QToolTip::text(), TStringGrid::LimitNote());
    // What is written reads back as typed.
    Key(row == 0 ? Qt::Key_Down : Qt::Key_Up);
    EXPECT_TRUE(Bytes().contains(Line(name, pasted.toUtf8())));
    EXPECT_EQ(ProfileFile(DescPath()).ReadString(Section(), name).toStdString(), pasted.toStdString());
}

TEST_P(GridTest, ADescriptionLongerThanTheLimitIsEditedOnlyAfterAQuestion)
{
    // "a" and "A" fold alike, so their keys are given by the name rule after the file is read.
    const QByteArray longA = QByteArray(2990, 'w') + " the end a", longUpper = QByteArray(3000, 'v') + " the end A";
    MakeEntries({"a", "A", "b", "c"});
    WriteSection(Line("a", longA) + Line("A", longUpper) + Line("b", "short") + Line("c", '"' + longA + '"'));
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    const QByteArray original = Bytes();
    for (const QByteArray &name : {QByteArray("a"), QByteArray("A"), QByteArray("c")}) {
        SCOPED_TRACE(name.constData());
        const int row = RowOf(name);
        ASSERT_TRUE(Grid()->SetCurrentCell(1, row));
        EXPECT_EQ(Model()->Description(row).size(), 2047);
        // Typing into it asks first; "No" leaves the cell and the file alone, also after a move.
        MessageLog().Requests.clear();
        MessageLog().Answers = {mrNo, mrNo, mrNo};
        Type(QStringLiteral("x"));
        ASSERT_EQ(MessageLog().Requests.size(), 1u);
        EXPECT_EQ(MessageLog().Requests[0].Text, TStringGrid::CutQuestion());
        EXPECT_EQ(MessageLog().Requests[0].Type, TMsgDlgType::mtConfirmation);
        EXPECT_EQ(QApplication::focusWidget(), Grid()) << "no editor opened";
        Key(Qt::Key_F2);
        Key(Qt::Key_Return);
        EXPECT_EQ(MessageLog().Requests.size(), 3u);
        EXPECT_EQ(Model()->Description(row).size(), 2047);
        Key(Qt::Key_Down);
        Key(Qt::Key_Up);
        EXPECT_EQ(Bytes(), original);
    }
    // "Yes" once: the cell is edited like any other, and what is shown is what is saved.
    const int row = RowOf("a");
    ASSERT_TRUE(Grid()->SetCurrentCell(1, row));
    MessageLog().Requests.clear();
    MessageLog().Answers = {mrYes};
    Key(Qt::Key_F2);
    ASSERT_EQ(MessageLog().Requests.size(), 1u);
    Key(Qt::Key_End);
    Key(Qt::Key_Backspace);
    Type(QStringLiteral("!"));
    Key(Qt::Key_Escape);
    Key(Qt::Key_F2);
    EXPECT_EQ(MessageLog().Requests.size(), 1u) << "asked only once";
    Key(row == 0 ? Qt::Key_Down : Qt::Key_Up);
    const QByteArray saved = longA.left(2046) + "!";
    EXPECT_EQ(ProfileFile(DescPath()).ReadString(Section(), "a").toStdString(), saved.toStdString());
    EXPECT_TRUE(Bytes().contains(Line("A", longUpper))) << "the other long value stays whole";
    // A short description is edited without a question.
    ASSERT_TRUE(Grid()->SetCurrentCell(1, RowOf("b")));
    Type(QStringLiteral("x"));
    EXPECT_EQ(MessageLog().Requests.size(), 1u);
}

TEST_P(GridTest, AWindows1252DescriptionThatWouldBeTooLongInUtf8IsKeptUntilShortened)
{
    // 2,047 bytes of Windows-1252 read back whole, but as UTF-8 the accents take two bytes each.
    const QByteArray stored = QByteArray(1000, '\xE9') + QByteArray(1047, 'e');
    MakeEntries({"a", "b"});
    WriteSection(Line("a", stored));
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    const QByteArray original = Bytes();
    const int row = RowOf("a");
    ASSERT_TRUE(Grid()->SetCurrentCell(1, row));
    // Untouched, moving on writes nothing; typing more is refused; deleting is taken.
    Key(row == 0 ? Qt::Key_Down : Qt::Key_Up);
    ASSERT_TRUE(Grid()->SetCurrentCell(1, row));
    EXPECT_EQ(Bytes(), original);
    Key(Qt::Key_F2);
    Key(Qt::Key_End);
    Type(QStringLiteral("x"));
    EXPECT_EQ(Model()->Description(row).size(), 2047);
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Model()->Description(row).size(), 2046);
    // Still too long for the file: not saved, the user is told, the cursor stays.
    MessageLog().Requests.clear();
    Key(row == 0 ? Qt::Key_Down : Qt::Key_Up);
    ASSERT_EQ(MessageLog().Requests.size(), 1u);
    EXPECT_EQ(MessageLog().Requests[0].Text, TooLongMessage(3046));
    EXPECT_EQ(Grid()->Row(), row);
    EXPECT_EQ(Bytes(), original);
}

TEST_P(GridTest, HomeEndCtrlHomeCtrlEndAndPageKeysMoveOverTheRows)
{
    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i)
        names.push_back("e" + std::to_string(100 + i));
    for (const std::string &name : names)
        MakeEntries({name.c_str()});
    MakeOtherEntry();
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    const int last = Model()->rowCount() - 1;
    const struct {
        Qt::Key Key;
        Qt::KeyboardModifiers Modifiers;
        int From, To;
    } moves[] = {{Qt::Key_Home, Qt::NoModifier, 30, 0},      {Qt::Key_End, Qt::NoModifier, 30, last},
                 {Qt::Key_Home, Qt::ControlModifier, 30, 0}, {Qt::Key_End, Qt::ControlModifier, 30, last},
                 {Qt::Key_PageDown, Qt::NoModifier, 0, -1},  {Qt::Key_PageUp, Qt::NoModifier, last, -1}};
    for (const auto &move : moves) {
        SCOPED_TRACE(QKeySequence(move.Key | move.Modifiers).toString().toStdString());
        ASSERT_TRUE(Grid()->SetCurrentCell(1, move.From));
        Key(move.Key, move.Modifiers);
        EXPECT_EQ(Grid()->Col(), 1);
        if (move.To >= 0) {
            EXPECT_EQ(Grid()->Row(), move.To);
        } else {
            // By a page: more than one row, the row still in sight.
            EXPECT_GT(std::abs(Grid()->Row() - move.From), 1);
            EXPECT_LT(std::abs(Grid()->Row() - move.From), last);
        }
        EXPECT_TRUE(Grid()->viewport()->rect().intersects(CellRect(Grid(), 1, Grid()->Row())));
    }
    // While a cell is edited, Home and End move in its text, and Ctrl+Home and Ctrl+End still go to
    // the first and last row, saving what was typed.
    const struct {
        Qt::Key Key;
        int To;
    } edited[] = {{Qt::Key_Home, 0}, {Qt::Key_End, last}};
    for (const auto &move : edited) {
        ASSERT_TRUE(Grid()->SetCurrentCell(1, 30));
        const QByteArray name = Model()->Name(30);
        Type(QStringLiteral("bc"));
        Key(move.Key);
        Type(QStringLiteral("a"));
        EXPECT_EQ(Grid()->Row(), 30);
        Key(move.Key, Qt::ControlModifier);
        EXPECT_EQ(Grid()->Row(), move.To);
        const QByteArray typed = move.Key == Qt::Key_Home ? "abc" : "bca";
        EXPECT_TRUE(Bytes().contains(Line(name, typed))) << Bytes().constData();
    }
}

TEST_P(GridTest, TheNamesStayInViewWhileTheDescriptionsScrollSideways)
{
    MakeEntries({"first", "second"});
    const QByteArray wide = "A description far wider than the window: " + QByteArray(400, 'W');
    WriteSection(Line("first", wide) + Line("second", wide));
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    ASSERT_GT(Grid()->columnWidth(1), Grid()->viewport()->width());
    const int names = Grid()->columnWidth(0);
    Key(Qt::Key_End, Qt::ControlModifier);
    const QImage shown = NamesShown(Grid());
    // End in the cell, then Up: the names do not move.
    Key(Qt::Key_F2);
    Key(Qt::Key_End);
    Key(Qt::Key_Up);
    EXPECT_EQ(Grid()->Row(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(Grid()->horizontalScrollBar()->value(), 0);
    // Scrolled sideways by hand, the descriptions move beneath the names and the names stay.
    Grid()->horizontalScrollBar()->setValue(Grid()->horizontalScrollBar()->maximum());
    ASSERT_GT(Grid()->horizontalScrollBar()->value(), names);
    Key(Qt::Key_Down);
    Key(Qt::Key_Up);
    EXPECT_GT(Grid()->horizontalScrollBar()->value(), names) << "a move keeps the sideways place";
    Key(Qt::Key_Down);
    EXPECT_TRUE(NamesShown(Grid()) == shown);
}

TEST_P(GridTest, OnlyTheTableWithTheFocusShowsItsSelectionInTheActiveColour)
{
    MakeEntries({"a", "b"});
    MakeOtherEntry();
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    const QColor active = Grid()->palette().color(QPalette::Active, QPalette::Highlight);
    const QColor dimmed = Grid()->palette().color(QPalette::Inactive, QPalette::Highlight);
    EXPECT_TRUE(Near(PixelAt(Grid(), GroundOfCurrentCell(Grid())), active));
    EXPECT_TRUE(Near(PixelAt(OtherGrid(), GroundOfCurrentCell(OtherGrid())), dimmed));
    EXPECT_FALSE(Near(PixelAt(OtherGrid(), GroundOfCurrentCell(OtherGrid())), active)) << "not told apart";
    Key(Qt::Key_Tab, Qt::ControlModifier);
    ASSERT_TRUE(OtherGrid()->hasFocus());
    EXPECT_TRUE(Near(PixelAt(Grid(), GroundOfCurrentCell(Grid())), dimmed));
    EXPECT_TRUE(Near(PixelAt(OtherGrid(), GroundOfCurrentCell(OtherGrid())), active));
}

TEST_P(GridTest, AnEmptyTableShowsNoBarAndTheStatusLineMovesNothing)
{
    MakeOtherEntry(); // the table under test stays empty
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    ASSERT_FALSE(Grid()->isEnabled());
    const QColor ground = Grid()->palette().color(QPalette::Disabled, QPalette::Base);
    EXPECT_TRUE(Near(PixelAt(Grid(), GroundOfCurrentCell(Grid())), ground))
        << std::hex << PixelAt(Grid(), GroundOfCurrentCell(Grid()));
    const QRect before(Grid()->mapTo(&Window, QPoint(0, 0)), Grid()->size());
    Window.ShowStatus(QStringLiteral("Something to say"));
    QCoreApplication::processEvents();
    ASSERT_TRUE(Window.StatusLine->isVisible());
    EXPECT_EQ(QRect(Grid()->mapTo(&Window, QPoint(0, 0)), Grid()->size()), before);
    Window.ShowStatus({});
}

TEST_P(GridTest, AfterDeletingTheLastEntryOneRowIsCurrentAndSelectedAndTakesTheTyping)
{
    MakeEntries({"a", "b", "c"});
    MakeOtherEntry();
    ASSERT_NO_FATAL_FAILURE(ListAndFocus());
    ASSERT_TRUE(Grid()->SetCurrentCell(1, 2));
    MessageLog().Answers = {mrYes};
    Key(Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(Model()->rowCount(), 2);
    EXPECT_EQ(Grid()->Row(), 1);
    const QModelIndexList selected = Grid()->selectionModel()->selectedIndexes();
    EXPECT_EQ(selected, QModelIndexList{Grid()->currentIndex()});
    // What is shown selected is what the typing goes to.
    for (int row = 0; row < 2; ++row)
        EXPECT_TRUE(
            Near(PixelAt(Grid(), QPoint(CellRect(Grid(), 1, row).right() - 4, CellRect(Grid(), 1, row).center().y())),
                 row == 1 ? Grid()->palette().color(QPalette::Active, QPalette::Highlight)
                          : Grid()->palette().color(QPalette::Active, QPalette::Base)))
            << "row " << row;
    Type(QStringLiteral("typed"));
    Key(Qt::Key_Up);
    EXPECT_TRUE(Bytes().contains(Line("b", "typed")));
}
