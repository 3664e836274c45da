// SPDX-License-Identifier: GPL-3.0-or-later
// The window's menu item that mirrors descriptions to file comments, and its commits while on.
#include "UiTestSupport.h"

#include "exchange/CommentMirror.h"
#include "exchange/Xattr.h"

#include <QAction>
#include <QLabel>
#include <QMenu>

#include <optional>

#include <sys/xattr.h>
#include <unistd.h>

using namespace TestSupport;
using namespace UiTest;

namespace {
bool KeepsUserAttributes(const QByteArray &folder)
{
    const QByteArray probe = folder + "/.probe";
    WriteFileBytes(probe, "x");
    const bool ok = ::setxattr(probe.constData(), "user.probe", "1", 1, 0) == 0;
    ::unlink(probe.constData());
    return ok;
}

class MirrorCommentsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!KeepsUserAttributes(Dir.Path()))
            GTEST_SKIP() << "the temporary folder keeps no user extended attributes";
        SetMirrorComments(false);
    }
    void TearDown() override { SetMirrorComments(false); }

    std::optional<QByteArray> Comment(const QByteArray &name) const { return ReadComment(Dir.FilePath(name)); }
    // Types a description into the row of the name and leaves the table, as a commit does.
    void Commit(TStringGrid *grid, const QByteArray &name, const QString &text)
    {
        TStringGridModel *model = grid->GridModel();
        const int row = model->FindName(name);
        ASSERT_GE(row, 0) << name.constData();
        grid->SetCurrentCell(TStringGridModel::ColDesc, row);
        model->SetDescription(row, text);
        if (grid == Window.StringGridFolders)
            Window.StringGridFoldersExit();
        else
            Window.StringGridFilesExit();
    }

    TTempDir Dir;
    TFrmMain Window{NothingToList(Dir)};
};
} // namespace

TEST_F(MirrorCommentsTest, TheMenuItemTurnsItOnForTheListedFolderAndEveryCommitFollows)
{
    Dir.MakeDir("Sub");
    for (const char *name : {"a.txt", "b.txt", "foreign.txt"})
        Dir.WriteFile(name, "x");
    Dir.WriteFile("Folder.dnt", "[Folders]\r\n[Files]\r\na.txt=Described before\r\n");
    ASSERT_EQ(WriteComment(Dir.FilePath("foreign.txt"), "From the file manager"), 0);
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ASSERT_FALSE(Window.MirrorCommentsItem->isChecked());

    Window.MirrorCommentsItem->trigger();
    EXPECT_TRUE(Window.MirrorCommentsItem->isChecked());
    EXPECT_TRUE(MirrorCommentsOn());
    EXPECT_EQ(Comment("a.txt"), QByteArray("Described before"));
    EXPECT_TRUE(Window.StatusLine->text().startsWith(QStringLiteral("File comments: 1 written, 0 removed")))
        << Window.StatusLine->text().toStdString();

    // Both tables' commits.
    for (const auto &[grid, name] : {std::pair{Window.StringGridFolders, QByteArray("Sub")},
                                     std::pair{Window.StringGridFiles, QByteArray("b.txt")}}) {
        SCOPED_TRACE(name.constData());
        Commit(grid, name, QStringLiteral("Typed"));
        EXPECT_EQ(Comment(name), QByteArray("Typed"));
        Commit(grid, name, QStringLiteral("Typed again"));
        EXPECT_EQ(Comment(name), QByteArray("Typed again"));
    }

    // Another program's comment stays; the status line says so, and no box opens.
    MessageLog().Requests.clear();
    Commit(Window.StringGridFiles, "foreign.txt", QStringLiteral("Mine"));
    EXPECT_EQ(Comment("foreign.txt"), QByteArray("From the file manager"));
    EXPECT_TRUE(Window.StatusLine->text().contains(QStringLiteral("foreign.txt was written by another program")))
        << Window.StatusLine->text().toStdString();
    EXPECT_TRUE(MessageLog().Requests.empty());

    // Turned off: the comments written stay and follow no more.
    Window.MirrorCommentsItem->trigger();
    EXPECT_FALSE(MirrorCommentsOn());
    Commit(Window.StringGridFiles, "b.txt", QStringLiteral("While off"));
    EXPECT_EQ(Comment("b.txt"), QByteArray("Typed again"));
}

TEST_F(MirrorCommentsTest, TheWindowsImportOfADescriptIonSetsTheComments)
{
    Dir.WriteFile("a.txt", "x");
    Dir.WriteFile("descript.ion", "a.txt From descript.ion\r\n");
    SetMirrorComments(true);
    MessageLog().Answers = {mrYes};
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    EXPECT_EQ(Window.StringGridFiles->GridModel()->Stored(0), QStringLiteral("From descript.ion"));
    EXPECT_EQ(Comment("a.txt"), QByteArray("From descript.ion"));
}

TEST_F(MirrorCommentsTest, TheItemShowsTheSettingDntChanged)
{
    SetMirrorComments(true); // as `dnt mirror on` does from another process
    Window.WindowMenu()->popup(QPoint(0, 0));
    EXPECT_TRUE(Window.MirrorCommentsItem->isChecked());
    Window.WindowMenu()->hide();
}
