// SPDX-License-Identifier: GPL-3.0-or-later
// Commits that meet a fault: a folder gone since it was listed, a full disk. Each is refused
// with a message that names the file, and the file keeps every byte it had.
#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileFile.h"
#include "common/AtomicFile.h"
#include "common/Exceptions.h"

#include "FullDisk.h"
#include "KillRounds.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
const QByteArray kText = "[Files]\r\nold=1\r\n[Folders]\r\nsub=a folder\r\n";

QByteArray CommitError(const QByteArray &path)
{
    try {
        ProfileFile(path).WriteString("Files", "k", "a new description");
    } catch (const TException &e) {
        return e.Message().toUtf8();
    }
    return {};
}

QByteArray DiskFullError(const QByteArray &path)
{
    return "Unable to write to " + path + ": No space left on device";
}

// The old text still waits in the user's cache: only while a rewrite in place runs.
QStringList Backups()
{
    return OtherEntries(InPlaceBackupFolder(), {});
}
} // namespace

TEST(ProfileFileFaults, AFolderGoneSinceItWasListedIsNotMadeAgain)
{
    TTempDir dir;
    const QByteArray folder = dir.MakeDir("shown");
    const QByteArray path = dir.WriteFile("shown/Folder.dnt", kText);
    dir.WriteFile("shown/a.txt", "a");
    ListAndPruneFolder(folder);
    ASSERT_TRUE(QDir(QFile::decodeName(folder)).removeRecursively());

    EXPECT_EQ(CommitError(path), "Unable to write to " + path + ": No such file or directory");
    EXPECT_EQ(OtherEntries(dir.Path(), {}), QStringList()) << "the folder came back";
}

namespace {
struct TFullDisk {
    const char *Name;
    bool HardLinked;   // written in place
    const char *After; // bytes of growth the disk still takes (the text has 41, the new one 62)
    bool SyncFails;
};

void PrintTo(const TFullDisk &c, std::ostream *os)
{
    *os << c.Name;
}

class ProfileFileFullDisk : public ::testing::TestWithParam<TFullDisk> {
protected:
    TTempDir Dir;
};
} // namespace

// The disk is made full by a preloaded library in a process that commits, so no superuser is
// needed. Every stage of a write meets it: the new file, the backup of a rewrite in place, the
// rewrite itself (its old bytes are put back), the sync.
TEST_P(ProfileFileFullDisk, ACommitSaysTheDiskIsFullAndTheFileKeepsEveryByte)
{
    const TFullDisk c = GetParam();
    const QByteArray folder = Dir.MakeDir("folder");
    const QByteArray path = Dir.WriteFile("folder/Folder.dnt", kText);
    if (c.HardLinked) {
        ASSERT_EQ(::link(path.constData(), Dir.FilePath("second.dnt").constData()), 0);
    }

    QProcess writer;
    writer.setProcessEnvironment(
        FullDiskEnvironment(TestSupport::BuiltProgram("tests/libdn_fulldisk.so"), c.After, c.SyncFails));
    writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    writer.start(TestSupport::BuiltProgram("tests/dn_dntwriter"),
                 {QFile::decodeName(path), u"k"_qs, u"a new description"_qs});
    ASSERT_TRUE(writer.waitForFinished(30000));
    EXPECT_EQ(writer.exitCode(), 1);
    EXPECT_EQ(writer.readAllStandardOutput(), DiskFullError(path));
    EXPECT_EQ(ReadFileBytes(path), kText);
    EXPECT_EQ(OtherEntries(folder, "Folder.dnt"), QStringList()) << "a temporary file was left";
    EXPECT_EQ(Backups(), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Stages, ProfileFileFullDisk,
                         ::testing::Values(TFullDisk{"NewFileAtOnce", false, "0", false},
                                           TFullDisk{"NewFileHalfWay", false, "20", false},
                                           TFullDisk{"NewFileSync", false, nullptr, true},
                                           TFullDisk{"BackupOfARewriteInPlace", true, "0", false},
                                           TFullDisk{"RewriteInPlaceHalfWay", true, "49", false},
                                           TFullDisk{"SyncOfARewriteInPlace", true, nullptr, true}),
                         [](const auto &test) { return std::string(test.param.Name); });

// A real small file system, where the superuser may mount one.
TEST(ProfileFileFaults, AFullTmpfsKeepsEveryByteOnBothWritePaths)
{
    TTempDir dir;
    const QByteArray mountPoint = dir.MakeDir("small");
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0)
        GTEST_SKIP() << "no tmpfs may be mounted here: " << std::strerror(errno);
    for (const bool hardLinked : {false, true}) {
        SCOPED_TRACE(hardLinked ? "rewritten in place" : "renamed");
        const QByteArray folder = mountPoint + (hardLinked ? "/linked" : "/renamed");
        ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
        const QByteArray path = folder + "/Folder.dnt";
        // Just short of a page: the new text needs a page more, even when written in place.
        const QByteArray text = kText + "long=" + QByteArray(4090 - kText.size() - 7, 'x') + "\r\n";
        ASSERT_EQ(text.size(), 4090);
        WriteFileBytes(path, text);
        if (hardLinked) {
            ASSERT_EQ(::link(path.constData(), (mountPoint + "/second.dnt").constData()), 0);
        }
        // Fill what is left.
        const QByteArray filler = mountPoint + "/filler";
        const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        const QByteArray block(4096, 'x');
        while (::write(fd, block.constData(), size_t(block.size())) > 0) {
        }
        while (::write(fd, block.constData(), 1) > 0) {
        }
        ::close(fd);

        EXPECT_EQ(CommitError(path), DiskFullError(path));
        EXPECT_EQ(ReadFileBytes(path), text);
        EXPECT_EQ(OtherEntries(folder, "Folder.dnt"), QStringList());
        EXPECT_EQ(Backups(), QStringList());
        ::unlink(filler.constData()); // room again: the write goes through
        EXPECT_EQ(CommitError(path), QByteArray());
        EXPECT_EQ(ProfileFile(path).ReadString("Files", "k"), QByteArray("a new description"));
    }
    EXPECT_EQ(::umount2(mountPoint.constData(), MNT_DETACH), 0);
}
