// SPDX-License-Identifier: GPL-3.0-or-later
// The real program, started as a user starts it (without a display here): one instance per user
// and desktop, a second start handing its folder to the running one and ending.

#include "UiTestSupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <iostream>

using namespace TestSupport;

namespace {
QProcessEnvironment ProgramEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

// A program started by the test and ended by it, whatever the outcome.
class TProgram {
public:
    explicit TProgram(const QByteArrayList &arguments)
    {
        QStringList list;
        for (const QByteArray &argument : arguments)
            list << QString::fromUtf8(argument);
        FProcess.setProcessEnvironment(ProgramEnvironment());
        FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FProcess.start(QString::fromUtf8(ProgramPath()), list);
    }
    ~TProgram()
    {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }
    QProcess &Process() { return FProcess; }

private:
    QProcess FProcess;
};

bool Exists(const QByteArray &path)
{
    return QFileInfo::exists(QString::fromUtf8(path));
}
} // namespace

TEST(RealProgram, ASecondStartHandsItsFolderToTheRunningOneAndEnds)
{
    TTempDir dir;
    const QByteArray first = dir.MakeDir("First");
    const QByteArray second = dir.MakeDir("Second");
    TProgram running({first});
    ASSERT_TRUE(running.Process().waitForStarted(10000));
    // Ready once it has listed its folder and answers on its socket.
    const QString socket = PrevInstServerName(QStringLiteral("TFrmMain"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Exists(first + "/Folder.dnt") && QFileInfo::exists(socket); }, 30000))
        << "the first start never became ready";

    QProcess secondStart;
    secondStart.setProcessEnvironment(ProgramEnvironment());
    QElapsedTimer clock;
    clock.start();
    secondStart.start(QString::fromUtf8(ProgramPath()), {QString::fromUtf8(second)});
    ASSERT_TRUE(secondStart.waitForFinished(20000));
    std::cout << "second start ended after " << clock.elapsed() << " ms\n";
    EXPECT_EQ(secondStart.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(secondStart.exitCode(), 0);
    // The second start ends only once the running one has handled the folder.
    EXPECT_TRUE(Exists(second + "/Folder.dnt"));
    EXPECT_EQ(running.Process().state(), QProcess::Running);

    // A "Folder.dnt" path hands over its folder, as on the command line.
    const QByteArray third = dir.MakeDir("Third");
    secondStart.start(QString::fromUtf8(ProgramPath()), {QString::fromUtf8(third + "/FOLDER.DNT")});
    ASSERT_TRUE(secondStart.waitForFinished(20000));
    EXPECT_EQ(secondStart.exitCode(), 0);
    EXPECT_TRUE(Exists(third + "/Folder.dnt"));
}

// "--help" prints the usage and ends, with no window and no hand-off; "--" ends the options, so a
// file named "--help" is a file like any other, and a file's path lists its folder.
TEST(RealProgram, HelpIsPrintedAndADoubleDashEndsTheOptions)
{
    TTempDir dir;
    const QByteArray first = dir.MakeDir("First");
    const QByteArray here = dir.MakeDir("Here");
    TProgram running({first});
    ASSERT_TRUE(running.Process().waitForStarted(10000));
    const QString socket = PrevInstServerName(QStringLiteral("TFrmMain"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Exists(first + "/Folder.dnt") && QFileInfo::exists(socket); }, 30000))
        << "the first start never became ready";

    QProcess start;
    start.setProcessEnvironment(ProgramEnvironment());
    start.setWorkingDirectory(QString::fromUtf8(here));
    for (const QString &option : {QStringLiteral("--help"), QStringLiteral("-h")}) {
        start.start(QString::fromUtf8(ProgramPath()), {option});
        ASSERT_TRUE(start.waitForFinished(20000));
        EXPECT_EQ(start.exitCode(), 0);
        const QByteArray help = start.readAllStandardOutput();
        EXPECT_TRUE(help.startsWith("Usage: dirnote [--] [FOLDER | FILE | PATH/Folder.dnt]\n")) << help.constData();
        EXPECT_TRUE(help.contains("lists the folder that holds the file, with the cursor on its row"))
            << help.constData();
    }
    // Handed over, "--help" would have listed the folder it was typed in.
    EXPECT_FALSE(Exists(here + "/Folder.dnt"));

    const QByteArray inside = dir.MakeDir("Inside");
    dir.WriteFile("Inside/--help", "x");
    start.setWorkingDirectory(QString::fromUtf8(inside));
    start.start(QString::fromUtf8(ProgramPath()), {QStringLiteral("--"), QStringLiteral("--help")});
    ASSERT_TRUE(start.waitForFinished(20000));
    EXPECT_EQ(start.exitCode(), 0);
    EXPECT_TRUE(start.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(Exists(inside + "/Folder.dnt"));
}
