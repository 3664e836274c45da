// SPDX-License-Identifier: GPL-3.0-or-later
// Writers of the description file killed with SIGKILL at random moments: every write that had
// returned is kept, the file is never half written, and no temporary file outlives the next write.
#include "catalogue/ProfileFile.h"
#include "common/AtomicFile.h"
#include "common/Exceptions.h"

#include "ChildProcess.h"
#include "KillRounds.h"
#include "TestSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

using namespace TestSupport;

namespace {
// Values long enough that a write takes a while, so that kills land inside writes.
QByteArray ValueOf(int i)
{
    return QByteArray::number(i) + ':' + QByteArray(1500, char('a' + i % 26));
}

QByteArray KeyOf(int i)
{
    return "k" + QByteArray::number(i);
}

// The file after the writes 0 .. count - 1.
QByteArray TextAfter(int count)
{
    QByteArray text = "[Files]\r\n";
    for (int i = 0; i < count; ++i)
        text += KeyOf(i) + '=' + ValueOf(i) + "\r\n";
    return text;
}

QByteArray WriteEntry(const QByteArray &path, int i)
{
    try {
        ProfileFile(path).WriteString("Files", KeyOf(i), ValueOf(i));
    } catch (const TException &e) {
        return e.Message().toUtf8();
    }
    return {};
}

enum class TWritePath { Rename, InPlace };

class ProfileFileKilled : public ::testing::TestWithParam<TWritePath> {
protected:
    TTempDir Dir;
};
} // namespace

TEST_P(ProfileFileKilled, EveryWriteThatReturnedIsKeptAndNoTemporaryFileOutlivesTheNextWrite)
{
    const bool inPlace = GetParam() == TWritePath::InPlace;
    const QByteArray folder = Dir.MakeDir("folder");
    const QByteArray path = folder + "/Folder.dnt";
    WriteFileBytes(path, TextAfter(0));
    if (inPlace) { // a second name makes every write a rewrite in place
        ASSERT_EQ(::link(path.constData(), Dir.FilePath("second.dnt").constData()), 0);
    }
    const QByteArray backups = InPlaceBackupFolder();

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // Kills spread over about two writes: the range widens while writers finish nothing and
    // narrows while they finish many.
    double maxDelayUs = 3000;

    int stored = 0; // entries in the file
    int rounds = 0, completed = 0, halves = 0, backdated = 0, staleBackups = 0;
    QStringList waiting; // backdated leftovers, gone once a later writer has written
    QElapsedTimer timer;
    timer.start();
    // On a slow or busy machine (a sanitizer build) the kill delays need more rounds to settle.
    while (timer.elapsed() < 1500 || (rounds < 40 && timer.elapsed() < 15000)) {
        ++rounds;
        const TKilledWriter run = KillWhileWriting(
            stored, [&](int i) { return WriteEntry(path, i); },
            int(std::uniform_real_distribution<>(0, maxDelayUs)(random)));
        ASSERT_EQ(run.Failure, QByteArray()) << "round " << rounds;
        completed += run.Completed;
        maxDelayUs = std::clamp(run.Completed == 0  ? maxDelayUs * 1.25
                                : run.Completed > 2 ? maxDelayUs * 0.8
                                                    : maxDelayUs,
                                500.0, 200000.0);
        const int returned = stored + run.Completed;
        const QByteArray bytes = ReadFileBytes(path);
        const bool torn = bytes != TextAfter(returned) && bytes != TextAfter(returned + 1);
        // Only a rewrite in place can be cut short; its old bytes wait in the cache.
        ASSERT_TRUE(!torn || inPlace) << "round " << rounds << ": the file is neither old nor new, " << bytes.size()
                                      << " bytes";
        halves += torn;
        // The next reader finds the text whole: a rewrite cut short is undone from its backup
        // (as is one killed after its last byte but before it could return).
        const std::optional<QByteArray> read = ReadWholeFile(path);
        ASSERT_TRUE(read.has_value()) << "round " << rounds;
        if (*read == TextAfter(returned + 1)) { // killed before it could report the write
            stored = returned + 1;
        } else {
            ASSERT_EQ(*read, TextAfter(returned)) << "round " << rounds << (torn ? ": torn file" : "");
            stored = returned;
        }
        ASSERT_EQ(ReadFileBytes(path), *read) << "round " << rounds;
        // What is left in the cache is only a backup that never got whole, and the next write
        // removes it.
        for (const QString &backup : OtherEntries(backups, {})) {
            EXPECT_TRUE(backup.endsWith(u".part")) << "round " << rounds << ": " << backup.toStdString();
            ++staleBackups;
        }
        if (run.Completed > 0) {
            for (const QString &leftover : waiting)
                EXPECT_FALSE(QFile::exists(QFile::decodeName(folder) + u'/' + leftover))
                    << "round " << rounds << ": " << leftover.toStdString() << " outlived a write";
            waiting.clear();
        }
        QStringList stray = BackdateLeftovers(folder, "Folder.dnt", run.Pid, &backdated);
        // Leftovers of earlier writers stay until a later writer finishes a write.
        for (const QString &earlier : waiting)
            stray.removeAll(earlier);
        ASSERT_EQ(stray, QStringList()) << "round " << rounds;
        waiting = OtherEntries(folder, "Folder.dnt");
        if (stored > 150) { // keep each round's writes short
            WriteFileBytes(path, TextAfter(0));
            stored = 0;
        }
    }
    // The next write removes what the last writer left.
    const TChildRun last = RunInChild([&] { return WriteEntry(path, stored); });
    EXPECT_EQ(last.Report, QByteArray());
    EXPECT_EQ(ReadFileBytes(path), TextAfter(stored + 1));
    EXPECT_EQ(OtherEntries(folder, "Folder.dnt"), QStringList());
    EXPECT_EQ(OtherEntries(backups, {}), QStringList());
    std::printf("%s: %d rounds killed, %d writes returned and kept, %d half-written files, "
                "%d leftovers removed, %d unfinished backups seen\n",
                inPlace ? "in place" : "rename", rounds, completed, halves, backdated, staleBackups);
    EXPECT_GT(completed, rounds / 2) << "the kills came before most writes could finish";
}

INSTANTIATE_TEST_SUITE_P(BothWritePaths, ProfileFileKilled, ::testing::Values(TWritePath::Rename, TWritePath::InPlace),
                         [](const auto &test) {
                             return std::string(test.param == TWritePath::Rename ? "Rename" : "InPlace");
                         });

namespace {
enum class TNextAccess { Read, Write };
class RewriteCutShort : public ::testing::TestWithParam<TNextAccess> {
protected:
    TTempDir Dir;
};
} // namespace

// A writer killed in the middle of a rewrite in place leaves the file torn, part new and part
// old. Whoever comes next, a reader or a writer, finds the old text whole again.
TEST_P(RewriteCutShort, TheNextReaderOrWriterFindsTheOldTextWhole)
{
    const QByteArray path = Dir.FilePath("Folder.dnt");
    WriteFileBytes(path, {});
    // A second name makes every write a rewrite in place.
    ASSERT_EQ(::link(path.constData(), Dir.FilePath("second.dnt").constData()), 0);
    // Large enough that the rewrite takes a while: the kill has to land inside it.
    constexpr qsizetype kSize = 48 << 20;
    const QByteArray oldText = "[Files]\r\nold=" + QByteArray(kSize, 'a') + "\r\n";
    const QByteArray newText = "[Files]\r\nnew=" + QByteArray(kSize, 'b') + "\r\n";
    const QByteArray backups = InPlaceBackupFolder();
    bool caught = false;
    for (int attempt = 0; attempt < 20 && !caught; ++attempt) {
        WriteFileBytes(path, oldText);
        const pid_t child = ::fork();
        if (child == 0) {
            ReplaceFileLocked(path, [&](const std::optional<QByteArray> &) { return newText; });
            ::_exit(0);
        }
        // Killed as soon as the first new bytes are in the file.
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        char first[10] = {};
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 10000 && !(::pread(fd, first, sizeof first, 0) == sizeof first && first[9] == 'n'))
            ::usleep(20);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ::close(fd);
        // Only a writer that had not finished leaves its backup behind.
        const QStringList kept = OtherEntries(backups, {});
        caught = kept.size() == 1 && !kept[0].endsWith(u".part");
    }
    ASSERT_TRUE(caught) << "no kill landed inside a rewrite";

    if (GetParam() == TNextAccess::Read) {
        const std::optional<QByteArray> read = ReadWholeFile(path);
        ASSERT_TRUE(read.has_value());
        EXPECT_TRUE(*read == oldText) << "the reader got " << read->size() << " bytes, not the old text";
    } else {
        QByteArray seen;
        ASSERT_EQ(ReplaceFileLocked(path,
                                    [&](const std::optional<QByteArray> &current) {
                                        seen = current.value_or(QByteArray());
                                        return std::optional<QByteArray>(current.value_or(QByteArray()) + "next=1\r\n");
                                    }),
                  0);
        EXPECT_TRUE(seen == oldText) << "the writer built on " << seen.size() << " bytes, not the old text";
    }
    EXPECT_TRUE(ReadFileBytes(path).startsWith(oldText)) << "the file was not put back";
    EXPECT_EQ(ReadFileBytes(Dir.FilePath("second.dnt")), ReadFileBytes(path)) << "the hard link lost its text";
    EXPECT_EQ(OtherEntries(backups, {}), QStringList()) << "the backup outlived the repair";
}

INSTANTIATE_TEST_SUITE_P(NextAccess, RewriteCutShort, ::testing::Values(TNextAccess::Read, TNextAccess::Write),
                         [](const auto &test) {
                             return std::string(test.param == TNextAccess::Read ? "Read" : "Write");
                         });
