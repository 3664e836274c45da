// SPDX-License-Identifier: GPL-3.0-or-later
// A Folder.dnt that exists but cannot be read, by every command of dnt: it is an error naming
// the file, never a folder without descriptions, and a walk of a tree goes on past it.

#include "DntRun.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace TestSupport;

namespace {
enum class TUnreadable { TooLarge, NoPermission };

struct TUnreadableCase {
    const char *Label;
    TUnreadable Kind;
    const char *Reason; // what stderr says
};

class DntUnreadableDescriptions : public ::testing::TestWithParam<TUnreadableCase> {};

QString Shown(const TDntRun &run)
{
    return QStringLiteral("exit %1\nout: %2\nerr: %3").arg(run.Code).arg(Arg(run.Out), Arg(run.Err));
}
} // namespace

TEST_P(DntUnreadableDescriptions, EveryCommandSaysSoAndExitsOneWhileAWalkGoesOnPastIt)
{
    const TUnreadableCase &c = GetParam();
    if (c.Kind == TUnreadable::NoPermission && !CanRunAsOtherUser())
        GTEST_SKIP() << "running as root without setpriv: no user here for whom a mode counts";
    TTempDir dir;
    // root/ and root/bad/deeper/ can be read; root/bad/Folder.dnt cannot.
    const QByteArray root = dir.MakeDir("root");
    dir.WriteFile("root/top.txt", "x");
    dir.WriteFile("root/Folder.dnt", "[Files]\r\ntop.txt=Top text\r\n");
    const QByteArray bad = dir.MakeDir("root/bad");
    dir.WriteFile("root/bad/secret.txt", "x");
    dir.MakeDir("root/bad/deeper");
    dir.WriteFile("root/bad/deeper/deep.txt", "x");
    dir.WriteFile("root/bad/deeper/Folder.dnt", "[Files]\r\ndeep.txt=Deep text\r\n");
    const QByteArray badFile = bad + "/Folder.dnt";
    if (c.Kind == TUnreadable::TooLarge) {
        // Sparse: it takes no room on the disk.
        dir.WriteFile("root/bad/Folder.dnt", "[Files]\r\nsecret.txt=Secret text\r\n");
        ASSERT_EQ(::truncate(badFile.constData(), 300LL << 20), 0);
    } else {
        // Everything readable by the other user but the one file.
        ASSERT_EQ(::chmod(dir.Path().constData(), 0755), 0);
        for (const char *folder : {"root", "root/bad", "root/bad/deeper"})
            ASSERT_EQ(::chmod(dir.FilePath(folder).constData(), 0755), 0);
        dir.WriteFile("root/bad/Folder.dnt", "[Files]\r\nsecret.txt=Secret text\r\n");
        ASSERT_EQ(::chmod(badFile.constData(), 0), 0);
        if (!OtherUserReads(root + "/Folder.dnt"))
            GTEST_SKIP() << "the other user cannot reach the test's folder " << root.toStdString();
    }
    struct stat before;
    ASSERT_EQ(::stat(badFile.constData(), &before), 0);

    const QString r = Arg(root), b = Arg(bad), secret = Arg(bad + "/secret.txt");
    const QStringList formats{QStringLiteral("md"), QStringLiteral("csv"), QStringLiteral("json")};
    struct TCommand {
        QStringList Args;
        bool WalksTheTree;
    };
    std::vector<TCommand> commands{
        {{QStringLiteral("get"), secret}, false},
        {{QStringLiteral("get"), Arg(root + "/top.txt"), secret}, false},
        {{QStringLiteral("set"), secret, QStringLiteral("New text")}, false},
        {{QStringLiteral("ls"), b}, false},
        {{QStringLiteral("ls"), b, QStringLiteral("--json")}, false},
        {{QStringLiteral("ls"), b, QStringLiteral("--undescribed")}, false},
        {{QStringLiteral("export"), b, QStringLiteral("--to"), QStringLiteral("xattr")}, false},
        {{QStringLiteral("import"), b, QStringLiteral("--from"), QStringLiteral("descript.ion")}, false},
        {{QStringLiteral("import"), b, QStringLiteral("--from"), QStringLiteral("xattr")}, false},
    };
    for (const QString &format : formats) {
        commands.push_back({{QStringLiteral("export"), b, QStringLiteral("--format"), format}, false});
        commands.push_back(
            {{QStringLiteral("export"), r, QStringLiteral("--recursive"), QStringLiteral("--format"), format}, true});
    }
    for (const TCommand &command : commands) {
        const TDntRun run = c.Kind == TUnreadable::NoPermission ? DntAsOtherUser(command.Args) : Dnt(command.Args);
        SCOPED_TRACE(command.Args.join(u' ').toStdString());
        SCOPED_TRACE(Shown(run).toStdString());
        EXPECT_EQ(run.Code, 1);
        EXPECT_TRUE(run.Err.contains(badFile + ": " + c.Reason));
        EXPECT_FALSE(run.Err.contains("terminate"));
        // No row claims that the folder's entries are undescribed.
        EXPECT_FALSE(run.Out.contains("secret.txt"));
        if (command.WalksTheTree) {
            EXPECT_TRUE(run.Out.contains("Top text"));
            EXPECT_TRUE(run.Out.contains("Deep text"));
        }
        // get goes on with its other paths.
        if (command.Args[0] == QStringLiteral("get")) {
            EXPECT_EQ(run.Out, command.Args.size() == 2 ? QByteArray() : root + "/top.txt: Top text\n");
        }
    }
    // Nothing wrote the file.
    struct stat after;
    ASSERT_EQ(::stat(badFile.constData(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, DntUnreadableDescriptions,
    ::testing::Values(TUnreadableCase{"LargerThan256MiB", TUnreadable::TooLarge, "it is larger than 256 MiB"},
                      TUnreadableCase{"NoReadPermission", TUnreadable::NoPermission, "Permission denied"}),
    [](const ::testing::TestParamInfo<TUnreadableCase> &test) { return std::string(test.param.Label); });

TEST(DntWalk, ARecursiveCommandGoesOnPastAnUnreadableFolderAndNeverFollowsALinkLoop)
{
    if (!CanRunAsOtherUser())
        GTEST_SKIP() << "running as root without setpriv: no user here for whom a mode counts";
    TTempDir dir;
    ASSERT_EQ(::chmod(dir.Path().constData(), 0755), 0);
    const QByteArray root = dir.MakeDir("root");
    for (const char *folder : {"root/a", "root/locked", "root/z"})
        dir.MakeDir(folder);
    dir.WriteFile("root/a/one.txt", "x");
    dir.WriteFile("root/a/Folder.dnt", "[Files]\r\none.txt=First folder\r\n");
    dir.WriteFile("root/z/two.txt", "x");
    dir.WriteFile("root/z/Folder.dnt", "[Files]\r\ntwo.txt=Last folder\r\n");
    dir.WriteFile("root/locked/Folder.dnt", "[Files]\r\n");
    ASSERT_EQ(::symlink("..", dir.FilePath("root/a/loop").constData()), 0);
    for (const char *folder : {"root", "root/a", "root/z"})
        ASSERT_EQ(::chmod(dir.FilePath(folder).constData(), 0755), 0);
    ASSERT_EQ(::chmod(dir.FilePath("root/locked").constData(), 0), 0);
    if (!OtherUserReads(root + "/a/Folder.dnt"))
        GTEST_SKIP() << "the other user cannot reach the test's folder " << root.toStdString();

    std::vector<QStringList> commands;
    for (const char *format : {"md", "csv", "json"})
        commands.push_back({QStringLiteral("export"), Arg(root), QStringLiteral("--recursive"),
                            QStringLiteral("--format"), QString::fromLatin1(format)});
    commands.push_back({QStringLiteral("import"), Arg(root), QStringLiteral("--recursive"), QStringLiteral("--from"),
                        QStringLiteral("descript.ion")});
    for (const QStringList &args : commands) {
        const TDntRun run = DntAsOtherUser(args);
        SCOPED_TRACE(args.join(u' ').toStdString());
        SCOPED_TRACE(Shown(run).toStdString());
        EXPECT_EQ(run.Code, 1);
        EXPECT_TRUE(run.Err.contains(root + "/locked")) << "the unreadable folder is named";
        if (args[0] == QStringLiteral("export")) {
            // Each folder once: the link back to the top is not walked.
            EXPECT_EQ(run.Out.count("First folder"), 1);
            EXPECT_EQ(run.Out.count("Last folder"), 1);
        }
    }
    ::chmod(dir.FilePath("root/locked").constData(), 0755);
}
