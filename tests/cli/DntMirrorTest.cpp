// SPDX-License-Identifier: GPL-3.0-or-later
// Descriptions mirrored to file comments by dnt, run as real processes: every write path,
// another program's comment, files that cannot take a comment, a whole tree, and the setting.

#include "DntRun.h"

#include "exchange/Xattr.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
QStringList Args(std::initializer_list<QByteArray> args)
{
    QStringList list;
    for (const QByteArray &arg : args)
        list.append(Arg(arg));
    return list;
}

// Each test keeps the setting and the index in folders of its own, so neither outlives it.
class DntMirrorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Root = FolderWithUserXattrs(Own, Other);
        if (Root.isEmpty())
            GTEST_SKIP() << "no folder here keeps user extended attributes";
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "HOME"}) {
            const QByteArray folder = Own.MakeDir(QByteArray("user-") + name);
            UserFolders.push_back(folder);
            Environment.insert(QString::fromLatin1(name), Arg(folder));
        }
    }

    TDntRun Run(const QStringList &args)
    {
        return RunProgram(TestSupport::BuiltProgram("dnt"), args, {}, {}, Environment);
    }
    TDntRun Run(std::initializer_list<QByteArray> args) { return Run(Args(args)); }
    QByteArray Path(const QByteArray &name) const { return Root + '/' + name; }
    std::optional<QByteArray> Comment(const QByteArray &name) const { return ReadComment(Path(name)); }

    TTempDir Own;
    std::optional<QTemporaryDir> Other;
    QByteArray Root;
    std::vector<QByteArray> UserFolders;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
};
} // namespace

TEST_F(DntMirrorTest, EveryDescriptionWriteOfDntSetsChangesOrRemovesTheComment)
{
    for (const char *name : {"set.txt", "changed.txt", "removed.txt", "imported.txt"})
        WriteFileBytes(Path(name), "x");
    ASSERT_EQ(::mkdir(Path("folder").constData(), 0755), 0);
    WriteFileBytes(Path("descript.ion"), "imported.txt From descript.ion\r\n");
    ASSERT_EQ(Run({"mirror", "on", Root}).Code, 0);

    struct TCase {
        const char *Name;
        std::vector<std::vector<QByteArray>> Commands; // each run in turn
        QByteArray Entry;
        std::optional<QByteArray> Expected;
    };
    const std::vector<TCase> cases = {
        {"set", {{"set", Path("set.txt"), "Set text"}}, "set.txt", "Set text"},
        {"set again",
         {{"set", Path("changed.txt"), "First"}, {"set", Path("changed.txt"), "Second"}},
         "changed.txt",
         "Second"},
        {"set empty", {{"set", Path("removed.txt"), "Soon gone"}, {"set", Path("removed.txt"), ""}}, "removed.txt", {}},
        {"import", {{"import", Root, "--from", "descript.ion"}}, "imported.txt", "From descript.ion"},
        {"a folder", {{"set", Path("folder"), "A folder"}}, "folder", "A folder"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        for (const std::vector<QByteArray> &command : c.Commands) {
            QStringList args;
            for (const QByteArray &arg : command)
                args.append(Arg(arg));
            const TDntRun run = Run(args);
            ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
            EXPECT_EQ(run.Err, QByteArray()) << run.Err.toStdString();
        }
        EXPECT_EQ(Comment(c.Entry), c.Expected);
    }
}

TEST_F(DntMirrorTest, AnotherProgramsCommentIsLeftAndReportedWithoutFailing)
{
    WriteFileBytes(Path("foreign.txt"), "x");
    WriteFileBytes(Path("edited.txt"), "x");
    ASSERT_EQ(WriteComment(Path("foreign.txt"), "From the file manager"), 0);
    ASSERT_EQ(Run({"mirror", "on", Root}).Code, 0);

    for (const QByteArray text : {"Mine", ""}) {
        SCOPED_TRACE(text.isEmpty() ? "removed" : "set");
        const TDntRun run = Run({"set", Path("foreign.txt"), text});
        EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
        EXPECT_TRUE(run.Err.contains("foreign.txt: its comment was written by another program"))
            << run.Err.toStdString();
        EXPECT_EQ(Comment("foreign.txt"), QByteArray("From the file manager"));
    }

    // A comment DirNote wrote that the file manager changed since is no longer DirNote's.
    ASSERT_EQ(Run({"set", Path("edited.txt"), "Ours"}).Code, 0);
    ASSERT_EQ(Comment("edited.txt"), QByteArray("Ours"));
    ASSERT_EQ(WriteComment(Path("edited.txt"), "Edited elsewhere"), 0);
    const TDntRun run = Run({"set", Path("edited.txt"), ""});
    EXPECT_EQ(run.Code, 0);
    EXPECT_TRUE(run.Err.contains("edited.txt: its comment was written by another program")) << run.Err.toStdString();
    EXPECT_EQ(Comment("edited.txt"), QByteArray("Edited elsewhere"));
    EXPECT_EQ(Run({"get", Path("edited.txt")}).Out, QByteArray("\n")); // the description went all the same
}

TEST_F(DntMirrorTest, AFileTheUserMayNotChangeIsSkippedAndCounted)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to give the file to another user and run dnt as nobody";
    if (!CanRunAsOtherUser())
        GTEST_SKIP() << "setpriv is not installed";
    // nobody reaches the tree and owns it, its Folder.dnt and its own settings; theirs.txt stays root's.
    for (const QByteArray &folder : {Own.Path(), Other ? QFile::encodeName(Other->path()) : Own.Path()})
        ::chmod(folder.constData(), 0755);
    if (!OtherUserReads(Root))
        GTEST_SKIP() << "nobody cannot reach " << Root.constData();
    WriteFileBytes(Path("mine.txt"), "x");
    WriteFileBytes(Path("theirs.txt"), "x");
    WriteFileBytes(Path("Folder.dnt"), "[Folders]\r\n[Files]\r\nmine.txt=Mine\r\ntheirs.txt=Theirs\r\n");
    std::vector<QByteArray> owned = UserFolders;
    for (const char *name : {"", "/mine.txt", "/Folder.dnt"})
        owned.push_back(Root + name);
    for (const QByteArray &path : owned)
        ASSERT_EQ(::chown(path.constData(), 65534, 65534), 0) << path.constData();
    const auto asNobody = [&](const QStringList &args) {
        return RunProgram(QStringLiteral("setpriv"),
                          QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                      QStringLiteral("--clear-groups"), TestSupport::BuiltProgram("dnt")}
                              + args,
                          {}, {}, Environment);
    };

    TDntRun run = asNobody(Args({"mirror", "on", Root}));
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Out.contains("comments: 1 written, 0 removed, 1 skipped (1 not allowed to change)"))
        << run.Out.toStdString();
    EXPECT_EQ(Comment("mine.txt"), QByteArray("Mine"));
    EXPECT_EQ(Comment("theirs.txt"), std::nullopt);

    run = asNobody(Args({"set", Path("theirs.txt"), "Changed"}));
    EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains("1 skipped (1 not allowed to change)")) << run.Err.toStdString();
    EXPECT_TRUE(ReadFileBytes(Path("Folder.dnt")).contains("theirs.txt=Changed"));
    EXPECT_EQ(Comment("theirs.txt"), std::nullopt);
}

TEST_F(DntMirrorTest, MirrorOnBringsAFolderOrATreeUpToDateAndSummarises)
{
    ASSERT_EQ(::mkdir(Path("sub").constData(), 0755), 0);
    ASSERT_EQ(::mkdir(Path("sub/deeper").constData(), 0755), 0);
    for (const char *name : {"a.txt", "gone.txt", "foreign.txt", "sub/b.txt", "sub/deeper/c.txt"})
        WriteFileBytes(Path(name), "x");
    ASSERT_EQ(::symlink("a.txt", Path("link.txt").constData()), 0);
    ASSERT_EQ(WriteComment(Path("foreign.txt"), "From the file manager"), 0);
    // Written while the setting is off: no comment yet.
    for (const auto &[name, text] : std::vector<std::pair<QByteArray, QByteArray>>{{"a.txt", "A"},
                                                                                   {"gone.txt", "Gone soon"},
                                                                                   {"foreign.txt", "F"},
                                                                                   {"link.txt", "Link"},
                                                                                   {"sub", "Sub"},
                                                                                   {"sub/b.txt", "B"},
                                                                                   {"sub/deeper/c.txt", "C"}})
        ASSERT_EQ(Run({"set", Path(name), text}).Code, 0) << name.constData();
    EXPECT_EQ(Comment("a.txt"), std::nullopt);

    TDntRun run = Run({"mirror", "on", Root});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Out.contains("comments: 3 written, 0 removed, 1 skipped (1 symbolic link, not followed), 1 left "
                                 "(written by another program)"))
        << run.Out.toStdString();
    EXPECT_TRUE(run.Err.contains("foreign.txt: its comment was written by another program")) << run.Err.toStdString();
    EXPECT_EQ(Comment("sub/b.txt"), std::nullopt); // not below without --recursive

    // A description removed while the setting was off loses its comment at the next "on".
    ASSERT_EQ(Run({"mirror", "off"}).Code, 0);
    ASSERT_EQ(Run({"set", Path("gone.txt"), ""}).Code, 0);
    EXPECT_EQ(Comment("gone.txt"), QByteArray("Gone soon"));
    run = Run({"mirror", "on", Root, "--recursive"});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Out.contains("comments: 2 written, 1 removed")) << run.Out.toStdString();
    for (const auto &[name, text] : std::vector<std::pair<QByteArray, QByteArray>>{
             {"a.txt", "A"}, {"sub", "Sub"}, {"sub/b.txt", "B"}, {"sub/deeper/c.txt", "C"}})
        EXPECT_EQ(Comment(name), text) << name.constData();
    EXPECT_EQ(Comment("gone.txt"), std::nullopt);
    EXPECT_EQ(Comment("foreign.txt"), QByteArray("From the file manager"));
}

TEST_F(DntMirrorTest, OffAndStatusTellTheSettingAndOffLeavesTheCommentsWritten)
{
    WriteFileBytes(Path("a.txt"), "x");
    EXPECT_EQ(Run({"mirror", "status"}).Out, QByteArray("off\n"));
    ASSERT_EQ(Run({"mirror", "on", Root}).Code, 0);
    EXPECT_EQ(Run({"mirror", "status"}).Out, QByteArray("on\n"));
    ASSERT_EQ(Run({"set", Path("a.txt"), "While on"}).Code, 0);

    const TDntRun off = Run({"mirror", "off"});
    EXPECT_EQ(off.Code, 0);
    EXPECT_TRUE(off.Out.contains("the comments already written stay")) << off.Out.toStdString();
    EXPECT_EQ(Run({"mirror", "status"}).Out, QByteArray("off\n"));
    ASSERT_EQ(Run({"set", Path("a.txt"), "While off"}).Code, 0);
    EXPECT_EQ(Comment("a.txt"), QByteArray("While on"));

    for (const QStringList &wrong : {Args({"mirror"}), Args({"mirror", "maybe"}), Args({"mirror", "off", Root})})
        EXPECT_EQ(Run(wrong).Code, 2) << wrong.join(u' ').toStdString();
}

TEST_F(DntMirrorTest, AnUnreadableSettingsFileFailsTheSettingCommandsAndIsToldOnceByAWrite)
{
    WriteFileBytes(Path("a.txt"), "x");
    // A folder where the settings file belongs: it is there, and cannot be read (also as root).
    const QByteArray settings = UserFolders.front() + "/KER-MOSS/HKEY_CURRENT_USER.reg";
    ASSERT_EQ(::mkdir((UserFolders.front() + "/KER-MOSS").constData(), 0755), 0);
    ASSERT_EQ(::mkdir(settings.constData(), 0755), 0);

    for (const QStringList &command :
         {Args({"mirror", "status"}), Args({"mirror", "on", Root}), Args({"mirror", "off"})}) {
        const TDntRun run = Run(command);
        EXPECT_EQ(run.Code, 1) << command.join(u' ').toStdString();
        EXPECT_EQ(run.Out, QByteArray()) << command.join(u' ').toStdString();
        EXPECT_TRUE(run.Err.contains(settings)) << run.Err.toStdString();
    }

    // Every write goes on without the mirror, and says why once, however many folders it writes.
    ASSERT_EQ(::mkdir(Path("sub").constData(), 0755), 0);
    for (const char *name : {"b.txt", "sub/c.txt"})
        WriteFileBytes(Path(name), "x");
    WriteFileBytes(Path("descript.ion"), "b.txt Imported\r\n");
    WriteFileBytes(Path("sub/descript.ion"), "c.txt Imported\r\n");
    for (const QStringList &write :
         {Args({"set", Path("a.txt"), "Written"}), Args({"import", Root, "--from", "descript.ion", "--recursive"})}) {
        const TDntRun run = Run(write);
        EXPECT_EQ(run.Code, 0) << write.join(u' ').toStdString() << run.Err.toStdString();
        EXPECT_EQ(run.Err.count(settings), 1) << write.join(u' ').toStdString() << run.Err.toStdString();
    }
    for (const char *name : {"a.txt", "b.txt", "sub/c.txt"})
        EXPECT_EQ(Comment(name), std::nullopt) << name;
}
