// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's keyboard commands, driven with key presses as a person makes them: the key
// preview, the dispatch order with its focus conditions, and each command's action.

#include "UiTestSupport.h"

#include "about/QorAboutVersionForm.h"
#include "catalogue/ProfileFile.h"
#include "settings/RegSpecial.h"
#include "settings/RegistryStore.h"

#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QWindow>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <vector>

using namespace TestSupport;
using namespace UiTest;

namespace {
enum class TTable { Folders, Files };
// Where the keyboard focus is when a key is pressed.
enum class TPlace { Folders, Files, FolderEditor, FileEditor, Button };

const char *PlaceName(TPlace place)
{
    switch (place) {
    case TPlace::Folders: return "folder table";
    case TPlace::Files: return "file table";
    case TPlace::FolderEditor: return "folder table's cell editor";
    case TPlace::FileEditor: return "file table's cell editor";
    case TPlace::Button: return "button";
    }
    return "";
}

constexpr TPlace AllPlaces[] = {TPlace::Folders, TPlace::Files, TPlace::FolderEditor, TPlace::FileEditor,
                                TPlace::Button};

bool Exists(const QByteArray &path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0;
}

// The key presses a control itself received, modifier keys aside: the preview's own filter runs
// before it, so a key the preview consumed never shows up here.
class TKeyRecorder : public QObject {
public:
    explicit TKeyRecorder(QWidget *control) { control->installEventFilter(this); }
    std::vector<QKeyCombination> Keys;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const QKeyCombination key = static_cast<QKeyEvent *>(event)->keyCombination();
        if (key.key() != Qt::Key_Shift && key.key() != Qt::Key_Control && key.key() != Qt::Key_Alt)
            Keys.push_back(key);
        return false;
    }
};

// Each case starts with empty settings, no recorded boxes and a stand-in "xdg-open" first in
// PATH that writes its working folder and its arguments, one a line, to a log.
class KeyCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unlink(RegistryFilePath(HKEY_CURRENT_USER).constData());
        MessageLog() = {};
        Tools.MakeDir("bin");
        XdgLog = Tools.FilePath("xdg-open.log");
        const QByteArray script = Tools.WriteFile("bin/xdg-open",
                                                  "#!/bin/sh\n{ pwd -P; for a in \"$@\"; do echo \"$a\"; done; } > '"
                                                      + XdgLog + ".part'\nmv '" + XdgLog + ".part' '" + XdgLog + "'\n");
        ::chmod(script.constData(), 0755);
        SavedPath = qgetenv("PATH");
        qputenv("PATH", Tools.FilePath("bin") + ':' + SavedPath);
    }
    void TearDown() override
    {
        Window.reset();
        qputenv("PATH", SavedPath);
        ::unlink(RegistryFilePath(HKEY_CURRENT_USER).constData());
    }

    static void Store(const char *name, qint32 code)
    {
        ASSERT_TRUE(
            WriteRegValue(HKEY_CURRENT_USER, DirNoteRegKey, QString::fromLatin1(name), RegValue::FromInteger(code)));
    }
    // A new window listing folder, shown and active.
    void Open(const QByteArray &folder)
    {
        Window = std::make_unique<TFrmMain>(QByteArrayList{folder});
        ASSERT_NO_FATAL_FAILURE(ShowAndActivate(*Window));
    }
    TStringGrid *Grid(TTable table) const
    {
        return table == TTable::Folders ? Window->StringGridFolders : Window->StringGridFiles;
    }
    // Puts the focus on place; an editor is opened with F2 as a person would.
    void Focus(TPlace place)
    {
        switch (place) {
        case TPlace::Folders:
        case TPlace::FolderEditor: Window->StringGridFolders->setFocus(); break;
        case TPlace::Files:
        case TPlace::FileEditor: Window->StringGridFiles->setFocus(); break;
        case TPlace::Button: Window->BitBtnRefreshFolder->setFocus(); break;
        }
        if (place == TPlace::FolderEditor || place == TPlace::FileEditor) {
            Key(Qt::Key_F2);
            TStringGrid *grid = place == TPlace::FolderEditor ? Window->StringGridFolders : Window->StringGridFiles;
            ASSERT_TRUE(qobject_cast<QLineEdit *>(QApplication::focusWidget())) << "no cell editor opened";
            ASSERT_TRUE(grid->isAncestorOf(QApplication::focusWidget()));
        }
        ASSERT_NE(QApplication::focusWidget(), nullptr);
    }
    QByteArray Listed() const { return Window->CurrentFolderPath(); }
    int FileCount() const { return Window->StringGridFiles->GridModel()->rowCount(); }
    // The stand-in's log once it has written it, as lines; nullopt when it was not started.
    std::optional<QByteArrayList> WaitForXdgOpen() const
    {
        if (!QTest::qWaitFor([&] { return Exists(XdgLog); }, 5000))
            return std::nullopt;
        QByteArray log = ReadFileBytes(XdgLog);
        log.chop(1);
        return log.split('\n');
    }

    TTempDir Dir;
    TTempDir Tools;
    QByteArray XdgLog;
    QByteArray SavedPath;
    std::unique_ptr<TFrmMain> Window;
};

class KeyCommandTableTest : public KeyCommandTest, public ::testing::WithParamInterface<TTable> {
protected:
    bool IsFolders() const { return GetParam() == TTable::Folders; }
    TStringGrid *Grid() const { return KeyCommandTest::Grid(GetParam()); }
    QByteArray Section() const { return IsFolders() ? "Folders" : "Files"; }
    QByteArray MakeEntry(const QByteArray &relative) const
    {
        return IsFolders() ? Dir.MakeDir(relative) : Dir.WriteFile(relative, "x");
    }
    // The delete key of the table under test, pressed in it.
    void PressDelete() const
    {
        Grid()->setFocus();
        Key(Qt::Key_Delete, Qt::ControlModifier);
    }
};

// How many entries this process's trash holds.
qsizetype TrashedCount()
{
    return QDir(QFile::decodeName(qgetenv("XDG_DATA_HOME") + "/Trash/info")).entryList(QDir::Files).size();
}

std::string TableName(const ::testing::TestParamInfo<TTable> &info)
{
    return info.param == TTable::Folders ? "Folders" : "Files";
}
} // namespace

INSTANTIATE_TEST_SUITE_P(BothTables, KeyCommandTableTest, ::testing::Values(TTable::Folders, TTable::Files), TableName);

// ---- the dispatch alone ----

TEST(KeyDispatch, TheFirstRowWhoseCodeMatchesAndWhoseTableHasTheFocusRuns)
{
    using F = TFrmMain::TKeyFocus;
    std::array<TShortCut, TFrmMain::CommandCount> codes{};
    for (int row = 0; row < TFrmMain::CommandCount; ++row)
        codes[size_t(row)] = TFrmMain::ShortCutSettings[size_t(row)].Default;
    const struct {
        TShortCut Pressed;
        F Focus;
        TFrmMain::TCommand Command;
    } cases[] = {
        {0x2070, F::None, TFrmMain::cmdAbout},
        {0x0074, F::Files, TFrmMain::cmdRefresh},
        {0x400D, F::Folders, TFrmMain::cmdFolderGoto},
        {0x400D, F::Files, TFrmMain::cmdFileExec},
        {0x400D, F::None, TFrmMain::CommandCount}, // no table focused: the key goes on
        {0x4008, F::None, TFrmMain::cmdFolderGoBack},
        {0x800D, F::Folders, TFrmMain::cmdFolderExplore},
        {0x800D, F::Files, TFrmMain::CommandCount},
        {0x402E, F::Folders, TFrmMain::cmdFolderDelete},
        {0x402E, F::Files, TFrmMain::cmdFileDelete},
        {0x402E, F::None, TFrmMain::CommandCount},
        {0x4009, F::Folders, TFrmMain::cmdSwitchTable},
        {0x0009, F::Folders, TFrmMain::CommandCount}, // Tab without Ctrl
        {0x6009, F::Folders, TFrmMain::CommandCount}, // with Shift as well
    };
    for (const auto &c : cases)
        EXPECT_EQ(TFrmMain::KeyCommand(codes, c.Pressed, c.Focus), c.Command)
            << std::hex << c.Pressed << " focus " << int(c.Focus);

    // Two rows with the same code: the earlier wins where both conditions hold.
    codes[TFrmMain::cmdSwitchTable] = 0x0074;
    EXPECT_EQ(TFrmMain::KeyCommand(codes, 0x0074, F::Folders), TFrmMain::cmdRefresh);
    codes[TFrmMain::cmdFolderGoto] = 0x0041;
    codes[TFrmMain::cmdFolderGoBack] = 0x0041;
    EXPECT_EQ(TFrmMain::KeyCommand(codes, 0x0041, F::Folders), TFrmMain::cmdFolderGoto);
    EXPECT_EQ(TFrmMain::KeyCommand(codes, 0x0041, F::Files), TFrmMain::cmdFolderGoBack);
}

TEST(KeyDispatch, TheParentIsFoundByTextAlone)
{
    EXPECT_EQ(ParentFolderPath("/data/Sub/"), QByteArray("/data/"));
    EXPECT_EQ(ParentFolderPath("/data/"), QByteArray("/"));
    EXPECT_EQ(ParentFolderPath("/"), QByteArray());
    EXPECT_EQ(ParentFolderPath(""), QByteArray());
    EXPECT_EQ(ParentFolderPath("/a b/\xff/"), QByteArray("/a b/"));
}

// ---- the key preview ----

// Keys the focused control would act on itself (Tab moves the focus, Enter and Delete edit,
// Esc closes the editor) reach the preview first wherever the focus is.
TEST_F(KeyCommandTest, EveryKeyReachesThePreviewBeforeTheFocusedControl)
{
    Dir.MakeDir("Sub");
    Dir.WriteFile("a.txt", "x");
    const struct {
        Qt::Key Key;
        Qt::KeyboardModifiers Modifiers;
        TShortCut Code;
    } keys[] = {
        {Qt::Key_Tab, Qt::NoModifier, 0x0009},       {Qt::Key_Backtab, Qt::ShiftModifier, 0x2009},
        {Qt::Key_Tab, Qt::ControlModifier, 0x4009},  {Qt::Key_Return, Qt::NoModifier, 0x000D},
        {Qt::Key_Backspace, Qt::NoModifier, 0x0008}, {Qt::Key_Delete, Qt::NoModifier, 0x002E},
        {Qt::Key_Escape, Qt::NoModifier, 0x001B},    {Qt::Key_Space, Qt::NoModifier, 0x0020},
    };
    int made = 0;
    for (const auto &k : keys) {
        // Each of these keys made the refresh key: a refresh lists the file made just before.
        Store("sc_Refresh", k.Code);
        ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
        for (const TPlace place : AllPlaces) {
            SCOPED_TRACE(std::string(PlaceName(place)) + ", code " + QByteArray::number(k.Code, 16).toStdString());
            ASSERT_NO_FATAL_FAILURE(Focus(place));
            QWidget *control = QApplication::focusWidget();
            TKeyRecorder recorder(control);
            const int before = FileCount();
            Dir.WriteFile("new" + QByteArray::number(++made) + ".txt", "x");
            Key(k.Key, k.Modifiers);
            EXPECT_EQ(FileCount(), before + 1) << "the key did not refresh";
            EXPECT_TRUE(recorder.Keys.empty()) << "the focused control saw the key as well";
        }
    }
}

// ---- each command with its default key ----

TEST_F(KeyCommandTest, CtrlEnterInTheFolderTableGoesInAndCtrlBackspaceComesBackFromAnywhere)
{
    Dir.MakeDir("Sub");
    Dir.MakeDir("Sub/Inner");
    Dir.WriteFile("Sub/inside.txt", "x");
    Dir.WriteFile("a.txt", "x");
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    for (const TPlace place : {TPlace::Folders, TPlace::Files, TPlace::FolderEditor, TPlace::Button}) {
        SCOPED_TRACE(PlaceName(place));
        Window->StringGridFolders->setFocus();
        Key(Qt::Key_Return, Qt::ControlModifier);
        ASSERT_EQ(Listed(), Dir.Path() + "/Sub/");
        EXPECT_TRUE(Exists(Dir.FilePath("Sub/Folder.dnt")));
        ASSERT_NO_FATAL_FAILURE(Focus(place));
        Key(Qt::Key_Backspace, Qt::ControlModifier);
        EXPECT_EQ(Listed(), Dir.Path() + '/');
    }
}

TEST_F(KeyCommandTest, CtrlEnterInTheFileTableOpensTheFileInItsFolder)
{
    Dir.MakeDir("Sub");
    const QByteArray document = Dir.WriteFile("Read me.txt", "x");
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    ASSERT_NO_FATAL_FAILURE(Focus(TPlace::Files));
    Key(Qt::Key_Return, Qt::ControlModifier);
    const std::optional<QByteArrayList> log = WaitForXdgOpen();
    ASSERT_TRUE(log) << "the file was not opened";
    EXPECT_EQ(*log, QByteArrayList(
                        {QFile::encodeName(QFileInfo(QFile::decodeName(Dir.Path())).canonicalFilePath()), document}));
    EXPECT_EQ(Listed(), Dir.Path() + '/');
    EXPECT_TRUE(MessageLog().Requests.empty());
}

// With no table focused neither Ctrl+Enter nor Ctrl+Delete runs a command: the editor or the
// button gets the key.
TEST_F(KeyCommandTest, CtrlEnterAndCtrlDeleteInAnEditorOrOnAButtonReachThatControl)
{
    Dir.MakeDir("Sub");
    Dir.WriteFile("a.txt", "x");
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    for (const TPlace place : {TPlace::FolderEditor, TPlace::FileEditor, TPlace::Button}) {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Delete}) {
            SCOPED_TRACE(std::string(PlaceName(place)) + (key == Qt::Key_Return ? " Ctrl+Enter" : " Ctrl+Delete"));
            ASSERT_NO_FATAL_FAILURE(Focus(place));
            TKeyRecorder recorder(QApplication::focusWidget());
            Key(key, Qt::ControlModifier);
            ASSERT_EQ(recorder.Keys.size(), 1u);
            EXPECT_EQ(recorder.Keys[0], QKeyCombination(Qt::ControlModifier, key));
            EXPECT_EQ(Listed(), Dir.Path() + '/');
            EXPECT_TRUE(Exists(Dir.FilePath("Sub")));
            EXPECT_TRUE(Exists(Dir.FilePath("a.txt")));
            EXPECT_TRUE(MessageLog().Requests.empty());
            // Close an editor the key left open, so the next case starts from its table.
            Window->StringGridFolders->setFocus();
        }
    }
    EXPECT_FALSE(Exists(XdgLog));
}

TEST_F(KeyCommandTest, CtrlTabMovesTheFocusBetweenTheTables)
{
    Dir.MakeDir("Sub");
    Dir.WriteFile("a.txt", "x");
    Dir.MakeDir("OnlyFolders");
    Dir.MakeDir("OnlyFolders/Sub");
    Dir.MakeDir("OnlyFiles");
    Dir.WriteFile("OnlyFiles/a.txt", "x");
    const struct {
        QByteArray Folder;
        TPlace From;
        std::optional<TTable> To; // nullopt: the focus stays where it was
    } cases[] = {
        {"", TPlace::Folders, TTable::Files},
        {"", TPlace::Files, TTable::Folders},
        {"", TPlace::FolderEditor, TTable::Folders},
        {"", TPlace::FileEditor, TTable::Folders},
        {"", TPlace::Button, TTable::Folders},
        {"/OnlyFolders", TPlace::Folders, TTable::Folders}, // an empty file table: it stays
        {"/OnlyFolders", TPlace::Button, TTable::Folders},
        {"/OnlyFiles", TPlace::Files, TTable::Files},
        {"/OnlyFiles", TPlace::Button, TTable::Files},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(PlaceName(c.From)) + " in '" + c.Folder.toStdString() + "'");
        ASSERT_NO_FATAL_FAILURE(Open(Dir.Path() + c.Folder));
        ASSERT_NO_FATAL_FAILURE(Focus(c.From));
        TKeyRecorder recorder(QApplication::focusWidget());
        Key(Qt::Key_Tab, Qt::ControlModifier);
        EXPECT_EQ(QApplication::focusWidget(), Grid(*c.To));
        EXPECT_TRUE(recorder.Keys.empty());
    }
    // With both tables empty nothing takes the focus: it stays on the button.
    ASSERT_NO_FATAL_FAILURE(Open(Dir.MakeDir("Empty")));
    ASSERT_NO_FATAL_FAILURE(Focus(TPlace::Button));
    Key(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), Window->BitBtnRefreshFolder);
}

TEST_F(KeyCommandTest, AltEnterIsSwallowedInTheFolderTableOnly)
{
    Dir.MakeDir("Sub");
    Dir.WriteFile("a.txt", "x");
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    for (const TPlace place : AllPlaces) {
        SCOPED_TRACE(PlaceName(place));
        ASSERT_NO_FATAL_FAILURE(Focus(place));
        QWidget *control = QApplication::focusWidget();
        TKeyRecorder recorder(control);
        Key(Qt::Key_Return, Qt::AltModifier);
        EXPECT_EQ(recorder.Keys.size(), place == TPlace::Folders ? 0u : 1u);
        EXPECT_EQ(Listed(), Dir.Path() + '/');
        EXPECT_TRUE(MessageLog().Requests.empty());
        if (place == TPlace::Folders) {
            EXPECT_EQ(QApplication::focusWidget(), control) << "the swallowed key moved the focus";
        }
        Window->StringGridFolders->setFocus();
    }
}

// None of the commands commits what was typed: F5 puts the stored description back.
TEST_P(KeyCommandTableTest, F5RelistsAndDiscardsAnUncommittedTypedText)
{
    MakeEntry("entry");
    Dir.WriteFile("Folder.dnt", "[" + Section() + "]\r\nentry=stored\r\n");
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    const QByteArray before = ReadFileBytes(Dir.FilePath("Folder.dnt"));
    Grid()->setFocus();
    ASSERT_EQ(Grid()->Row(), 0);
    Type(QStringLiteral("typed"));
    ASSERT_EQ(Grid()->GridModel()->Description(0), QStringLiteral("typed"));
    Dir.WriteFile("later.txt", "x");
    Key(Qt::Key_F5);
    EXPECT_EQ(Grid()->GridModel()->Description(0), QStringLiteral("stored"));
    EXPECT_GE(Window->StringGridFiles->GridModel()->FindName("later.txt"), 0) << "not relisted";
    EXPECT_EQ(ReadFileBytes(Dir.FilePath("Folder.dnt")), before);
    // The focus stays on the table, and moving on writes nothing.
    EXPECT_EQ(QApplication::focusWidget(), Grid());
    Window->BitBtnRefreshFolder->setFocus();
    EXPECT_EQ(ReadFileBytes(Dir.FilePath("Folder.dnt")), before);
}

TEST_F(KeyCommandTest, AStoredRefreshCodeOf0x71MakesF2TheRefreshKey)
{
    Store("sc_Refresh", 0x71);
    Dir.WriteFile("a.txt", "x");
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    ASSERT_NO_FATAL_FAILURE(Focus(TPlace::Files));
    Dir.WriteFile("b.txt", "x");
    Key(Qt::Key_F5);
    EXPECT_EQ(FileCount(), 1) << "F5 still refreshes";
    Key(Qt::Key_F2);
    EXPECT_EQ(FileCount(), 2) << "F2 did not refresh";
    // F2 was the refresh and opened no cell editor.
    EXPECT_EQ(QApplication::focusWidget(), Window->StringGridFiles);
}

TEST_F(KeyCommandTest, TheAboutKeyOpensTheAboutBoxAndAChangedCodeChangesItsKeyAndText)
{
    int opened = 0;
    auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
        TModalCanceller canceller([&](QDialog *dialog) {
            EXPECT_TRUE(qobject_cast<TFrmQorVersionAbout *>(dialog));
            EXPECT_EQ(dialog->parentWidget(), Window.get());
        });
        Key(key, modifiers);
        opened += canceller.Seen;
    };
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    Window->BitBtnRefreshFolder->setFocus();
    press(Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_EQ(opened, 1);

    Store("sc_About", 0xC041); // Ctrl+Alt+A
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    EXPECT_EQ(Window->WindowMenu()->actions().last()->text(), QStringLiteral("&About ...\tCtrl+Alt+A"));
    Window->BitBtnRefreshFolder->setFocus();
    press(Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_EQ(opened, 1) << "Shift+F1 still opens the About box";
    press(Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(opened, 2);
}

// ---- deleting ----

// The cursor lands on the entry that followed the deleted one, or on the new last entry; the
// only entry leaves the table empty and disabled, without an error and without the focus.
TEST_P(KeyCommandTableTest, DeletingMovesTheCursorToTheFollowingEntry)
{
    // The row deleted, by its place in the listing, whatever order the listing has.
    const struct {
        const char *Case;
        int Entries;
        int Deleted;
    } cases[] = {{"middle", 3, 1}, {"last", 3, 2}, {"only", 1, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Case);
        MessageLog() = {};
        const QByteArray folder = Dir.MakeDir(c.Case);
        QByteArray section = "[" + Section() + "]\r\n";
        for (int i = 0; i < c.Entries; ++i) {
            const QByteArray name = QByteArray(1, char('A' + i));
            MakeEntry(c.Case + ('/' + name));
            section += name + "=about " + name + "\r\n";
        }
        WriteFileBytes(folder + "/Folder.dnt", section);
        ASSERT_NO_FATAL_FAILURE(Open(folder));
        QByteArrayList listed;
        for (int row = 0; row < Grid()->GridModel()->rowCount(); ++row)
            listed << Grid()->GridModel()->Name(row);
        ASSERT_EQ(listed.size(), c.Entries);
        const QByteArray deleted = listed.takeAt(c.Deleted);
        // The entry that followed, or the new last one.
        const QByteArray cursorAfter = listed.isEmpty() ? QByteArray()
                                                        : listed.at(std::min<qsizetype>(c.Deleted, listed.size() - 1));
        ASSERT_TRUE(Grid()->SetCurrentCell(1, c.Deleted));
        const qsizetype trashedBefore = TrashedCount();
        PressDelete();

        const QByteArray gone = folder + '/' + deleted;
        EXPECT_FALSE(Exists(gone));
        if (IsFolders()) {
            // Asked first, and answered with the default button: "&Yes".
            ASSERT_EQ(MessageLog().Requests.size(), 1u);
            const TMessageDlgRequest &asked = MessageLog().Requests[0];
            EXPECT_EQ(asked.Caption, QStringLiteral("Confirm"));
            EXPECT_EQ(asked.Type, TMsgDlgType::mtConfirmation);
            EXPECT_EQ(asked.Text, QStringLiteral("Are you absolutely sure that you permanently want to remove "
                                                 "the selected folder and it's subfolders ?"));
            EXPECT_EQ(asked.Buttons, mbYes | mbNo);
            EXPECT_TRUE(asked.HasDefault && asked.DefaultButton == mbYes);
            EXPECT_TRUE(asked.HasCancel && asked.CancelButton == mbNo);
            // In the trash, where the user can take it back from.
            EXPECT_TRUE(Exists(qgetenv("XDG_DATA_HOME") + "/Trash/info/" + deleted + ".trashinfo"));
            EXPECT_EQ(TrashedCount(), trashedBefore + 1);
        } else {
            EXPECT_TRUE(MessageLog().Requests.empty()) << "a file is deleted without a question";
            EXPECT_EQ(TrashedCount(), trashedBefore) << "a file went to the trash";
        }
        // The listing lost the line and the description file the description.
        EXPECT_EQ(Grid()->GridModel()->FindName(deleted), -1);
        EXPECT_FALSE(ReadFileBytes(folder + "/Folder.dnt").contains("about " + deleted));
        if (cursorAfter.isEmpty()) {
            EXPECT_FALSE(Grid()->isEnabled());
            EXPECT_NE(QApplication::focusWidget(), Grid());
        } else {
            EXPECT_EQ(Grid()->GridModel()->Name(Grid()->Row()), cursorAfter);
            EXPECT_EQ(QApplication::focusWidget(), Grid());
        }
    }
}

TEST_F(KeyCommandTest, AnsweringNoLeavesTheFolderAndTheListing)
{
    const QByteArray sub = Dir.MakeDir("Sub");
    Dir.WriteFile("Sub/inside.txt", "x");
    Dir.MakeDir("Tail");
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    ASSERT_TRUE(Window->StringGridFolders->SetCurrentCell(1, 0));
    MessageLog().Answers = {mrNo};
    Window->StringGridFolders->setFocus();
    Key(Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(MessageLog().Requests.size(), 1u);
    EXPECT_TRUE(Exists(sub + "/inside.txt"));
    EXPECT_EQ(Window->StringGridFolders->GridModel()->rowCount(), 2);
    EXPECT_EQ(Window->StringGridFolders->Row(), 0);
    EXPECT_FALSE(Exists(qgetenv("XDG_DATA_HOME") + "/Trash/info/Sub.trashinfo"));
}

TEST_F(KeyCommandTest, AFolderTheTrashRefusesIsReportedAndStays)
{
    // The trash takes names that are text only.
    const QByteArray odd = Dir.MakeDir("odd\xff");
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    Window->StringGridFolders->setFocus();
    Key(Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(MessageLog().Requests.size(), 2u);
    const TMessageDlgRequest &report = MessageLog().Requests[1];
    EXPECT_EQ(report.Caption, QStringLiteral("Error"));
    EXPECT_EQ(report.Type, TMsgDlgType::mtError);
    EXPECT_EQ(report.Text, QStringLiteral("Unable to delete the selected folder and it's subfolders !"));
    EXPECT_EQ(report.Buttons, TMsgDlgButtons(mbAbort));
    EXPECT_TRUE(Exists(odd));
    EXPECT_EQ(Window->StringGridFolders->GridModel()->Name(0), QByteArray("odd\xff"));
}

TEST_F(KeyCommandTest, AFileWhoseNameIsNotTextIsDeletedAllTheSame)
{
    const QByteArray odd = Dir.WriteFile("odd\xff.txt", "x");
    const QByteArray lookalike = Dir.WriteFile("odd\xef\xbf\xbd.txt", "x"); // what decoding would make of it
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    ASSERT_TRUE(
        Window->StringGridFiles->SetCurrentCell(1, Window->StringGridFiles->GridModel()->FindName("odd\xff.txt")));
    Window->StringGridFiles->setFocus();
    Key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_FALSE(Exists(odd));
    EXPECT_TRUE(Exists(lookalike));
    EXPECT_TRUE(MessageLog().Requests.empty());
}

TEST_F(KeyCommandTest, AFileThatCannotBeDeletedIsReportedAndStays)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root deletes a file from a read-only folder";
    const QByteArray folder = Dir.MakeDir("ro");
    const QByteArray file = Dir.WriteFile("ro/keep.txt", "x");
    Dir.WriteFile("ro/Folder.dnt", "");
    ::chmod(folder.constData(), 0555);
    ASSERT_NO_FATAL_FAILURE(Open(folder));
    Window->StringGridFiles->setFocus();
    Key(Qt::Key_Delete, Qt::ControlModifier);
    ::chmod(folder.constData(), 0755);
    ASSERT_EQ(MessageLog().Requests.size(), 1u);
    EXPECT_EQ(MessageLog().Requests[0].Caption, QStringLiteral("Error"));
    EXPECT_EQ(MessageLog().Requests[0].Text, QStringLiteral("Unable to delete the selected file !"));
    EXPECT_EQ(MessageLog().Requests[0].Buttons, TMsgDlgButtons(mbCancel));
    EXPECT_TRUE(Exists(file));
}

// ---- the root ----

// The root folder of this test is a folder of its own (chroot), so the listing of "/" writes no
// description file into the machine's root.
class TOwnRoot {
public:
    explicit TOwnRoot(const QByteArray &folder)
    {
        FOldRoot = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        FOldCwd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        Entered = FOldRoot >= 0 && ::chroot(folder.constData()) == 0 && ::chdir("/") == 0;
    }
    ~TOwnRoot()
    {
        if (Entered) {
            [[maybe_unused]] const int a = ::fchdir(FOldRoot);
            [[maybe_unused]] const int b = ::chroot(".");
            [[maybe_unused]] const int c = ::fchdir(FOldCwd);
        }
        ::close(FOldRoot);
        ::close(FOldCwd);
    }
    bool Entered = false;

private:
    int FOldRoot = -1;
    int FOldCwd = -1;
};

TEST_F(KeyCommandTest, CtrlBackspaceWalksUpToTheRootAndNoFurther)
{
    const QByteArray root = Dir.MakeDir("root");
    Dir.MakeDir("root/data");
    Dir.MakeDir("root/data/Sub");
    Dir.WriteFile("root/data/Sub/a.txt", "x");
    // Listings that find their description files write nothing (a write inside the changed
    // root would need /proc, which is not there).
    for (const char *folder : {"root", "root/data", "root/data/Sub"})
        Dir.WriteFile(QByteArray(folder) + "/Folder.dnt", "[Folders]\r\n[Files]\r\n");
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    const TOwnRoot own(root);
    if (!own.Entered)
        GTEST_SKIP() << "no root folder of its own for this test (chroot needs privileges)";
    ASSERT_TRUE(Window->LoadFolder("/data/Sub"));
    Window->StringGridFiles->setFocus();
    for (const char *expected : {"/data/", "/", "/"}) {
        Key(Qt::Key_Backspace, Qt::ControlModifier);
        EXPECT_EQ(Listed(), QByteArray(expected));
    }
    EXPECT_EQ(Window->StringGridFolders->GridModel()->Name(0), QByteArray("data"));
    EXPECT_TRUE(MessageLog().Requests.empty());
}

// Keys through the platform's own path (the window system's queue, shortcut override included),
// as a key press on the desktop arrives: a command's key wins over the window's accelerators,
// and Tab and Ctrl+Tab reach the preview before the focus chain moves the focus.
TEST_F(KeyCommandTest, KeysFromTheWindowSystemReachThePreviewBeforeAccelerators)
{
    Dir.MakeDir("Sub");
    Dir.WriteFile("a.txt", "x");
    Store("sc_Refresh", 0x8046); // Alt+F, the accelerator of the "&Files" heading
    Store("sc_About", 0x0009);   // plain Tab
    ASSERT_NO_FATAL_FAILURE(Open(Dir.Path()));
    QWindow *window = Window->windowHandle();
    ASSERT_NE(window, nullptr);

    Window->StringGridFolders->setFocus();
    Dir.WriteFile("b.txt", "x");
    QTest::keyClick(window, Qt::Key_F, Qt::AltModifier);
    EXPECT_EQ(FileCount(), 2) << "Alt+F did not refresh";
    EXPECT_EQ(QApplication::focusWidget(), Window->StringGridFolders) << "the heading's accelerator ran";

    QTest::keyClick(window, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), Window->StringGridFiles);

    TModalCanceller canceller([](QDialog *dialog) { EXPECT_TRUE(qobject_cast<TFrmQorVersionAbout *>(dialog)); });
    QTest::keyClick(window, Qt::Key_Tab);
    EXPECT_TRUE(canceller.Seen) << "Tab did not open the About box";
    // The window's focus (it comes back to it once the window is active again) did not move.
    EXPECT_EQ(Window->focusWidget(), Window->StringGridFiles) << "Tab moved the focus as well";
}
