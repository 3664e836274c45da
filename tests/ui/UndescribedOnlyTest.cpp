// SPDX-License-Identifier: GPL-3.0-or-later
// The toggle that shows only the undescribed entries of both tables: what it hides, and that
// typing, cursor moves, refresh and going into folders keep working while it is on.

#include "UiTestSupport.h"

#include "catalogue/ProfileFile.h"
#include "settings/RegSpecial.h"
#include "settings/RegistryStore.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

using namespace TestSupport;
using namespace UiTest;

namespace {
struct TTableCase {
    const char *Section;
    bool Folders;
};
constexpr TTableCase BothTables[] = {{"Folders", true}, {"Files", false}};

class UndescribedOnlyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unlink(RegistryFilePath(HKEY_CURRENT_USER).constData());
        MessageLog() = {};
        // Described: a and c of each kind; undescribed: b and d.
        for (const char *name : {"a", "b", "c", "d"}) {
            Dir.MakeDir(QByteArray("dir-") + name);
            Dir.WriteFile(QByteArray("file-") + name, "x");
        }
        Dir.WriteFile("Folder.dnt", "[Folders]\ndir-a=first\ndir-c=third\n[Files]\nfile-a=first\nfile-c=third\n");
        Window = std::make_unique<TFrmMain>(QByteArrayList{Dir.Path()});
        ASSERT_NO_FATAL_FAILURE(ShowAndActivate(*Window));
    }
    void TearDown() override { Window.reset(); }

    TStringGrid *Grid(const TTableCase &table) const
    {
        return table.Folders ? Window->StringGridFolders : Window->StringGridFiles;
    }
    // The names a person sees in a table, top to bottom.
    static QByteArrayList ShownNames(TStringGrid *grid)
    {
        QByteArrayList names;
        for (int row = 0; row < grid->GridModel()->rowCount(); ++row)
            if (!grid->isRowHidden(row))
                names << grid->GridModel()->Name(row);
        return names;
    }
    static QByteArray Names(const TTableCase &table, std::initializer_list<const char *> letters)
    {
        QByteArray joined;
        for (const char *letter : letters)
            joined += (table.Folders ? "dir-" : "file-") + QByteArray(letter) + ' ';
        return joined;
    }
    static QByteArray Joined(const QByteArrayList &names)
    {
        return names.isEmpty() ? QByteArray() : names.join(' ') + ' ';
    }
    QString Stored(const char *section, const QByteArray &key) const
    {
        ProfileFile profile(Dir.FilePath("Folder.dnt"));
        return QString::fromUtf8(profile.ReadString(section, key));
    }

    TTempDir Dir;
    std::unique_ptr<TFrmMain> Window;
};
} // namespace

TEST_F(UndescribedOnlyTest, BothTablesShowOnlyUndescribedEntriesAndTypingIsSavedWhileFiltered)
{
    for (const TTableCase &table : BothTables) {
        SCOPED_TRACE(table.Section);
        ASSERT_TRUE(Window->LoadFolder(Dir.Path()));
        TStringGrid *grid = Grid(table);
        grid->setFocus();
        Key(Qt::Key_N, Qt::ControlModifier);
        ASSERT_TRUE(Window->UndescribedOnly());
        EXPECT_EQ(Joined(ShownNames(grid)), Names(table, {"b", "d"}));
        EXPECT_TRUE(Window->WindowMenu()->actions()[4]->isChecked());
        EXPECT_TRUE(Window->StaticTextFolders->text().endsWith(QStringLiteral("(undescribed only)")));

        // The cursor goes from shown row to shown row; typing is saved on the move.
        const QByteArray b = Names(table, {"b"}).trimmed(), d = Names(table, {"d"}).trimmed();
        ASSERT_EQ(grid->GridModel()->Name(grid->Row()), b);
        Type(QStringLiteral("typed while filtered"));
        Key(Qt::Key_Down);
        EXPECT_EQ(grid->GridModel()->Name(grid->Row()), d);
        EXPECT_EQ(Stored(table.Section, b), QStringLiteral("typed while filtered"));
        // The row that got its description stays until the next listing.
        EXPECT_EQ(Joined(ShownNames(grid)), Names(table, {"b", "d"}));
        Key(Qt::Key_Up);
        EXPECT_EQ(grid->GridModel()->Name(grid->Row()), b);

        // F5 lists again: b is described now and goes; the cursor finds the nearest shown row.
        Key(Qt::Key_F5);
        EXPECT_EQ(Joined(ShownNames(grid)), Names(table, {"d"}));
        EXPECT_EQ(grid->GridModel()->Name(grid->Row()), d);

        // The last undescribed entry described (the button commits it first): after the refresh
        // the table has nothing to show and takes no keys; the other table still works.
        Type(QStringLiteral("last one"));
        QTest::mouseClick(Window->BitBtnRefreshFolder, Qt::LeftButton);
        EXPECT_EQ(Stored(table.Section, d), QStringLiteral("last one"));
        EXPECT_TRUE(ShownNames(grid).isEmpty());
        EXPECT_FALSE(grid->isEnabled());
        EXPECT_TRUE(Grid(BothTables[table.Folders ? 1 : 0])->isEnabled());

        // Off again: every entry is back, with what was typed.
        Key(Qt::Key_N, Qt::ControlModifier);
        EXPECT_FALSE(Window->UndescribedOnly());
        EXPECT_EQ(Joined(ShownNames(grid)), Names(table, {"a", "b", "c", "d"}));
        EXPECT_TRUE(grid->isEnabled());
        EXPECT_EQ(Window->StaticTextFiles->text(), QStringLiteral("&Files"));
        // The next round starts from the same undescribed entries.
        ProfileFile profile(Dir.FilePath("Folder.dnt"));
        profile.DeleteKey(table.Section, b);
        profile.DeleteKey(table.Section, d);
    }
}

TEST_F(UndescribedOnlyTest, GoingIntoAFolderKeepsTheFilterAndTheMenuItemTogglesIt)
{
    const QByteArray inner = Dir.MakeDir("dir-b/inner");
    Dir.WriteFile("dir-b/x.txt", "x");
    Dir.WriteFile("dir-b/Folder.dnt", "[Folders]\n[Files]\nx.txt=described\n");
    QAction *item = Window->WindowMenu()->actions()[4];
    ASSERT_TRUE(item->isCheckable());
    EXPECT_TRUE(item->text().endsWith(QStringLiteral("\tCtrl+N"))) << item->text().toStdString();
    item->trigger();
    ASSERT_TRUE(Window->UndescribedOnly());
    Window->StringGridFolders->setFocus();
    ASSERT_EQ(Window->StringGridFolders->GridModel()->Name(Window->StringGridFolders->Row()), QByteArray("dir-b"));
    Key(Qt::Key_Return, Qt::ControlModifier);
    ASSERT_EQ(Window->CurrentFolderPath(), Dir.Path() + "/dir-b/");
    EXPECT_EQ(Joined(ShownNames(Window->StringGridFolders)), QByteArray("inner "));
    EXPECT_TRUE(ShownNames(Window->StringGridFiles).isEmpty());
    EXPECT_FALSE(Window->StringGridFiles->isEnabled());
    Key(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(Joined(ShownNames(Window->StringGridFolders)), QByteArray("dir-b dir-d "));
    item->trigger();
    EXPECT_FALSE(Window->UndescribedOnly());
    EXPECT_FALSE(item->isChecked());
    EXPECT_EQ(ShownNames(Window->StringGridFolders).size(), 4);
}
