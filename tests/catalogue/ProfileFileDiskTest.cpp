// SPDX-License-Identifier: GPL-3.0-or-later
// What a write does to the folder and the file it writes to: links, owners, modes, other
// writers, leftovers, and files that are not ordinary text files.
#include "catalogue/DescriptionFile.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/FolderText.h"
#include "catalogue/ProfileFile.h"
#include "common/AtomicFile.h"
#include "common/Exceptions.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
std::atomic<int> gUmaskCalls{0};
} // namespace

// Counts every change of the process-wide umask made from this program: a writer that flips it
// gives files that other threads create meanwhile the wrong mode.
extern "C" mode_t umask(mode_t mask)
{
    ++gUmaskCalls;
    return mode_t(::syscall(SYS_umask, mask));
}

namespace {
const QByteArray kOld = "[Files]\r\nold=1\r\n";
const QByteArray kNew = "[Files]\r\nold=1\r\nk=v\r\n";

// The error text of a write, empty when it succeeded.
QByteArray WriteKey(const QByteArray &path, const QByteArray &key = "k", const QByteArray &value = "v")
{
    try {
        ProfileFile(path).WriteString("Files", key, value);
    } catch (const TException &e) {
        return e.Message().toUtf8();
    }
    return {};
}

struct stat StatOf(const QByteArray &path, bool follow = true)
{
    struct stat st {};
    if ((follow ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st)) != 0)
        st.st_ino = 0;
    return st;
}

QByteArray LinkText(const QByteArray &path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer);
    return n < 0 ? QByteArray() : QByteArray(buffer, n);
}

QStringList Entries(const QByteArray &folder)
{
    return QDir(QFile::decodeName(folder))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// A process id that no process has any longer.
pid_t DeadPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

class ProfileFileOnDisk : public ::testing::Test {
protected:
    TTempDir Dir;
};
} // namespace

TEST_F(ProfileFileOnDisk, SymbolicLinksAreFollowedAndStayLinks)
{
    struct TCase {
        const char *Name;
        QByteArray Link;   // what Folder.dnt points to
        QByteArray Target; // the file that then holds the text
        bool TargetExists;
    };
    const QByteArray same = Dir.MakeDir("same"), other = Dir.MakeDir("other");
    const QByteArray chained = Dir.MakeDir("chained"), dangling = Dir.MakeDir("dangling");
    ASSERT_EQ(::symlink("third.dnt", (chained + "/second.dnt").constData()), 0);
    const std::vector<std::pair<QByteArray, TCase>> cases = {
        {same, {"same folder", "notes.dnt", same + "/notes.dnt", true}},
        {other, {"other folder", "../same/shared.dnt", same + "/shared.dnt", true}},
        {chained, {"absolute, then a second link", chained + "/second.dnt", chained + "/third.dnt", true}},
        {dangling, {"dangling", "new.dnt", dangling + "/new.dnt", false}},
    };
    for (const auto &[folder, c] : cases) {
        SCOPED_TRACE(c.Name);
        const QByteArray link = folder + "/Folder.dnt";
        if (c.TargetExists)
            WriteFileBytes(c.Target, kOld);
        ASSERT_EQ(::symlink(c.Link.constData(), link.constData()), 0);

        EXPECT_EQ(WriteKey(link), QByteArray());
        ProfileFile(link).DeleteKey("Files", "old"); // the deletion is written on release
        EXPECT_EQ(LinkText(link), c.Link) << "the link was replaced";
        EXPECT_EQ(ReadFileBytes(c.Target), QByteArray("[Files]\r\nk=v\r\n"));
        EXPECT_EQ(ProfileFile(link).ReadString("Files", "k"), QByteArray("v"));
    }
}

TEST_F(ProfileFileOnDisk, HardLinksAllSeeTheNewTextAndAWriteWithoutBackupIsRefused)
{
    const QByteArray path = Dir.WriteFile("Folder.dnt", kOld);
    const QByteArray second = Dir.FilePath("copy.dnt");
    ASSERT_EQ(::link(path.constData(), second.constData()), 0);
    const ino_t inode = StatOf(path).st_ino;

    EXPECT_EQ(WriteKey(path), QByteArray());
    EXPECT_EQ(ReadFileBytes(second), kNew);
    EXPECT_EQ(StatOf(path).st_ino, inode);
    EXPECT_EQ(StatOf(path).st_nlink, 2u);
    // The old text waits in the cache only while the file is rewritten.
    EXPECT_EQ(Entries(InPlaceBackupFolder()), QStringList());

    // Without a place to keep the old text, a rewrite in place is not started.
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", "/dev/null/cache");
    EXPECT_EQ(WriteKey(path, "k", "w"), "Unable to write to " + path + ": Not a directory");
    qputenv("XDG_CACHE_HOME", cache);
    EXPECT_EQ(ReadFileBytes(path), kNew);
}

// Files others rely on: a rename would give them to the writer, break their links or is refused
// by the folder. Each case is written by another user (the superuser can act as one).
TEST_F(ProfileFileOnDisk, SharedFilesKeepTheirOwnerGroupAndModeAndAreWritten)
{
    const bool root = ::geteuid() == 0;
    constexpr uid_t kMember = 1234; // the owner of the file
    constexpr gid_t kGroup = 1234;
    struct TCase {
        const char *Name;
        mode_t FolderMode;
        uid_t FolderOwner;
        gid_t FolderGroup;
        mode_t FileMode;
        uid_t FileOwner;
        gid_t FileGroup;
        bool NeedsRoot; // the file must belong to someone else
    };
    const TCase cases[] = {
        {"group-shared folder, another member's file", 02775, 0, kGroup, 0664, kMember, kGroup, true},
        {"read-only folder, writable file", 0555, ::geteuid(), ::getegid(), 0666, ::geteuid(), ::getegid(), false},
        {"sticky folder, another user's 0666 file", 01777, 0, 0, 0666, kMember, kMember, true},
        {"root's file in a folder for all", 0777, 0, 0, 0666, 0, 0, true},
    };
    ::chmod(Dir.Path().constData(), 0755); // the writer must reach the folders
    const QByteArray cache = Dir.MakeDir("cache");
    ::chmod(cache.constData(), 01777);
    int skipped = 0;
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.NeedsRoot && !root) {
            ++skipped;
            continue;
        }
        const QByteArray folder = Dir.MakeDir(
            QByteArray(c.Name).replace(' ', '_').replace(',', '_').replace('\'', '_'));
        const QByteArray path = folder + "/Folder.dnt";
        WriteFileBytes(path, kOld);
        ASSERT_EQ(::chown(path.constData(), c.FileOwner, c.FileGroup), 0);
        ASSERT_EQ(::chmod(path.constData(), c.FileMode), 0);
        ASSERT_EQ(::chown(folder.constData(), c.FolderOwner, c.FolderGroup), 0);
        ASSERT_EQ(::chmod(folder.constData(), c.FolderMode), 0);
        const struct stat before = StatOf(path);

        const auto write = [&] {
            qputenv("XDG_CACHE_HOME", cache);
            return WriteKey(path);
        };
        const TChildRun run = root ? RunInChild(write, 20000, TUserIds{65534, 65534, {kGroup}})
                                   : TChildRun{true, 0, write()};
        EXPECT_TRUE(run.Finished);
        EXPECT_EQ(run.Report, QByteArray());
        EXPECT_EQ(ReadFileBytes(path), kNew);
        const struct stat after = StatOf(path);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(Entries(folder), QStringList{QStringLiteral("Folder.dnt")});
        ::chmod(folder.constData(), 0755);
    }
    EXPECT_EQ(Entries(cache + "/KER-MOSS/DirNote/in-place"), QStringList()) << "a backup was left behind";
    if (skipped)
        GTEST_SKIP() << skipped << " cases need the superuser to write as another user";
}

TEST_F(ProfileFileOnDisk, RootKeepsTheOwnerAndGroupOfAUsersFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only the superuser can give a file to another user";
    const QByteArray path = Dir.WriteFile("Folder.dnt", kOld);
    ASSERT_EQ(::chown(path.constData(), 1234, 4321), 0);
    ASSERT_EQ(::chmod(path.constData(), 0640), 0);
    EXPECT_EQ(WriteKey(path), QByteArray());
    EXPECT_EQ(ReadFileBytes(path), kNew);
    const struct stat st = StatOf(path);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 4321u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(ProfileFileOnDisk, ModesFollowTheUmaskWhichIsNeverChanged)
{
    const mode_t saved = ::umask(077);
    gUmaskCalls = 0;
    const QByteArray created = Dir.FilePath("Folder.dnt");
    CreateDescriptionFile(created);
    const QByteArray written = Dir.FilePath("written.dnt");
    EXPECT_EQ(WriteKey(written), QByteArray());
    const QByteArray kept = Dir.WriteFile("kept.dnt", kOld);
    ::chmod(kept.constData(), 0644);
    EXPECT_EQ(WriteKey(kept), QByteArray());
    EXPECT_EQ(gUmaskCalls, 0) << "the process-wide umask was changed";
    ::umask(saved);

    EXPECT_EQ(StatOf(created).st_mode & 07777, 0600u);
    EXPECT_EQ(StatOf(written).st_mode & 07777, 0600u);
    EXPECT_EQ(StatOf(kept).st_mode & 07777, 0644u);
    EXPECT_EQ(ReadFileBytes(kept), kNew);
}

// Every way a write comes into a folder: on its own (it reads the folder for leftovers), as the
// prune of a listing, and right after a listing (both take the names the listing read).
TEST_F(ProfileFileOnDisk, LeftoversOfWritersThatAreGoneAreRemovedAtTheNextWrite)
{
    enum class TWay { WriteAlone, ListingThatPrunes, WriteAfterListing };
    const QByteArray dead = QByteArray::number(DeadPid());
    const QByteArray self = QByteArray::number(::getpid());
    const pid_t sleeper = ::fork();
    if (sleeper == 0) {
        ::pause();
        ::_exit(0);
    }
    const QByteArray alive = QByteArray::number(sleeper);
    struct TLeftover {
        QByteArray Name;
        bool Old;
        bool Removed;
    };
    const TLeftover leftovers[] = {
        {".Folder.dnt." + dead + ".0", true, true},
        {".Folder.dnt." + dead + ".1", false, false}, // too young: its writer may be on another machine
        {".Folder.dnt." + alive + ".0", true, false}, // its writer is alive
        {".Folder.dnt." + self + ".1", true, false},  // this process's own
        {".Folder.dnt.bak", true, false},             // not a temporary name
        {".Folder.dnt." + dead + ".x", true, false},
        {".Other.dnt." + dead + ".0", true, false},
        {".FOLDER.DNT." + dead + ".2", true, false}, // another file's
    };
    const timespec hourAgo[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
    for (const TWay way : {TWay::WriteAlone, TWay::ListingThatPrunes, TWay::WriteAfterListing}) {
        SCOPED_TRACE(int(way));
        const QByteArray folder = Dir.MakeDir("way" + QByteArray::number(int(way)));
        const QByteArray path = folder + "/Folder.dnt";
        WriteFileBytes(path, way == TWay::ListingThatPrunes ? kOld : QByteArray("[Files]\r\n"));
        if (way == TWay::ListingThatPrunes)
            WriteFileBytes(folder + "/k", {}); // "old" is stale, "k" described by the write below
        QStringList expected = {QStringLiteral("Folder.dnt")};
        if (way == TWay::ListingThatPrunes)
            expected << QStringLiteral("k");
        for (const TLeftover &leftover : leftovers) {
            const QByteArray file = folder + '/' + leftover.Name;
            WriteFileBytes(file, "left over");
            if (leftover.Old) {
                ASSERT_EQ(::utimensat(AT_FDCWD, file.constData(), hourAgo, 0), 0);
            }
            if (!leftover.Removed)
                expected << QString::fromLatin1(leftover.Name);
        }
        if (way == TWay::WriteAlone) {
            EXPECT_EQ(WriteKey(path, "old", "1"), QByteArray());
        } else {
            const TFolderCatalogue listed = ListAndPruneFolder(folder, {});
            EXPECT_TRUE(listed.Error.isEmpty());
            if (way == TWay::WriteAfterListing) {
                // The write takes the listing's names and does not read the folder again: a
                // leftover that came after the listing waits for the next search.
                const QByteArray late = folder + "/.Folder.dnt." + dead + ".9";
                WriteFileBytes(late, "left over");
                ASSERT_EQ(::utimensat(AT_FDCWD, late.constData(), hourAgo, 0), 0);
                expected << QStringLiteral(".Folder.dnt.") + QString::fromLatin1(dead) + QStringLiteral(".9");
                EXPECT_EQ(WriteKey(path, "old", "1"), QByteArray());
            }
        }
        expected.sort();
        EXPECT_EQ(Entries(folder), expected);
        EXPECT_EQ(ReadFileBytes(path), way == TWay::ListingThatPrunes ? QByteArray("[Files]\r\n") : kOld);
    }
    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
}

namespace {
struct TWriters {
    int Writers;     // processes writing descriptions at once
    bool FolderText; // the first of them saves the folder text instead
};

void PrintTo(const TWriters &w, std::ostream *os)
{
    *os << w.Writers << " writers" << (w.FolderText ? ", one saving the folder text" : "");
}

class ProfileFileWriters : public ::testing::TestWithParam<TWriters> {
protected:
    TTempDir Dir;
};

QList<QByteArray> FolderTextOf(int round)
{
    return {"line one of " + QByteArray::number(round), "line two of " + QByteArray::number(round)};
}
} // namespace

// Processes committing descriptions into one file at once, one of them perhaps saving the
// folder text, and another deleting keys: every write and every deletion is kept.
TEST_P(ProfileFileWriters, WritersAtOnceAndADeleterLoseNothing)
{
    const int kWriters = GetParam().Writers;
    const bool folderText = GetParam().FolderText;
    constexpr int kEach = 100, kDeletes = 100;
    QByteArray seed = "[Files]\r\n";
    for (int i = 0; i < kDeletes; ++i)
        seed += "gone" + QByteArray::number(i) + "=x\r\n";
    const QByteArray path = Dir.WriteFile("Folder.dnt", seed + "[Folders]\r\nkept=y\r\n");
    std::vector<pid_t> children;
    for (int c = 0; c <= kWriters; ++c) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < (c < kWriters ? kEach : kDeletes); ++i) {
                if (c == kWriters) {
                    ProfileFile p(path); // one deletion per accessor: written on release
                    p.DeleteKey("Files", "gone" + QByteArray::number(i));
                } else if (c == 0 && folderText) {
                    try {
                        WriteFolderText(path, FolderTextOf(i));
                    } catch (const TException &) {
                        ++failures;
                    }
                } else {
                    failures += !WriteKey(path, "w" + QByteArray::number(c) + "_" + QByteArray::number(i)).isEmpty();
                }
            }
            ::_exit(failures ? 1 : 0);
        }
        children.push_back(pid);
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write failed";
    }
    ProfileFile p(path);
    const QList<QByteArray> files = p.ReadSection("Files");
    const int keyWriters = folderText ? kWriters - 1 : kWriters;
    EXPECT_EQ(files.size(), keyWriters * kEach);
    for (int c = folderText ? 1 : 0; c < kWriters; ++c)
        for (int i = 0; i < kEach; ++i)
            EXPECT_EQ(p.ReadString("Files", "w" + QByteArray::number(c) + "_" + QByteArray::number(i)), "v");
    EXPECT_FALSE(std::any_of(files.begin(), files.end(), [](const QByteArray &k) { return k.startsWith("gone"); }))
        << "a deletion was dropped";
    EXPECT_EQ(p.ReadString("Folders", "kept"), QByteArray("y"));
    if (folderText) {
        EXPECT_EQ(ReadFolderText(path), FolderTextOf(kEach - 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Processes, ProfileFileWriters,
                         ::testing::Values(TWriters{2, false}, TWriters{4, false}, TWriters{2, true}),
                         [](const auto &test) {
                             return std::to_string(test.param.Writers) + "Writers"
                                    + (test.param.FolderText ? "OneSavingTheFolderText" : "");
                         });

namespace {
// Whether a process waits for an flock on this inode (seen in /proc/locks as "->").
bool WaitsForLock(pid_t pid, ino_t inode)
{
    const QByteArray locks = ReadFileBytes("/proc/locks");
    const QByteArray owner = ' ' + QByteArray::number(pid) + ' ';
    const QByteArray file = ':' + QByteArray::number(qulonglong(inode)) + ' ';
    for (const QByteArray &line : locks.split('\n'))
        if (line.contains("-> FLOCK") && line.contains(owner) && line.contains(file))
            return true;
    return false;
}
} // namespace

// Another writer that replaces the file every time this one has queued for it never makes
// this one give up: it writes once the other stops.
TEST_F(ProfileFileOnDisk, AWriterNeverGivesUpBecauseOthersKeepReplacingTheFile)
{
    const QByteArray path = Dir.WriteFile("Folder.dnt", kOld);
    int held = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    pid_t writer = ::fork();
    if (writer == 0) {
        ::close(held); // the lock belongs to the open file, which the child would share
        ::_exit(WriteKey(path).isEmpty() ? 0 : 1);
    }
    constexpr int kReplacements = 1100; // far more than a writer meets in ordinary use
    int replaced = 0;
    for (; replaced < kReplacements; ++replaced) {
        // Wait until the writer queues on the file held now, then put a new one in its place.
        QElapsedTimer timer;
        timer.start();
        const ino_t inode = StatOf(path).st_ino;
        while (!WaitsForLock(writer, inode) && timer.elapsed() < 5000)
            ::usleep(50);
        if (!WaitsForLock(writer, inode))
            break;
        const QByteArray next = Dir.FilePath("next");
        WriteFileBytes(next, kOld);
        const int nextFd = ::open(next.constData(), O_RDONLY | O_CLOEXEC);
        ::flock(nextFd, LOCK_EX);
        ::rename(next.constData(), path.constData());
        ::close(held);
        held = nextFd;
    }
    EXPECT_EQ(replaced, kReplacements) << "the writer stopped waiting";
    ::close(held);
    if (replaced != kReplacements)
        ::kill(writer, SIGKILL);
    int status = 0;
    ::waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write failed";
    EXPECT_EQ(ReadFileBytes(path), kNew);
}

// A FIFO, a device, a folder in the place of the description file: reading does not hang or
// fill the memory, they read as absent, and a write is refused with the reason.
TEST_F(ProfileFileOnDisk, OnlyRegularFilesAreReadOrWritten)
{
    struct TCase {
        const char *Name;
        std::function<bool(const QByteArray &)> Make;
    };
    const TCase cases[] = {
        {"FIFO", [](const QByteArray &p) { return ::mkfifo(p.constData(), 0644) == 0; }},
        {"link to /dev/zero", [](const QByteArray &p) { return ::symlink("/dev/zero", p.constData()) == 0; }},
        {"folder", [](const QByteArray &p) { return ::mkdir(p.constData(), 0755) == 0; }},
    };
#if defined(__SANITIZE_ADDRESS__)
    constexpr rlim_t kMemory = 0; // the sanitizer reserves more address space than any limit
#else
    constexpr rlim_t kMemory = rlim_t(1) << 31;
#endif
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const QByteArray folder = Dir.MakeDir(QByteArray(c.Name).replace(' ', '_').replace('/', '_'));
        const QByteArray path = folder + "/Folder.dnt";
        ASSERT_TRUE(c.Make(path));
        const struct stat before = StatOf(path, false);
        const TChildRun run = RunInChild(
            [&]() -> QByteArray {
                QByteArray problems;
                ProfileFile p(path);
                if (!p.ReadString("Files", "k").isEmpty() || !p.ReadSection("Files").isEmpty())
                    problems += "read something; ";
                const QByteArray error = WriteKey(path);
                if (error != "Unable to write to " + path + ": it is not a regular file")
                    problems += "write gave \"" + error + "\"; ";
                ListAndPruneFolder(folder);
                return problems;
            },
            20000, std::nullopt, kMemory);
        EXPECT_TRUE(run.Finished) << "hangs";
        EXPECT_EQ(run.ExitCode, 0);
        EXPECT_EQ(run.Report, QByteArray());
        const struct stat after = StatOf(path, false);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
    }
}

TEST_F(ProfileFileOnDisk, AFileLargerThan256MiBIsRefusedNotRead)
{
    const QByteArray path = Dir.WriteFile("Folder.dnt", kOld);
    ASSERT_EQ(::truncate(path.constData(), kMaxFileSize + 1), 0); // sparse: costs no disk
    try {
        ProfileFile(path).ReadString("Files", "old");
        ADD_FAILURE() << "read";
    } catch (const TException &e) {
        EXPECT_EQ(e.Message().toUtf8(), "Unable to read " + path + ": it is larger than 256 MiB");
    }
    EXPECT_EQ(WriteKey(path), "Unable to write to " + path + ": it is larger than 256 MiB");
    EXPECT_EQ(StatOf(path).st_size, kMaxFileSize + 1);
}

// In a chroot or sandbox without /proc an unnamed file cannot get a name: writes use a named
// temporary file instead, both a new file and a replacement.
TEST_F(ProfileFileOnDisk, WritesWorkWithoutProc)
{
    const QByteArray existing = Dir.WriteFile("Folder.dnt", kOld);
    const QByteArray created = Dir.MakeDir("new") + "/Folder.dnt";
    const TChildRun run = RunInChild([&]() -> QByteArray {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("none", "/proc", "tmpfs", 0, nullptr) != 0)
            return "skip";
        try {
            ProfileFile(existing).WriteString("Files", "a.txt", "kept");
            ProfileFile(created).WriteString("Files", "b.txt", "made");
        } catch (const TException &e) {
            return e.Message().toUtf8();
        }
        return {};
    });
    if (run.Report == "skip")
        GTEST_SKIP() << "hiding /proc needs the superuser";
    ASSERT_EQ(run.Report, QByteArray());
    EXPECT_EQ(ProfileFile(existing).ReadString("Files", "a.txt"), QByteArray("kept"));
    EXPECT_EQ(ProfileFile(created).ReadString("Files", "b.txt"), QByteArray("made"));
    for (const QByteArray &folder : {Dir.Path(), Dir.FilePath("new")})
        EXPECT_EQ(QDir(QFile::decodeName(folder)).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("Folder.dnt")})
            << "a temporary file was left";
}
