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
    while (timer.elapsed() < 1500) {
        ++rounds;
        const TKilledWriter run = KillWhileWriting(stored, [&](int i) { return WriteEntry(path, i); },
                                                   int(std::uniform_real_distribution<>(0, maxDelayUs)(random)));
        ASSERT_EQ(run.Failure, QByteArray()) << "round " << rounds;
        completed += run.Completed;
        maxDelayUs = std::clamp(run.Completed == 0 ? maxDelayUs * 1.25 : run.Completed > 2 ? maxDelayUs * 0.8 : maxDelayUs,
                                500.0, 200000.0);
        const int returned = stored + run.Completed;
        const QByteArray bytes = ReadFileBytes(path);
        if (bytes == TextAfter(returned)) {
            stored = returned;
        } else if (bytes == TextAfter(returned + 1)) { // killed before it could report the write
            stored = returned + 1;
        } else {
            // Only a rewrite in place can be cut short; its old bytes wait in the cache.
            ++halves;
            ASSERT_TRUE(inPlace) << "round " << rounds << ": the file is neither old nor new, "
                                 << bytes.size() << " bytes";
            const QStringList kept = OtherEntries(backups, {});
            ASSERT_EQ(kept.size(), 1) << "round " << rounds << ": a half-written file without its backup";
            ASSERT_EQ(ReadFileBytes(backups + '/' + QFile::encodeName(kept[0])), TextAfter(returned));
            WriteFileBytes(path, TextAfter(returned)); // as the user would put it back
            stored = returned;
        }
        // A backup outlives a writer killed before it could remove it; it holds (a part of) the
        // old bytes of a file that is whole.
        for (const QString &backup : OtherEntries(backups, {})) {
            const QByteArray backupPath = backups + '/' + QFile::encodeName(backup);
            const QByteArray old = ReadFileBytes(backupPath);
            EXPECT_TRUE(TextAfter(stored).startsWith(old) || TextAfter(stored - 1).startsWith(old))
                << "round " << rounds << ": a backup of " << old.size() << " bytes";
            ++staleBackups;
            ::unlink(backupPath.constData());
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
    std::printf("%s: %d rounds killed, %d writes returned and kept, %d half-written files, "
                "%d leftovers removed, %d backups outlived their writer\n",
                inPlace ? "in place" : "rename", rounds, completed, halves, backdated, staleBackups);
    EXPECT_GT(completed, rounds / 2) << "the kills came before most writes could finish";
}

INSTANTIATE_TEST_SUITE_P(BothWritePaths, ProfileFileKilled,
                         ::testing::Values(TWritePath::Rename, TWritePath::InPlace),
                         [](const auto &test) {
                             return std::string(test.param == TWritePath::Rename ? "Rename" : "InPlace");
                         });
