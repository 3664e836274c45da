// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader finds: every control that takes the keyboard focus has a name, in the main
// window and in each of its dialogs, and the tables' cells say what they hold.

#include "UiTestSupport.h"
#include "ui/IndexSearch.h"

#include "about/QorAboutVersionForm.h"
#include "index/DescriptionIndex.h"
#include "ui/IndexTree.h"
#include "ui/PrunedDescriptions.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QDateTime>
#include <QPushButton>

using namespace TestSupport;
using namespace UiTest;

namespace {
// The focusable controls of a window (itself included) whose accessible name is empty, as
// "class/objectName", one after the other.
std::string UnnamedControls(QWidget *root)
{
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    QStringList unnamed;
    for (QWidget *widget : widgets) {
        if (widget->focusPolicy() == Qt::NoFocus)
            continue;
        QAccessibleInterface *control = QAccessible::queryAccessibleInterface(widget);
        if (!control || control->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << QString::fromLatin1(widget->metaObject()->className()) + u'/' + widget->objectName();
    }
    return unnamed.join(QStringLiteral(", ")).toStdString();
}

class AccessibilityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("DIRNOTE_NO_INDEX", "1");
        Dir.MakeDir("raw");
        Dir.WriteFile("plan.pdf", "x");
        Dir.WriteFile("notes.txt", "x");
        Dir.WriteFile("Folder.dnt", "[Folders]\r\nraw=Unedited camera files\r\n");
    }
    void TearDown() override { qunsetenv("DIRNOTE_NO_INDEX"); }
    TTempDir Dir;
};

TEST_F(AccessibilityTest, EveryFocusableControlOfTheMainWindowHasAName)
{
    TFrmMain window(NothingToList(Dir));
    ASSERT_TRUE(window.LoadFolder(Dir.Path()));
    ShowAndActivate(window);
    EXPECT_EQ(UnnamedControls(&window), "");
    // The search field, made at its first opening (which needs an index), as it is then.
    TSearchPanel search{QString()};
    EXPECT_EQ(UnnamedControls(&search), "");

    // A cell editor, once open, names the description it edits.
    window.StringGridFolders->setFocus();
    window.StringGridFolders->SetCurrentCell(TStringGridModel::ColDesc, 0);
    Type(QStringLiteral("x"));
    ASSERT_NE(window.StringGridFolders->findChild<QWidget *>(QStringLiteral("InplaceEditor")), nullptr);
    EXPECT_EQ(UnnamedControls(&window), "");
}

TEST_F(AccessibilityTest, TheTablesCellsSayTheirEntryAndItsDescription)
{
    TFrmMain window(NothingToList(Dir));
    ASSERT_TRUE(window.LoadFolder(Dir.Path()));
    ShowAndActivate(window);
    struct TCellCase {
        TStringGrid *Grid;
        QString Name, Description; // what is said of the row's two cells
    };
    for (const TCellCase &cell :
         {TCellCase{window.StringGridFolders, QStringLiteral("raw"), QStringLiteral("Unedited camera files")},
          TCellCase{window.StringGridFiles, QStringLiteral("notes.txt"), QStringLiteral("No description")}}) {
        QAccessibleInterface *table = QAccessible::queryAccessibleInterface(cell.Grid);
        ASSERT_NE(table, nullptr);
        ASSERT_NE(table->tableInterface(), nullptr);
        EXPECT_FALSE(table->text(QAccessible::Name).isEmpty());
        EXPECT_FALSE(table->text(QAccessible::Description).isEmpty());
        QAccessibleInterface *name = table->tableInterface()->cellAt(0, TStringGridModel::ColName);
        QAccessibleInterface *description = table->tableInterface()->cellAt(0, TStringGridModel::ColDesc);
        ASSERT_NE(name, nullptr);
        ASSERT_NE(description, nullptr);
        EXPECT_EQ(name->text(QAccessible::Name).toStdString(), cell.Name.toStdString());
        EXPECT_EQ(description->text(QAccessible::Name).toStdString(), cell.Description.toStdString());
        EXPECT_EQ(description->text(QAccessible::Description).toStdString(),
                  "Description of " + cell.Name.toStdString());
    }
}

// Each dialog of the window, opened as the window opens it (or made as the window makes it).
TEST_F(AccessibilityTest, EveryFocusableControlOfEachDialogHasAName)
{
    TFrmMain window(NothingToList(Dir));
    ASSERT_TRUE(window.LoadFolder(Dir.Path()));
    ShowAndActivate(window);
    const auto checkOpen = [](const char *which) {
        return [which](QDialog *dialog) { EXPECT_EQ(UnnamedControls(dialog), "") << which; };
    };
    {
        TModalCanceller canceller(checkOpen("folder text"));
        window.BitBtnDirNoteClick();
        EXPECT_TRUE(canceller.Seen);
    }
    {
        TModalCanceller canceller(checkOpen("folder picker"));
        window.BitBtnSelectFolderClick();
        EXPECT_TRUE(canceller.Seen);
    }
    TFrmPrunedDescriptions pruned({{1, Dir.Path(), "plan.pdf", false, "Floor plan", QDateTime::currentDateTimeUtc()}},
                                  {{"plan.pdf", false}}, &window);
    EXPECT_EQ(UnnamedControls(&pruned), "") << "pruned descriptions";
    TFrmIndexTree indexTree(Dir.Path(), QString::fromLocal8Bit(Dir.FilePath("index.sqlite")), &window);
    EXPECT_EQ(UnnamedControls(&indexTree), "") << "index tree";
    TFrmQorVersionAbout about(&window);
    EXPECT_EQ(UnnamedControls(&about), "") << "About box, version";
    about.findChild<QPushButton *>(QStringLiteral("BitBtnMemory"))->click();
    EXPECT_EQ(UnnamedControls(&about), "") << "About box, memory";
}
} // namespace
