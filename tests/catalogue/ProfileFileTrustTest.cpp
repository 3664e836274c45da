// SPDX-License-Identifier: GPL-3.0-or-later
// What a write keeps of the file besides its text (ACL, extended attributes), and which links and
// hard links a read or write refuses because another user could have made them.
#include "catalogue/ProfileFile.h"
#include "common/AtomicFile.h"
#include "common/Exceptions.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
const QByteArray kOld = "[Files]\r\nold=1\r\n";
const QByteArray kNew = "[Files]\r\nold=1\r\nk=v\r\n";

QByteArray WriteKey(const QByteArray &path)
{
    try {
        ProfileFile(path).WriteString("Files", "k", "v");
    } catch (const TException &e) {
        return e.Message().toUtf8();
    }
    return {};
}

ino_t InodeOf(const QByteArray &path)
{
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 ? st.st_ino : 0;
}

QByteArray Attribute(const QByteArray &path, const char *name)
{
    char value[256];
    const ssize_t n = ::getxattr(path.constData(), name, value, sizeof value);
    return n < 0 ? QByteArray("(none)") : QByteArray(value, n);
}

// The ACL as getfacl shows it, without the file's name; empty when getfacl failed.
QByteArray Acl(const QByteArray &path)
{
    QProcess getfacl;
    getfacl.start(QStringLiteral("getfacl"), {QStringLiteral("--omit-header"), QString::fromUtf8(path)});
    return getfacl.waitForFinished() && getfacl.exitCode() == 0 ? getfacl.readAllStandardOutput() : QByteArray();
}

bool SetAcl(const QStringList &args)
{
    QProcess setfacl;
    setfacl.start(QStringLiteral("setfacl"), args);
    return setfacl.waitForFinished() && setfacl.exitStatus() == QProcess::NormalExit && setfacl.exitCode() == 0;
}

class ProfileFileMetadata : public ::testing::TestWithParam<bool> {
protected:
    TTempDir Dir;
};
} // namespace

// Both ways of writing: a rename over the file, and (for a file with a second hard link) a
// rewrite in place.
TEST_P(ProfileFileMetadata, TheAclAndExtendedAttributesSurviveAWrite)
{
    const bool inPlace = GetParam();
    const QByteArray path = Dir.WriteFile("Folder.dnt", kOld);
    if (inPlace) {
        ASSERT_EQ(::link(path.constData(), Dir.FilePath("second.dnt").constData()), 0);
    }
    if (::setxattr(path.constData(), "user.dirnote.note", "kept", 4, 0) != 0)
        GTEST_SKIP() << "the temporary folder's file system keeps no user attributes: " << std::strerror(errno);
    if (!SetAcl({QStringLiteral("-m"), QStringLiteral("u:65534:rw"), QString::fromUtf8(path)}))
        GTEST_SKIP() << "no ACL could be set (setfacl missing, or the file system has no ACLs)";
    const QByteArray acl = Acl(path);
    ASSERT_TRUE(acl.contains("user:65534:rw-") || acl.contains("user:nobody:rw-")) << acl.toStdString();
    const ino_t inode = InodeOf(path);

    EXPECT_EQ(WriteKey(path), QByteArray());
    EXPECT_EQ(ReadFileBytes(path), kNew);
    EXPECT_EQ(InodeOf(path) == inode, inPlace) << "the write did not take the way under test";
    EXPECT_EQ(Acl(path), acl);
    EXPECT_EQ(Attribute(path, "user.dirnote.note"), QByteArray("kept"));
}

// A folder's default ACL gives a new file one; a file that had none still has none after a write.
TEST_P(ProfileFileMetadata, AFileWithoutAclGetsNoneFromTheFolder)
{
    const bool inPlace = GetParam();
    const QByteArray path = Dir.WriteFile("Folder.dnt", kOld);
    if (inPlace) {
        ASSERT_EQ(::link(path.constData(), Dir.FilePath("second.dnt").constData()), 0);
    }
    if (!SetAcl(
            {QStringLiteral("-d"), QStringLiteral("-m"), QStringLiteral("u:65534:rwx"), QString::fromUtf8(Dir.Path())}))
        GTEST_SKIP() << "no default ACL could be set (setfacl missing, or the file system has no ACLs)";
    const QByteArray acl = Acl(path);
    ASSERT_FALSE(acl.isEmpty());

    EXPECT_EQ(WriteKey(path), QByteArray());
    EXPECT_EQ(ReadFileBytes(path), kNew);
    EXPECT_EQ(Acl(path), acl);
}

INSTANTIATE_TEST_SUITE_P(BothWrites, ProfileFileMetadata, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &write) {
                             return std::string(write.param ? "InPlace" : "ByRename");
                         });

// An attribute this user may not set on a new file (a security label only the superuser sets)
// is kept by rewriting the file in place rather than lost by a rename.
TEST(ProfileFileTrust, AnAttributeThatCannotBeCopiedIsKeptByARewriteInPlace)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only the superuser can give a file a security attribute";
    TTempDir dir;
    ::chmod(dir.Path().constData(), 0755);
    const QByteArray folder = dir.MakeDir("users");
    const QByteArray cache = dir.MakeDir("cache");
    const QByteArray path = dir.WriteFile("users/Folder.dnt", kOld);
    for (const QByteArray &owned : {folder, cache, path})
        ASSERT_EQ(::chown(owned.constData(), 65534, 65534), 0);
    if (::setxattr(path.constData(), "security.dirnote", "label", 5, 0) != 0)
        GTEST_SKIP() << "the temporary folder's file system keeps no security attributes: " << std::strerror(errno);
    const ino_t inode = InodeOf(path);

    const TChildRun run = RunInChild(
        [&] {
            qputenv("XDG_CACHE_HOME", cache);
            return WriteKey(path);
        },
        20000, TUserIds{});
    EXPECT_TRUE(run.Finished);
    EXPECT_EQ(run.Report, QByteArray());
    EXPECT_EQ(ReadFileBytes(path), kNew);
    EXPECT_EQ(InodeOf(path), inode);
    EXPECT_EQ(Attribute(path, "security.dirnote"), QByteArray("label"));
}

// Which names another user could have made: every link of a chain must be the user's or root's,
// and a second hard link counts only in a folder that others can write to.
TEST(ProfileFileTrust, ALinkOrHardLinkOthersCouldHaveMadeIsRefusedForReadAndWrite)
{
    const bool root = ::geteuid() == 0;
    struct TCase {
        const char *Name;
        std::function<void(const QByteArray &folder, const QByteArray &file)> Make; // makes folder/Folder.dnt
        int Refused;                                                                // 0: read and written as today
        bool NeedsRoot;
    };
    const auto foreignLink = [](const QByteArray &at, const QByteArray &to) {
        ASSERT_EQ(::symlink(to.constData(), at.constData()), 0);
        ASSERT_EQ(::lchown(at.constData(), 65534, 65534), 0);
    };
    const auto hardLink = [](mode_t mode, uid_t owner) {
        return [mode, owner](const QByteArray &folder, const QByteArray &file) {
            ASSERT_EQ(::link(file.constData(), (folder + "/Folder.dnt").constData()), 0);
            ASSERT_EQ(::chown(folder.constData(), owner, ::getegid()), 0);
            ASSERT_EQ(::chmod(folder.constData(), mode), 0);
        };
    };
    const TCase cases[] = {
        {"another user's link in a private folder",
         [&](const QByteArray &folder, const QByteArray &file) { foreignLink(folder + "/Folder.dnt", file); },
         kErrorForeignLink, true},
        {"the user's own link to another user's link",
         [&](const QByteArray &folder, const QByteArray &file) {
             foreignLink(folder + "/middle.dnt", file);
             ASSERT_EQ(::symlink("middle.dnt", (folder + "/Folder.dnt").constData()), 0);
         },
         kErrorForeignLink, true},
        {"hard link, folder writable by its group", hardLink(0770, ::geteuid()), kErrorSharedHardLink, false},
        {"hard link, folder of another user", hardLink(0755, 65534), kErrorSharedHardLink, true},
        {"hard link, the user's own folder", hardLink(0755, ::geteuid()), 0, false},
    };
    int skipped = 0;
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.NeedsRoot && !root) {
            ++skipped;
            continue;
        }
        TTempDir dir;
        const QByteArray folder = dir.MakeDir("folder");
        const QByteArray file = dir.WriteFile("own.dnt", kOld);
        ASSERT_NO_FATAL_FAILURE(c.Make(folder, file));
        const QByteArray path = folder + "/Folder.dnt";

        int error = -100;
        const std::optional<QByteArray> bytes = ReadWholeFile(path, nullptr, &error);
        EXPECT_EQ(error, c.Refused);
        EXPECT_EQ(bytes.has_value(), c.Refused == 0);
        EXPECT_EQ(ReadFileInPieces(path, 4, [](QByteArrayView) {}), c.Refused);
        const QByteArray said = WriteKey(path);
        EXPECT_EQ(said,
                  c.Refused ? "Unable to write to " + path + ": " + FileErrorText(c.Refused).toUtf8() : QByteArray());
        EXPECT_EQ(ReadFileBytes(file), c.Refused ? kOld : kNew);
    }
    if (skipped)
        GTEST_SKIP() << skipped << " cases need the superuser to make a name that belongs to another user";
}

// A write that fails says why: on a read-only mount the folder and the file both refuse it, and
// the user reads that, not only that the write failed.
TEST(ProfileFileTrust, AWriteOnAReadOnlyMountSaysWhy)
{
    TTempDir dir;
    const QByteArray folder = dir.MakeDir("mounted");
    const QByteArray path = dir.WriteFile("mounted/Folder.dnt", kOld);
    const TChildRun run = RunInChild([&]() -> QByteArray {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr) != 0
            || ::mount(nullptr, folder.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return "skip";
        return WriteKey(path);
    });
    if (run.Report == "skip")
        GTEST_SKIP() << "a read-only mount needs the superuser";
    EXPECT_EQ(run.Report, "Unable to write to " + path + ": Read-only file system");
    EXPECT_EQ(ReadFileBytes(path), kOld);
}
