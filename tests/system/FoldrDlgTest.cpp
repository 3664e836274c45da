// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/FoldrDlg.h"

#include "TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using TestSupport::TTempDir;

// Readable failure messages for texts.
void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

QString Str(const QByteArray &path)
{
    return QString::fromUtf8(path);
}

// A folder inside the test's own folder, with every level above it.
QString MakeFolders(const TTempDir &dir, const QByteArray &relative)
{
    const QString path = Str(dir.FilePath(relative));
    QDir().mkpath(path);
    return path;
}

// Runs action on the picker's dialog as soon as it is on screen (Browse itself blocks).
void WhenShown(TFolderDialog &picker, std::function<void(QDialog &)> action)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, &picker, action] {
        QDialog *form = picker.Handle();
        if (!form || !form->windowHandle() || !form->windowHandle()->isExposed())
            return;
        timer->stop();
        timer->deleteLater();
        action(*form);
        // A failed expectation must not leave the test waiting for a person.
        QTimer::singleShot(3000, form, [form] { form->reject(); });
    });
    timer->start();
}

QTreeView *Tree(QDialog &form)
{
    return form.findChild<QTreeView *>(QStringLiteral("TreeViewFolders"));
}
QPushButton *Button(QDialog &form, const char *name)
{
    return form.findChild<QPushButton *>(QString::fromLatin1(name));
}
QString StatusText(QDialog &form)
{
    return form.findChild<QLabel *>(QStringLiteral("LabelStatus"))->text();
}

// The tree's row for a path, once its folder has been read in the background.
QModelIndex WaitForRow(QTreeView *tree, const QString &path)
{
    auto *filter = qobject_cast<QSortFilterProxyModel *>(tree->model());
    auto *model = qobject_cast<QFileSystemModel *>(filter->sourceModel());
    QModelIndex index;
    const bool found = QTest::qWaitFor(
        [&] {
            index = filter->mapFromSource(model->index(path));
            return index.isValid() && tree->visualRect(index).isValid();
        },
        5000);
    EXPECT_TRUE(found) << "no row for " << path.toStdString();
    return index;
}

// Scrolls to a row, as the user would, and clicks it.
void Click(QTreeView *tree, const QModelIndex &index)
{
    tree->scrollTo(index);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(index).center());
}

} // namespace

TEST(FolderDialogOptions, SetterRules)
{
    TFolderDialog picker;
    EXPECT_EQ(picker.Options().Bits(), 0x0B85u);
    EXPECT_EQ(BrowseFlags(picker.Options()), 0x0005u);
    EXPECT_EQ(picker.Title(), QStringLiteral("Browse for Folder"));
    EXPECT_EQ(picker.RootFolder(), sfoDesktopExpanded);

    picker.SetOptions(picker.Options() + bfScreenCenter);
    EXPECT_TRUE(picker.Options().Contains(bfScreenCenter));
    EXPECT_FALSE(picker.Options().Contains(bfParentCenter));
    picker.SetOptions(picker.Options() + bfParentCenter);
    EXPECT_FALSE(picker.Options().Contains(bfScreenCenter));
    EXPECT_TRUE(picker.Options().Contains(bfParentCenter));

    picker.SetOptions(picker.Options() + bfFileSysAncestors + bfBrowseForPrinter + bfBrowseForComputer);
    EXPECT_EQ(picker.RootFolder(), sfoNetwork);
    for (auto cleared : {bfFileSysDirsOnly, bfFileSysAncestors, bfBrowseForPrinter})
        EXPECT_FALSE(picker.Options().Contains(cleared)) << cleared;
    EXPECT_TRUE(picker.Options().Contains(bfBrowseForComputer));

    picker.SetOptions(picker.Options() + bfFileSysDirsOnly + bfDontGoBelowDomain + bfBrowseForPrinter);
    for (auto cleared : {bfFileSysDirsOnly, bfDontGoBelowDomain, bfFileSysAncestors, bfBrowseForComputer})
        EXPECT_FALSE(picker.Options().Contains(cleared)) << cleared;
    EXPECT_TRUE(picker.Options().Contains(bfBrowseForPrinter));

    picker.SetOptions(picker.Options() - bfStatusText);
    EXPECT_FALSE(picker.Options().Contains(bfShowPathInStatusArea));
    picker.SetOptions(picker.Options() + bfShowPathInStatusArea);
    EXPECT_TRUE(picker.Options().Contains(bfStatusText));
}

TEST(FolderDialogRoot, SpecialFoldersMapToXdgFolders)
{
    EXPECT_EQ(ShellFolderNumber(sfoDesktop), 0x00);
    EXPECT_EQ(ShellFolderNumber(sfoStartMenu), 0x0B);
    EXPECT_EQ(ShellFolderNumber(sfoDesktopDirectory), 0x10);
    EXPECT_EQ(ShellFolderNumber(sfoPrintHood), 0x1B);

    const QString home = QDir::homePath();
    QDir().mkpath(home + QStringLiteral("/Documents"));
    EXPECT_EQ(TreeRootPath(sfoPersonal), home + QStringLiteral("/Documents"));
    EXPECT_EQ(TreeRootPath(sfoAppData), qEnvironmentVariable("XDG_CONFIG_HOME"));
    EXPECT_EQ(ShellFolderPath(sfoRecycleBin), qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash/files"));
    // Nothing corresponds, or the folder does not exist: the whole tree.
    EXPECT_TRUE(ShellFolderPath(sfoControlPanel).isEmpty());
    EXPECT_EQ(TreeRootPath(sfoNetwork), QStringLiteral("/"));
    EXPECT_EQ(TreeRootPath(sfoRecycleBin), QStringLiteral("/"));
    EXPECT_EQ(TreeRootPath(sfoDesktopExpanded), QStringLiteral("/"));
}

TEST(FolderDialogPaths, OnlyFoldersArePreselectedAndRootsMatchWholeNames)
{
    TTempDir dir;
    EXPECT_EQ(PreselectionPath(Str(dir.WriteFile("f.txt", "x"))), QString());
    EXPECT_EQ(PreselectionPath(QStringLiteral("/.")), QStringLiteral("/"));
    EXPECT_TRUE(IsWithinFolder(Str(dir.FilePath("a")), Str(dir.Path())));
    EXPECT_FALSE(IsWithinFolder(Str(dir.Path()) + QStringLiteral("x"), Str(dir.Path())));
}

TEST(FolderDialogStatus, OneWKeptFreeAtTheEnd)
{
    const QFontMetrics metrics(QApplication::font());
    const QString deep = QStringLiteral("/home/user/projects/archive/2019/customers/north/reports/quarterly/final");
    const int width = metrics.horizontalAdvance(deep) / 2;
    const QString shown = StatusPathText(deep, metrics, width);
    EXPECT_TRUE(shown.contains(QChar(0x2026)) && shown.endsWith(QStringLiteral("/final"))) << shown.toStdString();
    EXPECT_LE(metrics.horizontalAdvance(shown) + metrics.horizontalAdvance(u'W'), width);
    EXPECT_EQ(StatusPathText(QStringLiteral("/tmp"), metrics, width), QStringLiteral("/tmp"));
}

TEST(FolderDialogPlacement, Arithmetic)
{
    TPlacementInput input;
    input.OwnerFrame = QRect(100, 50, 801, 601);
    input.OwnerClientOrigin = QPoint(104, 80);
    input.Screen = QRect(0, 0, 1920, 1080);
    input.DialogFrame = QSize(401, 320);
    input.DialogClient = QSize(393, 290);
    input.Left = 360;
    EXPECT_EQ(DialogPosition(DefaultFolderDialogOptions, input), QPoint(100 + 400 - 200, 50 + 150));
    const TFolderDialogOptions screen{bfScreenCenter};
    EXPECT_EQ(DialogPosition(screen, input), QPoint((1920 - 393) / 2, (1080 - 290) / 3));
    EXPECT_EQ(DialogPosition({}, input), QPoint(464, 80));
    input.OwnerFrame.reset();
    EXPECT_EQ(DialogPosition({}, input), QPoint(360, 0));
    EXPECT_EQ(DialogPosition(DefaultFolderDialogOptions, input), QPoint((1920 - 393) / 2, (1080 - 290) / 3));

    const QRect available(0, 0, 800, 600);
    EXPECT_EQ(KeepOnScreen(QPoint(100, 100), QSize(300, 200), available), QPoint(100, 100));
    EXPECT_EQ(KeepOnScreen(QPoint(600, 500), QSize(300, 200), available), QPoint(500, 400));
    EXPECT_EQ(KeepOnScreen(QPoint(-20, 10), QSize(900, 200), available), QPoint(0, 10));
}

class FolderDialogRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        Owner = std::make_unique<QWidget>();
        Owner->setGeometry(50, 40, 700, 500);
        Owner->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Owner.get()));
        Picker = new TFolderDialog(Owner.get());
        TestSupport::MessageLog().Requests.clear();
    }
    TTempDir Dir;
    std::unique_ptr<QWidget> Owner;
    TFolderDialog *Picker = nullptr; // owned by Owner
};

TEST_F(FolderDialogRun, PreselectedFolderIsSelectedShownAndReturned)
{
    QByteArray relative;
    for (int level = 0; level < 12; ++level)
        relative += "level-" + QByteArray::number(level) + "-with-a-long-name/";
    const QString deep = MakeFolders(Dir, relative + "Sub");
    for (const QString &given : {deep, deep + u'/', deep + QStringLiteral("/.")}) {
        Picker->SetDirectory(given);
        QString selected, status, title;
        bool visible = false, treeHasFocus = false;
        WhenShown(*Picker, [&](QDialog &form) {
            QTreeView *tree = Tree(form);
            selected = Picker->Directory();
            status = StatusText(form);
            title = form.windowTitle();
            treeHasFocus = form.focusWidget() == tree;
            // The background loading may still move the row: wait until it is in view.
            visible = QTest::qWaitFor(
                [tree] { return tree->viewport()->rect().intersects(tree->visualRect(tree->currentIndex())); }, 5000);
            QTest::mouseClick(Button(form, "ButtonOk"), Qt::LeftButton);
        });
        EXPECT_TRUE(Picker->Browse()) << given.toStdString();
        EXPECT_EQ(selected, deep);
        // The deep path is elided in the middle; its last folder name stays in view.
        EXPECT_TRUE(status.contains(QChar(0x2026)) && status.endsWith(QStringLiteral("/Sub"))) << status.toStdString();
        EXPECT_TRUE(visible);
        EXPECT_TRUE(treeHasFocus);
        EXPECT_EQ(title, QStringLiteral("Browse for Folder"));
        EXPECT_EQ(Picker->Directory(), deep);
    }

    Picker->SetDirectory(QStringLiteral("/"));
    WhenShown(*Picker, [](QDialog &form) { QTest::keyClick(Tree(form), Qt::Key_Return); });
    EXPECT_TRUE(Picker->Browse());
    EXPECT_EQ(Picker->Directory(), QStringLiteral("/"));
    EXPECT_TRUE(TestSupport::MessageLog().Requests.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == Owner.get(); }, 2000));
}

TEST_F(FolderDialogRun, CancelEscapeAndCloseBoxEmptyTheDirectory)
{
    const QString folder = MakeFolders(Dir, "keep");
    const std::vector<std::function<void(QDialog &)>> endings{
        [](QDialog &form) { QTest::mouseClick(Button(form, "ButtonCancel"), Qt::LeftButton); },
        [](QDialog &form) { QTest::keyClick(Tree(form), Qt::Key_Escape); },
        [](QDialog &form) { form.close(); },
    };
    for (const auto &ending : endings) {
        Picker->SetDirectory(folder);
        WhenShown(*Picker, ending);
        EXPECT_FALSE(Picker->Browse());
        EXPECT_TRUE(Picker->Directory().isEmpty());
    }
}

TEST_F(FolderDialogRun, MissingFolderLeavesTheRootSelectedWithoutAMessage)
{
    Picker->SetDirectory(Str(Dir.Path()) + QStringLiteral("/gone"));
    QString selected;
    bool okEnabled = false;
    WhenShown(*Picker, [&](QDialog &form) {
        selected = Picker->Directory();
        okEnabled = Button(form, "ButtonOk")->isEnabled();
        form.reject();
    });
    EXPECT_FALSE(Picker->Browse());
    EXPECT_EQ(selected, QStringLiteral("/"));
    EXPECT_TRUE(okEnabled);
    EXPECT_TRUE(TestSupport::MessageLog().Requests.empty());
}

TEST_F(FolderDialogRun, OkOnlyOnFoldersHiddenFoldersListed)
{
    const QString top = MakeFolders(Dir, "top");
    MakeFolders(Dir, "top/.hidden");
    Dir.WriteFile("top/note.txt", "x");
    Picker->SetDirectory(top);
    Picker->SetOptions(Picker->Options() + bfBrowseIncludeFiles);
    int changes = 0;
    Picker->OnChange = [&](TFolderDialog *) { ++changes; };
    WhenShown(*Picker, [&](QDialog &form) {
        QTreeView *tree = Tree(form);
        QPushButton *ok = Button(form, "ButtonOk");
        tree->expand(tree->currentIndex());
        const QModelIndex file = WaitForRow(tree, top + QStringLiteral("/note.txt"));
        const QModelIndex hidden = WaitForRow(tree, top + QStringLiteral("/.hidden"));
        ASSERT_TRUE(file.isValid());
        ASSERT_TRUE(hidden.isValid());
        changes = 0;
        Click(tree, file);
        EXPECT_FALSE(ok->isEnabled());
        EXPECT_TRUE(StatusText(form).isEmpty());
        EXPECT_TRUE(Picker->Directory().isEmpty());
        EXPECT_EQ(changes, 0);
        Click(tree, hidden);
        EXPECT_TRUE(ok->isEnabled());
        EXPECT_EQ(changes, 1);
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    EXPECT_TRUE(Picker->Browse());
    EXPECT_EQ(Picker->Directory(), top + QStringLiteral("/.hidden"));
}

TEST_F(FolderDialogRun, PlacedOverTheOwnerAndPropertiesFollowWhileOpen)
{
    const QString one = MakeFolders(Dir, "one");
    const QString two = MakeFolders(Dir, "two");
    Picker->SetDirectory(one);
    Picker->SetText(QStringLiteral("Choose the folder to describe"));
    QPoint position, expected;
    QString titleWhileOpen, directoryAfterMove, textShown;
    WhenShown(*Picker, [&](QDialog &form) {
        const QRect owner = Owner->frameGeometry();
        position = form.frameGeometry().topLeft();
        expected = QPoint(owner.left() + owner.width() / 2 - form.frameGeometry().width() / 2,
                          owner.top() + owner.height() / 4);
        textShown = form.findChild<QLabel *>(QStringLiteral("LabelText"))->text();
        Picker->SetTitle(QStringLiteral("Pick one"));
        titleWhileOpen = form.windowTitle();
        Picker->SetDirectory(two);
        directoryAfterMove = Picker->Directory();
        form.accept();
    });
    EXPECT_TRUE(Picker->Browse());
    EXPECT_EQ(position, expected);
    EXPECT_EQ(textShown, QStringLiteral("Choose the folder to describe"));
    EXPECT_EQ(titleWhileOpen, QStringLiteral("Pick one"));
    EXPECT_EQ(Picker->Title(), QStringLiteral("Pick one"));
    EXPECT_EQ(directoryAfterMove, two);
    EXPECT_EQ(Picker->Directory(), two);
}

TEST_F(FolderDialogRun, RootFolderIsTheOnlyTopNode)
{
    const QString documents = QDir::homePath() + QStringLiteral("/Documents");
    QDir().mkpath(documents + QStringLiteral("/letters"));
    Picker->SetRootFolder(sfoPersonal);
    Picker->SetDirectory(Str(Dir.Path())); // outside the root: ignored
    int topRows = -1;
    QString selected;
    WhenShown(*Picker, [&](QDialog &form) {
        QTreeView *tree = Tree(form);
        topRows = tree->model()->rowCount(tree->rootIndex());
        selected = Picker->Directory();
        form.accept();
    });
    EXPECT_TRUE(Picker->Browse());
    EXPECT_EQ(topRows, 1);
    EXPECT_EQ(selected, documents);
    EXPECT_EQ(Picker->Directory(), documents);
}

TEST_F(FolderDialogRun, CustomButtonAndEvents)
{
    const QString folder = MakeFolders(Dir, "c");
    Dir.WriteFile("c/file", "x");
    int clicks = 0;
    TCustomButton custom;
    custom.Caption = QStringLiteral("&New");
    custom.OnClick = [&] { ++clicks; };
    Picker->SetCustomButton(custom);
    Picker->SetOptions(Picker->Options() + bfResizeCustomButton + bfBrowseIncludeFiles);
    Picker->SetDirectory(folder);
    std::vector<QString> events;
    Picker->OnShow = [&](TFolderDialog *sender) { events.push_back(QStringLiteral("show ") + sender->Directory()); };
    Picker->OnClose = [&](TFolderDialog *sender) { events.push_back(QStringLiteral("close ") + sender->Directory()); };
    bool syncedOff = true, sameSize = false, alignedRow = false;
    WhenShown(*Picker, [&](QDialog &form) {
        QPushButton *button = Button(form, "ButtonCustom");
        QPushButton *cancel = Button(form, "ButtonCancel");
        ASSERT_NE(button, nullptr);
        sameSize = button->size() == cancel->size();
        alignedRow = button->geometry().top() == cancel->geometry().top()
                     && button->geometry().left()
                            == form.findChild<QLabel *>(QStringLiteral("LabelStatus"))->geometry().left();
        QTest::mouseClick(button, Qt::LeftButton);
        QTreeView *tree = Tree(form);
        tree->expand(tree->currentIndex());
        Click(tree, WaitForRow(tree, folder + QStringLiteral("/file")));
        syncedOff = button->isEnabled();
        form.reject();
    });
    EXPECT_FALSE(Picker->Browse());
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(sameSize);
    EXPECT_TRUE(alignedRow);
    EXPECT_FALSE(syncedOff);
    EXPECT_EQ(events, (std::vector<QString>{QStringLiteral("show ") + folder, QStringLiteral("close ")}));
}

TEST_F(FolderDialogRun, PickerDestroyedWhileOpen)
{
    WhenShown(*Picker, [&](QDialog &) { delete Picker; });
    EXPECT_FALSE(Picker->Browse());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
