// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as a whole: its creation from the command line and the settings, its layout,
// the window menu with the About item, the hand-off from a second start, and its closing.

#include "UiTestSupport.h"

#include "about/ProgramIcon.h"
#include "about/QorAboutVersionForm.h"
#include "common/Exceptions.h"
#include "common/PathUtils.h"
#include "settings/RegSpecial.h"
#include "settings/RegistryStore.h"
#include "system/FoldrDlg.h"

#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>

#include <atomic>
#include <functional>
#include <thread>

using namespace TestSupport;
using namespace UiTest;
using namespace Qt::StringLiterals;

namespace {
// Every case starts from an empty settings file and leaves none behind.
class FrmMainTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unlink(RegistryFilePath(HKEY_CURRENT_USER).constData());
        MessageLog().Requests.clear();
        MessageLog().Answers.clear();
    }
    void TearDown() override { ::unlink(RegistryFilePath(HKEY_CURRENT_USER).constData()); }

    static void Store(const char *name, const RegValue &value)
    {
        ASSERT_TRUE(WriteRegValue(HKEY_CURRENT_USER, DirNoteRegKey, QString::fromLatin1(name), value));
    }
    static qint32 Stored(const char *name)
    {
        return ReadRegValue(HKEY_CURRENT_USER, DirNoteRegKey, QString::fromLatin1(name), RegValue::FromInteger(-1))
            .AsInteger();
    }
    static QSize OuterSize(const TFrmMain &window) { return window.size() + TFrmMain::FrameAllowance; }
    static QString LastMenuText(const TFrmMain &window) { return window.WindowMenu()->actions().last()->text(); }

    TTempDir Dir;
};

// The process's current directory for one case.
class TCurrentDir {
public:
    explicit TCurrentDir(const QByteArray &path) : FOld(QDir::currentPath())
    {
        QDir::setCurrent(QString::fromUtf8(path));
    }
    ~TCurrentDir() { QDir::setCurrent(FOld); }

private:
    QString FOld;
};
} // namespace

TEST_F(FrmMainTest, CreationListsTheStartFolder)
{
    const QByteArray sub = Dir.MakeDir("Sub");
    Dir.WriteFile("Sub/inside.txt", "x");
    {
        TFrmMain window({sub + "/folder.DNT"});
        EXPECT_EQ(window.DescFilePath(), sub + "/Folder.dnt");
        EXPECT_EQ(window.StringGridFiles->GridModel()->Name(0), QByteArray("inside.txt"));
        EXPECT_TRUE(QFile::exists(QString::fromUtf8(sub + "/Folder.dnt")));
    }
    {
        const TCurrentDir here(sub);
        TFrmMain window;
        EXPECT_EQ(window.DescFilePath(), sub + "/Folder.dnt");
    }
    // A start folder that does not exist is not reported; the window stays empty.
    TFrmMain window({Dir.Path() + "/gone/Folder.dnt"});
    EXPECT_TRUE(window.DescFilePath().isEmpty());
    EXPECT_EQ(window.LabelCurrFolder->text(), QStringLiteral("(none)"));
    EXPECT_EQ(window.LabelCurrFolder->toolTip(), QStringLiteral("(none)"));
    EXPECT_FALSE(window.StringGridFolders->isEnabled());
    EXPECT_TRUE(MessageLog().Requests.empty());
}

TEST_F(FrmMainTest, EveryWindowOfTheProgramShowsItsIcon)
{
    QApplication::setWindowIcon(QIcon());
    TFrmMain window({Dir.Path()});
    window.show();
    // Dialogs and boxes take the application's icon, so it is the one that must be set.
    EXPECT_TRUE(QTest::qWaitFor([] { return !QApplication::windowIcon().isNull(); }, 5000));
    EXPECT_EQ(QApplication::windowIcon().availableSizes(), ProgramIcon().availableSizes());
    QDialog dialog(&window);
    EXPECT_FALSE(dialog.windowIcon().isNull());
}

TEST_F(FrmMainTest, TheStoredSizeIsReadWithItsMinimumAndWrittenOnCloseUnlessMaximised)
{
    {
        // Nothing stored: the designed size, which is also the smallest.
        TFrmMain window(NothingToList(Dir));
        EXPECT_EQ(window.size(), TFrmMain::DesignClientSize);
        EXPECT_EQ(OuterSize(window), TFrmMain::MinimumOuterSize);
        EXPECT_EQ(window.minimumSize(), TFrmMain::DesignClientSize);
    }
    Store("MainWidth", RegValue::FromInteger(100));
    Store("MainHeight", RegValue::FromInteger(-5));
    {
        TFrmMain window(NothingToList(Dir));
        EXPECT_EQ(OuterSize(window), QSize(453, 476));
    }
    Store("MainWidth", RegValue::FromInteger(600));
    Store("MainHeight", RegValue::FromInteger(500));
    {
        TFrmMain window(NothingToList(Dir));
        EXPECT_EQ(OuterSize(window), QSize(600, 500));
        // Closed in its normal state at another size: that size is stored.
        window.show();
        window.resize(QSize(640, 520) - TFrmMain::FrameAllowance);
        EXPECT_TRUE(window.close());
        EXPECT_EQ(Stored("MainWidth"), 640);
        EXPECT_EQ(Stored("MainHeight"), 520);
    }
    {
        TFrmMain window(NothingToList(Dir));
        EXPECT_EQ(OuterSize(window), QSize(640, 520));
        // Maximised: nothing is written, the last stored size stays for the next start.
        window.showMaximized();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.isMaximized(); }, 3000));
        const QByteArray before = ReadFileBytes(RegistryFilePath(HKEY_CURRENT_USER));
        EXPECT_TRUE(window.close());
        EXPECT_EQ(ReadFileBytes(RegistryFilePath(HKEY_CURRENT_USER)), before);
    }
    {
        // Minimised: the size of its normal window is stored.
        TFrmMain window(NothingToList(Dir));
        window.show();
        window.resize(QSize(700, 530) - TFrmMain::FrameAllowance);
        window.showMinimized();
        EXPECT_TRUE(window.close());
        EXPECT_EQ(Stored("MainWidth"), 700);
        EXPECT_EQ(Stored("MainHeight"), 530);
    }
}

TEST_F(FrmMainTest, AStoredValueOfTheWrongTypeIsShownAndTheWindowOpensAnyway)
{
    const QByteArray sub = Dir.MakeDir("Sub");
    for (const char *name : {"MainWidth", "sc_About"}) {
        SCOPED_TRACE(name);
        SetUp();
        Store(name, RegValue::FromText(QStringLiteral("not a number")));
        TFrmMain window({sub});
        ASSERT_EQ(MessageLog().Requests.size(), 1u);
        EXPECT_EQ(MessageLog().Requests[0].Type, TMsgDlgType::mtError);
        EXPECT_FALSE(MessageLog().Requests[0].Text.isEmpty());
        // The remaining steps were skipped: nothing listed, no About item, no hand-off.
        EXPECT_TRUE(window.DescFilePath().isEmpty());
        EXPECT_FALSE(LastMenuText(window).startsWith(QStringLiteral("&About")));
        EXPECT_EQ(window.PrevInstServer(), nullptr);
        ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));
        EXPECT_TRUE(window.isVisible());
    }
}

TEST_F(FrmMainTest, TheShortcutCodesAreReadWithTheirDefaults)
{
    Store("sc_Refresh", RegValue::FromInteger(0x1234074)); // a double word: its low 16 bits count
    TFrmMain window(NothingToList(Dir));
    const TShortCut expected[] = {0x2070, 0x4074, 0x400D, 0x4008, 0x800D, 0x402E,
                                  0x400D, 0x402E, 0x4009, 0x404E, 0x4046, 0x4050};
    for (int command = 0; command < TFrmMain::CommandCount; ++command)
        EXPECT_EQ(window.ShortCutCode(TFrmMain::TCommand(command)), expected[command]) << command;
}

TEST_F(FrmMainTest, TheWindowMenuEndsWithTheAboutItemAndItsShortcut)
{
    {
        TFrmMain window(NothingToList(Dir));
        const QList<QAction *> actions = window.WindowMenu()->actions();
        QStringList texts;
        for (QAction *action : actions)
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        EXPECT_EQ(texts, (QStringList{u"&Restore"_s, u"Mi&nimize"_s, u"Ma&ximize"_s, u"-"_s,
                                      u"Only &undescribed entries\tCtrl+N"_s, u"&Search descriptions...\tCtrl+F"_s,
                                      u"Pruned descriptions...\tCtrl+P"_s, u"Index this folder and its subfolders"_s,
                                      u"Mirror descriptions to file comments"_s, u"-"_s, u"&Close\tAlt+F4"_s,
                                      u"&About ...\tShift+F1"_s}));
        EXPECT_EQ(actions.last()->data().toInt(), 666);
    }
    Store("sc_About", RegValue::FromInteger(0x4041));
    TFrmMain window(NothingToList(Dir));
    EXPECT_EQ(LastMenuText(window), QStringLiteral("&About ...\tCtrl+A"));
}

TEST_F(FrmMainTest, TheAboutItemOpensTheAboutBoxInEnglish)
{
    TFrmMain window(NothingToList(Dir));
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));
    QString title;
    QStringList labels;
    QWidget *owner = nullptr;
    TModalCanceller canceller([&](QDialog *dialog) {
        auto *about = qobject_cast<TFrmQorVersionAbout *>(dialog);
        ASSERT_NE(about, nullptr);
        title = about->windowTitle();
        labels = about->ExtraLabels();
        owner = about->parentWidget();
    });
    window.WindowMenu()->actions().last()->trigger();
    EXPECT_TRUE(canceller.Seen);
    EXPECT_TRUE(title.startsWith(QStringLiteral("About - "))) << title.toStdString();
    EXPECT_EQ(labels, (QStringList{u"HTTP=Homepage"_s, u"Programmers=Programmers"_s, u"SMTP=E-Mail"_s}));
    EXPECT_EQ(owner, &window);
}

TEST_F(FrmMainTest, TheWindowMenuOpensByRightClickOutsideTheTablesAndByAltSpace)
{
    Dir.WriteFile("a.txt", "x");
    TFrmMain window({Dir.Path()});
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));
    QMenu *menu = window.WindowMenu();
    auto rightClick = [&](QWidget *target) {
        const QPoint at = target->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
        QApplication::sendEvent(target, &event);
    };
    const QList<QWidget *> outside = {window.LabelCurrFolderTxt, window.PanelButtons, window.BitBtnClose};
    for (QWidget *target : outside) {
        rightClick(target);
        EXPECT_TRUE(menu->isVisible()) << target->objectName().toStdString();
        menu->hide();
    }
    rightClick(window.StringGridFiles->viewport());
    EXPECT_FALSE(menu->isVisible());

    window.StringGridFiles->setFocus();
    Key(Qt::Key_Space, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 3000));
    menu->hide();
}

TEST_F(FrmMainTest, TheWindowMenuCommandsChangeTheWindowsState)
{
    TFrmMain window(NothingToList(Dir));
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));
    window.WMSysCommand(TFrmMain::SC_MAXIMIZE);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isMaximized(); }, 3000));
    window.WMSysCommand(TFrmMain::SC_RESTORE);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isMaximized(); }, 3000));
    window.WMSysCommand(TFrmMain::SC_CLOSE);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(FrmMainTest, ComponentsSitWhereTheDesignPutsThemAndFollowTheWindowsEdges)
{
    TFrmMain window(NothingToList(Dir));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto placeIn = [&](QWidget *widget, QWidget *container) {
        return QRect(widget->mapTo(container, QPoint(0, 0)), widget->size());
    };
    EXPECT_EQ(window.windowTitle(), QStringLiteral("DirNote"));
    EXPECT_EQ(window.font().pointSize(), 8);
    // The caption is never cut: 32 pixels, or its text's width in a wider font.
    const int captionWidth = std::max(32, window.LabelCurrFolderTxt->fontMetrics().horizontalAdvance(u"Folder:"_s));
    EXPECT_EQ(placeIn(window.LabelCurrFolderTxt, &window), QRect(4, 4, captionWidth, 13));
    const int labelLeft = 4 + captionWidth + 4;
    EXPECT_EQ(placeIn(window.LabelCurrFolder, &window), QRect(labelLeft, 4, 441 - labelLeft, 13));
    EXPECT_TRUE(window.LabelCurrFolder->font().bold());
    EXPECT_EQ(placeIn(window.PanelClient, &window), QRect(4, 20, 437, 389));
    EXPECT_EQ(placeIn(window.StaticTextFolders, window.PanelClient), QRect(4, 4, 429, 17));
    EXPECT_EQ(placeIn(window.StringGridFolders, window.PanelClient), QRect(4, 21, 429, 175));
    EXPECT_EQ(placeIn(window.StaticTextFiles, window.PanelClient), QRect(4, 204, 429, 17));
    EXPECT_EQ(placeIn(window.StringGridFiles, window.PanelClient), QRect(4, 221, 429, 164));
    EXPECT_EQ(placeIn(window.PanelButtons, &window), QRect(4, 412, 437, 33));
    EXPECT_EQ(placeIn(window.BitBtnDirNote, window.PanelButtons), QRect(4, 4, 105, 25));
    EXPECT_EQ(placeIn(window.BitBtnSelectFolder, window.PanelButtons), QRect(112, 4, 105, 25));
    EXPECT_EQ(placeIn(window.BitBtnRefreshFolder, window.PanelButtons), QRect(220, 4, 105, 25));
    EXPECT_EQ(placeIn(window.BitBtnClose, window.PanelButtons), QRect(328, 4, 105, 25));
    // Each button shows its picture once the window has been painted.
    const std::pair<QPushButton *, QStyle::StandardPixmap> pictures[] = {
        {window.BitBtnDirNote, QStyle::SP_FileDialogInfoView},
        {window.BitBtnSelectFolder, QStyle::SP_DirOpenIcon},
        {window.BitBtnRefreshFolder, QStyle::SP_BrowserReload},
        {window.BitBtnClose, QStyle::SP_DialogCloseButton}};
    for (const auto &[button, picture] : pictures) {
        EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);
        const QImage expected = window.style()->standardIcon(picture).pixmap(button->iconSize()).toImage();
        EXPECT_TRUE(QTest::qWaitFor([&] { return button->icon().pixmap(button->iconSize()).toImage() == expected; }))
            << button->objectName().toStdString();
    }
    EXPECT_EQ(window.StaticTextFolders->text(), QStringLiteral("F&olders"));
    EXPECT_EQ(window.StaticTextFiles->text(), QStringLiteral("&Files"));

    // 100 wider and 60 taller: the label and both panels stretch, the buttons on the right and
    // the button panel move with the edges, the folder table keeps its height.
    window.resize(window.size() + QSize(100, 60));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.PanelButtons->y() == 472; }, 3000));
    EXPECT_EQ(placeIn(window.LabelCurrFolder, &window), QRect(labelLeft, 4, 541 - labelLeft, 13));
    EXPECT_EQ(placeIn(window.PanelClient, &window), QRect(4, 20, 537, 449));
    EXPECT_EQ(placeIn(window.PanelButtons, &window), QRect(4, 472, 537, 33));
    EXPECT_EQ(placeIn(window.BitBtnSelectFolder, window.PanelButtons), QRect(112, 4, 105, 25));
    EXPECT_EQ(placeIn(window.BitBtnRefreshFolder, window.PanelButtons), QRect(320, 4, 105, 25));
    EXPECT_EQ(placeIn(window.BitBtnClose, window.PanelButtons), QRect(428, 4, 105, 25));
    EXPECT_EQ(window.StringGridFolders->height(), 175);
    EXPECT_EQ(window.StringGridFiles->height(), 164 + 60);
}

TEST_F(FrmMainTest, TheTabOrderRunsThroughTheTablesThenTheButtons)
{
    Dir.MakeDir("Sub");
    Dir.WriteFile("a.txt", "x");
    TFrmMain window({Dir.Path()});
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));
    window.StringGridFolders->setFocus();
    QStringList order;
    for (int i = 0; i < 6; ++i) {
        order << QApplication::focusWidget()->objectName();
        Key(Qt::Key_Tab);
    }
    EXPECT_EQ(order, (QStringList{u"StringGridFolders"_s, u"StringGridFiles"_s, u"BitBtnDirNote"_s,
                                  u"BitBtnSelectFolder"_s, u"BitBtnRefreshFolder"_s, u"BitBtnClose"_s}));
}

TEST_F(FrmMainTest, TheTablesModelPassesTheItemModelTester)
{
    static QStringList failures;
    failures.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type != QtDebugMsg && type != QtInfoMsg)
                failures << text;
        });
    {
        Dir.MakeDir("Sub");
        for (const char *name : {"a.txt", "b.txt", "c.txt"})
            Dir.WriteFile(name, "x");
        Dir.WriteFile("Folder.dnt", "[Files]\r\na.txt=first\r\n");
        TFrmMain window(NothingToList(Dir));
        QAbstractItemModelTester files(window.StringGridFiles->GridModel(),
                                       QAbstractItemModelTester::FailureReportingMode::Warning);
        QAbstractItemModelTester folders(window.StringGridFolders->GridModel(),
                                         QAbstractItemModelTester::FailureReportingMode::Warning);
        ASSERT_TRUE(window.LoadFolder(Dir.Path()));
        TStringGridModel *model = window.StringGridFiles->GridModel();
        model->setData(model->index(1, 1), QStringLiteral("typed"), Qt::EditRole);
        window.StringGridFilesExit();
        EXPECT_FALSE(model->setData(model->index(1, 0), QStringLiteral("a name"), Qt::EditRole));
        window.BitBtnRefreshFolderClick();
        const TTempDir empty;
        ASSERT_TRUE(window.LoadFolder(empty.Path()));
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(failures.isEmpty()) << failures.join(u'\n').toStdString();
}

TEST_F(FrmMainTest, SelectFolderTellsTheCurrentFolderFromASiblingThatDiffersOnlyInCase)
{
    const QByteArray lower = Dir.MakeDir("photos");
    const QByteArray upper = Dir.MakeDir("PHOTOS");
    Dir.WriteFile("PHOTOS/big.jpg", "x");
    TFrmMain window({lower});
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));
    auto choose = [&](const QByteArray &folder) {
        QTimer::singleShot(0, [&] {
            window.FolderDialog->SetDirectory(QString::fromUtf8(folder));
            auto *ok = QApplication::activeModalWidget()->findChild<QPushButton *>(QStringLiteral("ButtonOk"));
            ASSERT_TRUE(QTest::qWaitFor([&] { return ok->isEnabled(); }, 3000));
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        window.BitBtnSelectFolderClick();
    };
    choose(upper);
    EXPECT_EQ(window.DescFilePath(), upper + "/Folder.dnt");
    EXPECT_EQ(window.StringGridFiles->GridModel()->Name(0), QByteArray("big.jpg"));
}

TEST_F(FrmMainTest, AHandOffWhileTheAboutBoxIsOpenClosesItAndListsTheHandedFolder)
{
    const QByteArray other = Dir.MakeDir("Other");
    Dir.WriteFile("Other/handed.txt", "x");
    const QByteArray start = Dir.MakeDir("Start");
    TFrmMain window({start});
    ASSERT_NE(window.PrevInstServer(), nullptr);
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));

    // A second start, as CheckPrevInstance makes it, from another thread while this one runs
    // the About box; it begins once the box is up.
    std::atomic<bool> aboutOpen{false};
    std::atomic<int> outcome{-1};
    std::thread secondStart([&] {
        while (!aboutOpen)
            std::this_thread::yield();
        outcome = int(HandOffToPrevInstance(QStringLiteral("TFrmMain"), TFrmMain::AppId, {other}));
    });
    // The second start ends only after the window has handled the text: by then the box must
    // be gone. Should it stay, it is closed after a while so the test ends.
    bool openAfterHandOff = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const bool open = qobject_cast<TFrmQorVersionAbout *>(QApplication::activeModalWidget());
        if (open)
            aboutOpen = true;
        if (outcome != -1 && open) {
            openAfterHandOff = true;
            CloseModalDialogs();
        }
    });
    poll.start(5);
    QTimer::singleShot(10000, [] { CloseModalDialogs(); });
    window.WMSysCommand(TFrmMain::CmdAbout);
    aboutOpen = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return outcome != -1; }, 10000));
    poll.stop();
    secondStart.join();
    EXPECT_EQ(outcome, int(TPrevInstOutcome::HandedOver));
    EXPECT_FALSE(openAfterHandOff) << "the About box stayed open after the hand-off";
    EXPECT_EQ(window.DescFilePath(), other + "/Folder.dnt");
    EXPECT_EQ(window.StringGridFiles->GridModel()->Name(0), QByteArray("handed.txt"));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// Started with a relative path, the window lists the folder by its whole path, and
// Ctrl+Backspace reaches its parent (a relative "Sub/" had none).
TEST_F(FrmMainTest, ARelativeStartIsListedByItsWholePathAndHasAParent)
{
    const QByteArray sub = Dir.MakeDir("Sub");
    Dir.WriteFile("Sub/a.txt", "x");
    TCurrentDir here(Dir.Path());
    TFrmMain window({"./Sub//"});
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));
    EXPECT_EQ(window.DescFilePath(), sub + "/Folder.dnt");
    EXPECT_EQ(window.LabelCurrFolder->text(), QFile::decodeName(sub + '/'));
    window.StringGridFiles->setFocus();
    QTest::keyClick(window.StringGridFiles, Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(window.DescFilePath(), Dir.Path() + "/Folder.dnt");
}

TEST_F(FrmMainTest, AHandedOverTextIsResolvedAsTheStartFolderIs)
{
    const QByteArray sub = Dir.MakeDir("Sub");
    const QByteArray start = Dir.MakeDir("Start");
    TFrmMain window({start});
    // A folder without a trailing "/" lists that folder, not its parent.
    window.PrevInstParm(sub);
    EXPECT_EQ(window.DescFilePath(), sub + "/Folder.dnt");
    window.PrevInstParm(start + "/FOLDER.DNT");
    EXPECT_EQ(window.DescFilePath(), start + "/Folder.dnt");
    // A text that could not be read is the system's error; nothing changes.
    try {
        window.PrevInstParm(QByteArray());
        FAIL() << "no error for an unreadable text";
    } catch (const TException &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("A call to an OS function failed"));
    }
    EXPECT_EQ(window.DescFilePath(), start + "/Folder.dnt");
}

// "Describe with DirNote" on a file: its folder is listed with the cursor on its row, in the file
// table with the focus, for the first start and for a hand-off to the running window alike.
TEST_F(FrmMainTest, AFilePathListsItsFolderWithTheCursorOnItsRow)
{
    const QByteArray folder = Dir.MakeDir("Photos");
    const QByteArray elsewhere = Dir.MakeDir("Elsewhere");
    const QByteArray names[] = {"-x 'q' \"d\"", "line\nfeed", "\xff\xfe", "zz last"};
    for (const QByteArray &name : {QByteArray("a first"), QByteArray("b second")})
        Dir.WriteFile("Photos/" + name, "x");
    for (const QByteArray &name : names)
        Dir.WriteFile("Photos/" + name, "x");
    // Described, so that the "undescribed only" filter hides it.
    WriteFileBytes(folder + "/Folder.dnt", "[Files]\r\nzz last=described\r\n");
    const auto expectCursorOn = [&](TFrmMain &window, const QByteArray &name, const char *how) {
        const TStringGridModel *model = window.StringGridFiles->GridModel();
        EXPECT_EQ(window.DescFilePath(), folder + "/Folder.dnt") << how << ' ' << name.toHex().constData();
        EXPECT_EQ(model->Name(window.StringGridFiles->Row()), name) << how << ' ' << name.toHex().constData();
        EXPECT_TRUE(window.StringGridFiles->hasFocus()) << how << ' ' << name.toHex().constData();
    };
    for (const QByteArray &name : names) {
        TFrmMain window({folder + '/' + name});
        ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));
        expectCursorOn(window, name, "start");
    }
    TFrmMain window({elsewhere});
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));
    window.StringGridFolders->setFocus();
    window.SetUndescribedOnly(true);
    for (const QByteArray &name : names) {
        window.PrevInstParm(elsewhere);
        window.PrevInstParm(folder + '/' + name);
        expectCursorOn(window, name, "hand-off");
    }
    // The row asked for was hidden by the filter, which is off now.
    EXPECT_FALSE(window.UndescribedOnly());
    // A folder's own path still lists that folder, not its parent.
    window.PrevInstParm(folder);
    EXPECT_EQ(window.DescFilePath(), folder + "/Folder.dnt");
}

TEST_F(FrmMainTest, AHandOffStoresWhatWasTypedBeforeListingAnotherFolder)
{
    const QByteArray other = Dir.MakeDir("Other");
    const QByteArray start = Dir.MakeDir("Start");
    Dir.WriteFile("Start/a.txt", "x");
    TFrmMain window({start});
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));
    window.StringGridFiles->setFocus();
    Type(QStringLiteral("typed before the hand-off"));
    window.PrevInstParm(other);
    EXPECT_EQ(window.DescFilePath(), other + "/Folder.dnt");
    EXPECT_TRUE(ReadFileBytes(start + "/Folder.dnt").contains("a.txt=typed before the hand-off\r\n"));
}

TEST_F(FrmMainTest, ASizeThatCannotBeStoredIsReportedAndTheWindowClosesAllTheSame)
{
    // The size is no data of the user's: a settings file that cannot take it must not keep the
    // window open for good (it did, and every Close only showed the error again).
    const QByteArray file = RegistryFilePath(HKEY_CURRENT_USER);
    const QByteArray folder = file.left(file.lastIndexOf('/'));
    ASSERT_TRUE(QDir().mkpath(QString::fromUtf8(folder)));
    const auto restore = qScopeGuard([&] {
        ::unlink(folder.constData());
        ::unlink(file.constData());
    });
    struct TCase {
        const char *Name;
        std::function<void()> Break;
        QByteArray Left; // what the settings path holds afterwards
    };
    const QByteArray garbage("\x7f\x00garbage\r\n\xff\xfe\x01", 14);
    const TCase cases[] = {
        // The settings folder cannot be made: a file stands in its place (root included).
        {"folder blocked",
         [&] {
             QDir(QString::fromUtf8(folder)).removeRecursively();
             WriteFileBytes(folder, "not a folder");
         },
         {}},
        {"file unreadable",
         [&] {
             ::unlink(folder.constData());
             ASSERT_TRUE(QDir().mkpath(QString::fromUtf8(folder)));
             WriteFileBytes(file, garbage);
         },
         garbage},
    };
    for (const TCase &test : cases) {
        SCOPED_TRACE(test.Name);
        MessageLog().Requests.clear();
        TFrmMain window(NothingToList(Dir));
        ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));
        test.Break();
        EXPECT_TRUE(window.close());
        EXPECT_FALSE(window.isVisible());
        ASSERT_EQ(MessageLog().Requests.size(), size_t(1));
        EXPECT_EQ(MessageLog().Requests.back().Type, TMsgDlgType::mtError);
        if (!test.Left.isEmpty()) {
            EXPECT_EQ(ReadFileBytes(file), test.Left);
        }
    }
}
