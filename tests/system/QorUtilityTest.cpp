// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/QorUtility.h"

#include "common/Exceptions.h"

#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>

#include <signal.h>
#include <time.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using TestSupport::MessageLog;
using TestSupport::ReadFileBytes;
using TestSupport::TTempDir;

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
void PrintTo(const QByteArray &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

QString Str(const QByteArray &path)
{
    return QFile::decodeName(path);
}

bool Exists(const QByteArray &path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0;
}

QByteArray WriteScript(const TTempDir &dir, const QByteArray &name, const QByteArray &body)
{
    const QByteArray path = dir.WriteFile(name, "#!/bin/sh\n" + body);
    ::chmod(path.constData(), 0755);
    return path;
}

qint64 ThreadCpuMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Every test starts with no recorded boxes and a stand-in "xdg-open" first in PATH. The stand-in
// writes its working folder and its arguments, one a line, to its log, and ends with the exit
// code that a document's name asks for after ".exit" (no application, file not found, ...).
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MessageLog() = {};
        FLog = FDir.FilePath("xdg-open.log");
        FDir.MakeDir("bin");
        WriteScript(FDir, "bin/xdg-open",
                    "{ pwd -P; for a in \"$@\"; do echo \"$a\"; done; } > '" + FLog
                        + "'\n"
                          "case \"$1\" in *.exit*) exit \"${1##*.exit}\";; esac\n"
                          "exit 0\n");
        FSavedPath = qgetenv("PATH");
        qputenv("PATH", FDir.FilePath("bin") + ':' + FSavedPath);
    }
    void TearDown() override { qputenv("PATH", FSavedPath); }

    QByteArrayList XdgOpenLog() const
    {
        QByteArray log = ReadFileBytes(FLog);
        log.chop(1);
        return log.isEmpty() ? QByteArrayList() : log.split('\n');
    }
    QByteArray RealPath(const QByteArray &path) const
    {
        return QFile::encodeName(QFileInfo(Str(path)).canonicalFilePath());
    }

    TTempDir FDir;
    QByteArray FLog;
    QByteArray FSavedPath;
};

constexpr TProcessHandle Untouched = 77;

TEST_F(ShellTest, DocumentOpensWithItsFolderOrTheGivenOneAsWorkingFolder)
{
    FDir.MakeDir("docs");
    FDir.MakeDir("elsewhere");
    const QByteArray document = FDir.WriteFile("docs/Read me.txt", "text");
    for (const QByteArray &given : {QByteArray(), FDir.FilePath("elsewhere")}) {
        SCOPED_TRACE(given.toStdString());
        TProcessHandle handle = Untouched;
        const int result = ExecuteFile(document, {}, given, false, handle, SW_SHOWNORMAL, false);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(handle, 0); // no handle is asked for without waiting
        const QByteArray folder = given.isEmpty() ? FDir.FilePath("docs") : given;
        EXPECT_EQ(XdgOpenLog(), QByteArrayList({RealPath(folder), document}));
        EXPECT_TRUE(MessageLog().Requests.empty());
    }
}

// What xdg-open reports (2 file not found, 3 no application, 4 the desktop's tool failed, as for a
// type without application, 5 no permission) becomes the failure result and an error box naming
// the file.
TEST_F(ShellTest, FailureOfTheDesktopOpenerGivesFailureAndABox)
{
    for (const int code : {2, 3, 4, 5}) {
        SCOPED_TRACE(code);
        MessageLog() = {};
        const QByteArray document = FDir.WriteFile("file.exit" + QByteArray::number(code), "x");
        for (const bool wait : {false, true}) {
            TProcessHandle handle = Untouched;
            EXPECT_EQ(ExecuteFile(document, {}, {}, wait, handle, SW_SHOWNORMAL, false), ExecuteFileFailed);
            EXPECT_EQ(handle, Untouched);
        }
        ASSERT_EQ(MessageLog().Requests.size(), 2u);
        const TMessageDlgRequest &box = MessageLog().Requests.front();
        EXPECT_EQ(box.Type, TMsgDlgType::mtError);
        EXPECT_EQ(box.Caption, QStringLiteral("Error"));
        EXPECT_TRUE(box.Text.contains(Str(document))) << box.Text.toStdString();
        if (code == 3 || code == 4) {
            EXPECT_TRUE(box.Text.contains(QStringLiteral("no application"))) << box.Text.toStdString();
        }
    }
}

TEST_F(ShellTest, MissingFileIsNotHandedOnAndShowsABox)
{
    TProcessHandle handle = Untouched;
    EXPECT_EQ(ExecuteFile(FDir.FilePath("absent.txt"), {}, {}, false, handle, SW_SHOWNORMAL, false), ExecuteFileFailed);
    EXPECT_EQ(handle, Untouched);
    EXPECT_FALSE(Exists(FLog));
    ASSERT_EQ(MessageLog().Requests.size(), 1u);
    EXPECT_TRUE(MessageLog().Requests[0].Text.contains(QStringLiteral("absent.txt")));
}

TEST_F(ShellTest, ProgramStartsDirectlyWithSplitParametersAndWaitingGivesItsExitCode)
{
    FDir.MakeDir("tools");
    const QByteArray record = FDir.FilePath("program.log");
    const QByteArray program = WriteScript(
        FDir, "tools/prog", "{ pwd -P; for a in \"$@\"; do echo \"$a\"; done; } > '" + record + "'\nexit 3\n");
    TProcessHandle handle = Untouched;
    EXPECT_EQ(ExecuteFile(program, QStringLiteral("one \"two words\""), {}, true, handle, SW_SHOWNORMAL, false), 3);
    EXPECT_GT(handle, 0);
    EXPECT_NE(handle, Untouched);
    EXPECT_EQ(ReadFileBytes(record), RealPath(FDir.FilePath("tools")) + "\none\ntwo words\n");
    EXPECT_FALSE(Exists(FLog)); // not handed to the desktop's opener
    EXPECT_TRUE(MessageLog().Requests.empty());
}

// A program named without a folder is the one in the current folder, never one found in PATH.
TEST_F(ShellTest, ProgramWithoutFolderIsNotLookedUpInPath)
{
    FDir.MakeDir("here");
    WriteScript(FDir, "here/tool", "exit 4\n");
    WriteScript(FDir, "bin/tool", "exit 6\n");
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Str(FDir.FilePath("here"))));
    TProcessHandle handle = Untouched;
    const int result = ExecuteFile("tool", {}, {}, true, handle, SW_SHOWNORMAL, false);
    QDir::setCurrent(saved);
    EXPECT_EQ(result, 4);
}

// A file marked executable that is no program (as every file on some mounted volumes) is a
// document; a program that cannot start is a failure with a box.
TEST_F(ShellTest, ExecutableMarkedFilesThatAreNoProgram)
{
    const QByteArray notProgram = FDir.WriteFile("notes.txt", "just text\n");
    ::chmod(notProgram.constData(), 0755);
    TProcessHandle handle = Untouched;
    EXPECT_EQ(ExecuteFile(notProgram, {}, {}, false, handle, SW_SHOWNORMAL, false), 0);
    EXPECT_EQ(XdgOpenLog().value(1), notProgram);

    const QByteArray broken = FDir.WriteFile("broken", "#!/nonexistent/interpreter\n");
    ::chmod(broken.constData(), 0755);
    handle = Untouched;
    EXPECT_EQ(ExecuteFile(broken, {}, {}, true, handle, SW_SHOWNORMAL, false), ExecuteFileFailed);
    EXPECT_EQ(handle, Untouched);
    ASSERT_EQ(MessageLog().Requests.size(), 1u);
    EXPECT_TRUE(MessageLog().Requests[0].Text.contains(Str(broken)));
}

TEST_F(ShellTest, WaitKeepsHandlingEventsAndStartingWithoutWaitDoesNotWait)
{
    const QByteArray release = FDir.FilePath("release");
    // Ends once the test creates "release", or after 20 s with another code.
    const QByteArray program = WriteScript(FDir, "held",
                                           "i=0; while [ ! -e '" + release
                                               + "' ]; do i=$((i+1)); [ $i -gt 400 ] && exit 9; "
                                                 "sleep 0.05; done; exit 5\n");

    TProcessHandle handle = Untouched;
    EXPECT_EQ(ExecuteFile(program, {}, {}, false, handle, SW_SHOWNORMAL, false), 0);
    EXPECT_FALSE(Exists(release)); // returned while the program still runs
    TestSupport::WriteFileBytes(release, "");
    ::unlink(release.constData());

    // The release comes from a timer, which only fires if events are handled during the wait;
    // meanwhile the waiting thread pauses between its looks instead of keeping a core busy.
    QTimer::singleShot(300, [&] { TestSupport::WriteFileBytes(release, ""); });
    QElapsedTimer wall;
    wall.start();
    const qint64 cpuBefore = ThreadCpuMs();
    EXPECT_EQ(ExecuteFile(program, {}, {}, true, handle, SW_SHOWNORMAL, false), 5);
    EXPECT_LT(ThreadCpuMs() - cpuBefore, wall.elapsed() / 8) << "of " << wall.elapsed() << " ms";
}

TEST_F(ShellTest, QuittingTheApplicationEndsTheWaitWith259AndTheProgramGoesOn)
{
    const QByteArray program = WriteScript(FDir, "long", "exec sleep 60\n");
    TProcessHandle handle = Untouched;
    int result = 0;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(200, [] { QCoreApplication::quit(); });
        result = ExecuteFile(program, {}, {}, true, handle, SW_SHOWNORMAL, false);
    });
    QApplication::exec();
    EXPECT_EQ(result, StillActive);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(::kill(pid_t(handle), 0), 0) << "the program was stopped";
    ::kill(pid_t(handle), SIGKILL);
}

// An error raised during the wait (here: an event handler collects the process before the wait
// can, so its exit code is lost) reaches the caller, or is swallowed on request.
TEST_F(ShellTest, ErrorDuringTheWaitPassesOnUnlessSuppressed)
{
    const QByteArray pidFile = FDir.FilePath("pid");
    const QByteArray program = WriteScript(FDir, "short", "echo $$ > '" + pidFile + "'; sleep 0.3; exit 0\n");
    for (const bool suppress : {false, true}) {
        SCOPED_TRACE(suppress);
        ::unlink(pidFile.constData());
        QTimer thief;
        QObject::connect(&thief, &QTimer::timeout, [&] {
            const QByteArray pid = ReadFileBytes(pidFile).trimmed();
            int status = 0;
            if (!pid.isEmpty() && ::waitpid(pid_t(pid.toLongLong()), &status, 0) > 0)
                thief.stop();
        });
        thief.start(1);
        TProcessHandle handle = Untouched;
        if (suppress) {
            EXPECT_EQ(ExecuteFile(program, {}, {}, true, handle, SW_SHOWNORMAL, true), ExecuteFileFailed);
        } else {
            EXPECT_THROW(ExecuteFile(program, {}, {}, true, handle, SW_SHOWNORMAL, false), TOSError);
        }
        EXPECT_EQ(handle, Untouched);
    }
}

// ---------------------------------------------------------------------------------------------

// The trash of this test process, as a file manager finds it.
QByteArray TrashDir()
{
    return qgetenv("XDG_DATA_HOME") + "/Trash";
}

// Where the trash keeps what was deleted from original, found through the .trashinfo files.
std::optional<QByteArray> FindInTrash(const QByteArray &original)
{
    QDirIterator it(Str(TrashDir() + "/info"), {QStringLiteral("*.trashinfo")}, QDir::Files);
    while (it.hasNext()) {
        const QString info = it.next();
        QSettings settings(info, QSettings::IniFormat);
        const QByteArray path = QByteArray::fromPercentEncoding(
            settings.value(QStringLiteral("Trash Info/Path")).toString().toUtf8());
        if (path == original && !settings.value(QStringLiteral("Trash Info/DeletionDate")).toString().isEmpty())
            return TrashDir() + "/files/" + QFile::encodeName(it.fileInfo().completeBaseName());
    }
    return std::nullopt;
}

// Folder "Old" with a file, a subfolder with a file, and a link to a folder outside it.
struct TTree {
    explicit TTree(const TTempDir &dir)
    {
        dir.MakeDir("outside");
        Outside = dir.WriteFile("outside/keep.txt", "keep");
        Root = dir.MakeDir("Old");
        dir.MakeDir("Old/sub");
        dir.WriteFile("Old/top.txt", "top");
        dir.WriteFile("Old/sub/deep.txt", "deep");
        ::symlink(dir.FilePath("outside").constData(), dir.FilePath("Old/link").constData());
    }
    QByteArray Root;
    QByteArray Outside;
};

// Whole folder and contents only, to the trash.
TEST_F(ShellTest, DeletedFolderGoesToTheTrashWithItsContent)
{
    TTree tree(FDir);
    ASSERT_TRUE(DeleteFolderTree(tree.Root + "/", false));
    EXPECT_FALSE(Exists(tree.Root));
    const std::optional<QByteArray> trashed = FindInTrash(tree.Root);
    ASSERT_TRUE(trashed) << "no .trashinfo names " << tree.Root.toStdString();
    EXPECT_EQ(ReadFileBytes(*trashed + "/sub/deep.txt"), "deep");
    EXPECT_EQ(ReadFileBytes(*trashed + "/top.txt"), "top");
    EXPECT_EQ(ReadFileBytes(tree.Outside), "keep");
}

TEST_F(ShellTest, ContentsOnlyKeepsTheEmptyFolderAndTrashesWhatWasInside)
{
    TTree tree(FDir);
    ASSERT_TRUE(DeleteFolderTree(tree.Root + "/", true));
    EXPECT_TRUE(QDir(Str(tree.Root)).exists());
    EXPECT_TRUE(QDir(Str(tree.Root)).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    const std::optional<QByteArray> sub = FindInTrash(tree.Root + "/sub");
    ASSERT_TRUE(sub);
    EXPECT_EQ(ReadFileBytes(*sub + "/deep.txt"), "deep");
    EXPECT_TRUE(FindInTrash(tree.Root + "/top.txt"));
    EXPECT_EQ(ReadFileBytes(tree.Outside), "keep");
}

TEST_F(ShellTest, WhatIsNoFolderIsLeftAlone)
{
    const QByteArray file = FDir.WriteFile("plain.txt", "plain");
    ::symlink("nowhere", FDir.FilePath("dangling").constData());
    for (const bool contentsOnly : {false, true}) {
        EXPECT_FALSE(DeleteFolderTree(FDir.FilePath("missing"), contentsOnly));
        EXPECT_FALSE(DeleteFolderTree(FDir.FilePath("missing") + "/", contentsOnly));
        EXPECT_FALSE(DeleteFolderTree({}, contentsOnly));
        EXPECT_FALSE(DeleteFolderTree(file, contentsOnly));
        EXPECT_FALSE(DeleteFolderTree(FDir.FilePath("dangling"), contentsOnly));
        EXPECT_FALSE(DeleteFolderTreeForGood(file, contentsOnly));
    }
    EXPECT_EQ(ReadFileBytes(file), "plain");
    EXPECT_TRUE(Exists(FDir.FilePath("dangling")));
    EXPECT_FALSE(FindInTrash(file));
}

TEST_F(ShellTest, LinkToAFolderIsDeletedAsALink)
{
    TTree tree(FDir);
    const QByteArray link = FDir.FilePath("linked");
    ASSERT_EQ(::symlink(tree.Root.constData(), link.constData()), 0);
    EXPECT_FALSE(DeleteFolderTree(link + "/", true));
    EXPECT_EQ(ReadFileBytes(tree.Root + "/top.txt"), "top");
    EXPECT_TRUE(DeleteFolderTree(link + "/", false));
    EXPECT_FALSE(Exists(link));
    EXPECT_EQ(ReadFileBytes(tree.Root + "/sub/deep.txt"), "deep");
}

// A name that is not text in the locale's encoding cannot be handed to the trash; rather than
// delete it for good, nothing is touched.
TEST_F(ShellTest, NameTheTrashCannotTakeLeavesEverythingInPlace)
{
    const QByteArray odd = FDir.MakeDir("caf\xe9");
    FDir.WriteFile("caf\xe9/inside.txt", "inside");
    const QByteArray holder = FDir.MakeDir("holder");
    FDir.WriteFile("holder/z\xff.txt", "z");
    for (char c = 'a'; c < 'k'; ++c)
        FDir.WriteFile("holder/" + QByteArray(1, c), "plain");
    EXPECT_FALSE(DeleteFolderTree(odd, false));
    EXPECT_EQ(ReadFileBytes(odd + "/inside.txt"), "inside");
    EXPECT_FALSE(DeleteFolderTree(holder, true));
    EXPECT_EQ(ReadFileBytes(holder + "/z\xff.txt"), "z");
    for (char c = 'a'; c < 'k'; ++c)
        EXPECT_EQ(ReadFileBytes(holder + "/" + QByteArray(1, c)), "plain") << c;
}

// A folder that holds the user's own trash cannot move into it; that is no reason to delete it
// for good.
TEST_F(ShellTest, FolderHoldingTheTrashIsNotDeletedForGood)
{
    TTree tree(FDir);
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", FDir.MakeDir("Old/sub/data"));
    const bool deleted = DeleteFolderTree(tree.Root, false);
    qputenv("XDG_DATA_HOME", savedData);
    EXPECT_FALSE(deleted);
    EXPECT_EQ(ReadFileBytes(tree.Root + "/sub/deep.txt"), "deep");
    EXPECT_EQ(ReadFileBytes(tree.Root + "/top.txt"), "top");
}

// Where the folder cannot be taken out of its parent, deleting it for good would only empty it
// before failing: nothing is touched.
TEST_F(ShellTest, FolderInAReadOnlyParentIsLeftWhole)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may remove entries from any folder";
    const QByteArray parent = FDir.MakeDir("locked");
    const QByteArray folder = FDir.MakeDir("locked/Old");
    FDir.WriteFile("locked/Old/file.txt", "file");
    ::chmod(parent.constData(), 0555);
    EXPECT_FALSE(DeleteFolderTree(folder, false));
    EXPECT_FALSE(DeleteFolderTreeForGood(folder, false));
    ::chmod(parent.constData(), 0755);
    EXPECT_EQ(ReadFileBytes(folder + "/file.txt"), "file");
}

// Where the trash is on another volume (here: the data folder on a memory file system), the
// rename into it cannot work and the folder is deleted for good.
class NoTrashTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        FSavedData = qgetenv("XDG_DATA_HOME");
        FOtherVolume.emplace(QStringLiteral("/dev/shm/dirnote-test-XXXXXX"));
        struct stat shm {
        }, here{};
        if (!FOtherVolume->isValid() || ::stat("/dev/shm", &shm) != 0 || ::stat(FDir.Path().constData(), &here) != 0
            || shm.st_dev == here.st_dev)
            GTEST_SKIP() << "needs /dev/shm on a volume of its own";
        qputenv("XDG_DATA_HOME", QFile::encodeName(FOtherVolume->path()));
    }
    void TearDown() override
    {
        qputenv("XDG_DATA_HOME", FSavedData);
        ShellTest::TearDown();
    }
    QByteArray FSavedData;
    std::optional<QTemporaryDir> FOtherVolume;
};

TEST_F(NoTrashTest, FolderIsDeletedForGoodWithoutFollowingLinks)
{
    for (const bool contentsOnly : {false, true}) {
        SCOPED_TRACE(contentsOnly);
        TTree tree(FDir);
        ASSERT_TRUE(DeleteFolderTree(tree.Root, contentsOnly));
        EXPECT_EQ(QDir(Str(tree.Root)).exists(), contentsOnly);
        EXPECT_FALSE(Exists(tree.Root + "/top.txt"));
        EXPECT_FALSE(Exists(tree.Root + "/sub"));
        EXPECT_FALSE(Exists(tree.Root + "/link"));
        EXPECT_EQ(ReadFileBytes(tree.Outside), "keep");
        EXPECT_FALSE(FindInTrash(tree.Root));
        ::rmdir(tree.Root.constData());
    }
}

// The progress dialog's Cancel stops the deletion part-way: false, and the rest stays.
TEST_F(ShellTest, CancelledDeletionForGoodGivesFalseAndLeavesTheRest)
{
    const QByteArray root = FDir.MakeDir("Many");
    for (int i = 0; i < 50; ++i)
        FDir.WriteFile("Many/f" + QByteArray::number(i), "x");
    bool cancelled = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *dialog = qobject_cast<QProgressDialog *>(widget); dialog && dialog->isVisible()) {
                dialog->cancel();
                cancelled = true;
            }
    });
    watcher.start(0);
    EXPECT_FALSE(DeleteFolderTreeForGood(root, false, 0));
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(QDir(Str(root)).exists());
    EXPECT_FALSE(QDir(Str(root)).isEmpty());
}

} // namespace
