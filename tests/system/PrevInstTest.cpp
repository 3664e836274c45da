// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/QorPrevInst.h"

#include "common/Exceptions.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <iostream>
#include <thread>

#include <memory>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using TestSupport::TTempDir;

namespace {

const QString ClassName = QStringLiteral("TFrmMain");
constexpr qint32 AppId = 123458;

// Spins the event loop until the condition holds or the time is up.
bool WaitFor(const std::function<bool()> &condition, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Each test gets its own session folder, shared by all the processes it starts.
class PrevInstTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSavedRuntime = qgetenv("XDG_RUNTIME_DIR");
        FSavedTemp = qgetenv("TMPDIR");
        const QByteArray runtime = FDir.MakeDir("runtime");
        QFile::setPermissions(QFile::decodeName(runtime),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime);
        // The fallback socket folder is made under the temporary folder: this test's own.
        qputenv("TMPDIR", FDir.MakeDir("tmp"));
    }
    void TearDown() override
    {
        qputenv("XDG_RUNTIME_DIR", FSavedRuntime);
        if (FSavedTemp.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", FSavedTemp);
    }

    TTempDir FDir;

private:
    QByteArray FSavedRuntime;
    QByteArray FSavedTemp;
};

// One run of the stand-in main window program.
class TStandIn {
public:
    explicit TStandIn(bool minimized = false)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (minimized)
            environment.insert(QStringLiteral("DN_STANDIN_MINIMIZED"), QStringLiteral("1"));
        FProcess.setProcessEnvironment(environment);
        QObject::connect(&FProcess, &QProcess::readyReadStandardOutput,
                         [this] { FOutput += FProcess.readAllStandardOutput(); });
    }
    ~TStandIn()
    {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.closeWriteChannel();
            if (!FProcess.waitForFinished(5000))
                FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }

    // Typed in `folder`: the process starts there.
    void StartIn(const QByteArray &folder, const QByteArrayList &arguments)
    {
        FProcess.setWorkingDirectory(QFile::decodeName(folder));
        Start(arguments);
    }
    void Start(const QByteArrayList &arguments)
    {
        QStringList list;
        for (const QByteArray &a : arguments)
            list << QFile::decodeName(a);
        FProcess.start(TestSupport::BuiltProgram("tests/previnst_standin"), list);
        FProcess.waitForStarted(5000);
    }
    // Starts it in folder with "--" and one argument of any bytes. The argument list of a
    // QProcess is text, which cannot carry bytes that are not UTF-8: a shell turns the argument's
    // octal escapes back into its bytes, a final line feed included.
    void StartWithBytes(const QByteArray &folder, const QByteArray &argument)
    {
        QByteArray escaped;
        for (const char c : argument)
            escaped += '\\' + QByteArray::number(static_cast<unsigned char>(c), 8).rightJustified(3, '0');
        FProcess.setWorkingDirectory(QFile::decodeName(folder));
        FProcess.start(QStringLiteral("/bin/sh"),
                       {QStringLiteral("-c"), QStringLiteral("a=$(printf \"$1\"; echo x); exec \"$0\" -- \"${a%x}\""),
                        TestSupport::BuiltProgram("tests/previnst_standin"), QString::fromLatin1(escaped)});
        FProcess.waitForStarted(5000);
    }
    // Starts and waits until the instance answers hand-offs.
    void StartInstance(const QByteArrayList &arguments)
    {
        Start(arguments);
        ASSERT_TRUE(WaitForLine("READY ")) << FOutput.constData();
    }
    // Waits for the program to end; its exit code, or -1 when it did not end.
    int Finish(int timeoutMs = 10000)
    {
        if (!WaitFor([this] { return FProcess.state() == QProcess::NotRunning; }, timeoutMs))
            return -1;
        FOutput += FProcess.readAllStandardOutput();
        return FProcess.exitStatus() == QProcess::NormalExit ? FProcess.exitCode() : -1;
    }
    bool WaitForLine(const QByteArray &line, int timeoutMs = 10000)
    {
        return WaitFor([&] { return HasLine(line); }, timeoutMs);
    }
    bool HasExactLine(const QByteArray &line) const { return FOutput.split('\n').contains(line); }
    bool HasLine(const QByteArray &line) const
    {
        const QByteArrayList lines = FOutput.split('\n');
        return std::any_of(lines.begin(), lines.end(), [&](const QByteArray &l) { return l.startsWith(line); });
    }
    QByteArray Output() const { return FOutput; }
    QByteArray Errors() { return FProcess.readAllStandardError(); }
    void Send(const QByteArray &line) { FProcess.write(line + '\n'); }
    void Crash()
    {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }

private:
    QProcess FProcess;
    QByteArray FOutput;
};

// A handler that records what reached the instance.
class TRecordingHandler : public TPrevInstHandler {
public:
    void PrevInstRestore() override { ++Restores; }
    void PrevInstParm(const QByteArray &text) override
    {
        if (OnParm)
            OnParm();
        Texts.append(text);
    }
    int Restores = 0;
    QByteArrayList Texts;
    std::function<void()> OnParm;
};

// An instance served by this thread's event loop, keeping each peer at most `peerTimeout`.
struct TInstance {
    explicit TInstance(std::chrono::milliseconds peerTimeout = QorPrevInst::SendTimeout)
    {
        Server.SetPeerTimeout(peerTimeout);
    }
    TRecordingHandler Handler;
    TPrevInstServer Server{ClassName, AppId, &Handler};
};

// Runs the sending half on a thread of its own, as a second process would, while this thread's
// event loop serves the instance.
struct TSender {
    std::thread Thread;
    std::atomic<bool> Done{false};
    TPrevInstOutcome Outcome = TPrevInstOutcome::NoInstance;
    QString Error;

    explicit TSender(const QByteArrayList &arguments)
    {
        Thread = std::thread([this, arguments] {
            try {
                Outcome = HandOffToPrevInstance(ClassName, AppId, arguments);
            } catch (const TException &e) {
                Error = e.Message();
            }
            Done = true;
        });
    }
    ~TSender() { Thread.join(); }
    bool Wait()
    {
        return WaitFor([this] { return Done.load(); });
    }
};

// A peer that speaks the raw protocol over a plain socket, as a stray or hostile program would.
// Sends never raise SIGPIPE; a send that fails means the instance has closed the connection.
class TRawPeer {
public:
    explicit TRawPeer(const QString &name)
    {
        FFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const timeval timeout{10, 0};
        ::setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(name);
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        Connected = ::connect(FFd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    }
    ~TRawPeer() { Close(); }
    TRawPeer(const TRawPeer &) = delete;
    TRawPeer &operator=(const TRawPeer &) = delete;

    bool Send(const QByteArray &bytes)
    {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::send(FFd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }
    void Close()
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }

    bool Connected = false;

private:
    int FFd = -1;
};

QByteArray GetIdLines(int count)
{
    return (QByteArray(QorPrevInst::MsgGetID) + '\n').repeated(count);
}

// Peers that stay connected and send a byte of a request every few milliseconds.
struct TTricklingPeers {
    TTricklingPeers(const QString &name, int count)
    {
        for (int i = 0; i < count; ++i)
            Peers.push_back(std::make_unique<TRawPeer>(name));
    }
    // One byte more from each peer still connected; the number of peers still connected.
    int Trickle()
    {
        const QByteArray request = GetIdLines(1);
        const char byte = request[Sent++ % request.size()];
        int open = 0;
        for (auto &peer : Peers)
            if (peer->Connected && (peer->Connected = peer->Send(QByteArray(1, byte))))
                ++open;
        return open;
    }
    std::vector<std::unique_ptr<TRawPeer>> Peers;
    qsizetype Sent = 0;
};

} // namespace

// --- the two halves in one process -----------------------------------------------------------

TEST(PrevInstText, ArgumentsJoinedAndTrimmed)
{
    EXPECT_EQ(JoinPrevInstArguments({"a", "b c"}), QByteArray("a b c"));
    EXPECT_EQ(JoinPrevInstArguments({"/home/u/My", "Folder/Folder.dnt"}), QByteArray("/home/u/My Folder/Folder.dnt"));
    EXPECT_EQ(JoinPrevInstArguments({"\t x", "y \n\r"}), QByteArray("x y"));
    EXPECT_EQ(JoinPrevInstArguments({"  ", ""}), QByteArray());
    EXPECT_EQ(JoinPrevInstArguments({}), QByteArray());
    // One argument is one path: a name's blanks stay.
    EXPECT_EQ(JoinPrevInstArguments({" name \n"}), QByteArray(" name \n"));
}

TEST(PrevInstText, PathsBecomeAbsoluteAndClean)
{
    const struct {
        QByteArray Path, Base, Expected;
    } cases[] = {
        {"alpha", "/home/u/Projects", "/home/u/Projects/alpha"},
        {"alpha/", "/home/u/Projects/", "/home/u/Projects/alpha"},
        {"./alpha//beta/.", "/p", "/p/alpha/beta"},
        {"../x", "/home/u", "/home/x"},
        {"../../../..", "/home/u", "/"},
        {"/abs//./a/../b/", "/ignored", "/abs/b"},
        {"/", "/p", "/"},
        {".", "/p", "/p"},
        {"a b/\xff\xfe name/Folder.dnt", "/p", "/p/a b/\xff\xfe name/Folder.dnt"}, // bytes kept
        {"...", "/p", "/p/..."},
        {"", "/p", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(AbsolutePath(c.Path, c.Base), c.Expected) << c.Path.constData() << " in " << c.Base.constData();
}

TEST_F(PrevInstTest, SocketIsPrivateAndNamedForUserAndDisplay)
{
    const QString name = PrevInstServerName(QStringLiteral("tfrmMAIN"));
    EXPECT_EQ(name, PrevInstServerName(ClassName)); // class name without regard to case
    EXPECT_TRUE(name.startsWith(QFile::decodeName(qgetenv("XDG_RUNTIME_DIR")) + u'/'));
    EXPECT_TRUE(name.contains(QString::number(::getuid())));
    EXPECT_NE(PrevInstServerName(ClassName, 1), name);
    const QByteArray savedDisplay = qgetenv("DISPLAY");
    const QByteArray savedWayland = qgetenv("WAYLAND_DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("DISPLAY", ":7.0");
    const QString onScreen0 = PrevInstServerName(ClassName);
    qputenv("DISPLAY", ":7");
    EXPECT_EQ(PrevInstServerName(ClassName), onScreen0); // the same desktop
    qputenv("DISPLAY", ":8");
    EXPECT_NE(PrevInstServerName(ClassName), onScreen0); // another desktop
    qputenv("DISPLAY", savedDisplay);
    qputenv("WAYLAND_DISPLAY", savedWayland);
    if (savedWayland.isEmpty())
        qunsetenv("WAYLAND_DISPLAY");

    TRecordingHandler handler;
    TPrevInstServer server(ClassName, AppId, &handler);
    ASSERT_TRUE(server.Listen()) << server.ErrorString().toStdString();
    EXPECT_EQ(server.ServerName(), name);
    EXPECT_EQ(
        QFile::permissions(name)
            & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther),
        QFileDevice::Permissions());

    // A session folder others can enter is not used; a private one of our own takes its place.
    QFile::setPermissions(QFile::decodeName(qgetenv("XDG_RUNTIME_DIR")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                              | QFileDevice::ReadOther | QFileDevice::ExeOther);
    const QString fallback = PrevInstSocketFolder();
    EXPECT_FALSE(fallback.startsWith(QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"))));
    EXPECT_EQ(QFile::permissions(fallback)
                  & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadUser
                      | QFileDevice::WriteUser | QFileDevice::ExeUser),
              QFileDevice::Permissions());
}

TEST_F(PrevInstTest, SenderWaitsUntilTheTextIsHandled)
{
    TInstance instance;
    auto &[handler, server] = instance;
    ASSERT_TRUE(server.Listen());

    // The sender has written its text and waits for the answer that follows the handler.
    std::atomic<bool> senderDoneDuringHandler{false};
    TSender *sender = nullptr;
    handler.OnParm = [&] { senderDoneDuringHandler = sender->Done.load(); };
    TSender s({"/x/My", "Folder/"});
    sender = &s;
    ASSERT_TRUE(s.Wait());
    EXPECT_EQ(s.Outcome, TPrevInstOutcome::HandedOver);
    EXPECT_FALSE(senderDoneDuringHandler.load());
    EXPECT_EQ(handler.Restores, 1);
    EXPECT_EQ(handler.Texts, QByteArrayList{"/x/My Folder/"});
}

TEST_F(PrevInstTest, LimitCountsCharactersNotBytes)
{
    TInstance instance;
    auto &[handler, server] = instance;
    ASSERT_TRUE(server.Listen());
    const QByteArray longest = QString(255, QChar(0xE6)).toUtf8(); // 510 bytes
    TSender fits({longest});
    ASSERT_TRUE(fits.Wait());
    EXPECT_TRUE(fits.Error.isEmpty()) << fits.Error.toStdString();
    EXPECT_EQ(handler.Texts, QByteArrayList{longest});

    TSender over({longest + 'x'});
    ASSERT_TRUE(over.Wait());
    EXPECT_TRUE(over.Error.startsWith(QStringLiteral("System Error.  Code: ")));
    EXPECT_EQ(handler.Texts.size(), 1);
}

TEST_F(PrevInstTest, MisbehavingPeersAreDroppedWithoutHarm)
{
    TInstance instance{std::chrono::milliseconds(300)};
    auto &[handler, server] = instance;
    ASSERT_TRUE(server.Listen());

    const QList<QByteArray> garbage = {
        QByteArray(200, 'z'),             // no line end, too long for a request
        "wm_QorAppSomethingElse\n",       // not one of ours
        "wm_QorAppPrevInstParm 100000\n", // announces too much
        "wm_QorAppPrevInstParm -1\n",
        "wm_QorAppPrevInstParm 1200\n" + QByteArray(1200, 'a'),
        QByteArray(), // says nothing at all
    };
    for (const QByteArray &bytes : garbage) {
        QLocalSocket peer;
        peer.connectToServer(server.ServerName());
        ASSERT_TRUE(peer.waitForConnected(2000));
        peer.write(bytes);
        peer.flush();
        EXPECT_TRUE(WaitFor([&] { return peer.state() == QLocalSocket::UnconnectedState; }, 3000))
            << "peer kept: " << bytes.left(40).constData();
    }
    EXPECT_EQ(handler.Restores, 0);
    EXPECT_TRUE(handler.Texts.isEmpty());

    // The instance still serves a proper hand-off afterwards.
    TSender good({"/tmp"});
    ASSERT_TRUE(good.Wait());
    EXPECT_EQ(handler.Texts, QByteArrayList{"/tmp"});
}

// Peers that ask for the identifier many times and close without reading the answers: the
// failed answers drop each peer in the middle of its requests, and the instance must go on.
TEST_F(PrevInstTest, PeersThatVanishMidRequestDoNoHarm)
{
    TInstance instance;
    auto &[handler, server] = instance;
    ASSERT_TRUE(server.Listen());

    for (int round = 0; round < 3; ++round) {
        std::vector<std::unique_ptr<TRawPeer>> peers;
        for (int i = 0; i < 4; ++i) {
            peers.push_back(std::make_unique<TRawPeer>(server.ServerName()));
            ASSERT_TRUE(peers.back()->Connected);
        }
        ASSERT_TRUE(WaitFor([&] { return server.PeerCount() == 4; }));
        // All of it is on its way before the instance reads a byte.
        for (auto &peer : peers) {
            EXPECT_TRUE(peer->Send(GetIdLines(200)));
            peer->Close();
        }
        ASSERT_TRUE(WaitFor([&] { return server.PeerCount() == 0; }));
    }

    // A peer that goes while its handler runs, its socket deleted before the handler returns.
    {
        QLocalSocket leaving;
        leaving.connectToServer(server.ServerName());
        ASSERT_TRUE(leaving.waitForConnected(2000));
        handler.OnParm = [&] {
            leaving.abort();
            WaitFor([&] { return server.PeerCount() == 0; });
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        };
        leaving.write("wm_QorAppRestore\nwm_QorAppPrevInstParm 4\n/tmp" + GetIdLines(3));
        leaving.flush();
        ASSERT_TRUE(WaitFor([&] { return handler.Texts.size() == 1; }));
        handler.OnParm = nullptr;
    }

    TSender good({"/srv"});
    ASSERT_TRUE(good.Wait());
    EXPECT_EQ(good.Outcome, TPrevInstOutcome::HandedOver);
    EXPECT_EQ(handler.Texts, (QByteArrayList{"/tmp", "/srv"}));
}

// Each peer has a deadline from its connection on; bytes trickling in do not extend it.
TEST_F(PrevInstTest, TricklingPeersAreDroppedAtTheirDeadline)
{
    TInstance instance{std::chrono::milliseconds(400)};
    auto &[handler, server] = instance;
    ASSERT_TRUE(server.Listen());

    TTricklingPeers trickling(server.ServerName(), 16);
    QElapsedTimer sinceLastByte;
    sinceLastByte.start();
    int open = 16;
    EXPECT_TRUE(WaitFor(
        [&] {
            if (sinceLastByte.elapsed() >= 40) {
                open = trickling.Trickle();
                sinceLastByte.restart();
            }
            return open == 0 && server.PeerCount() == 0;
        },
        8000))
        << open << " peers still connected";
}

// With every connection taken by peers that trickle on, a real hand-off still gets through.
TEST_F(PrevInstTest, PeersThatStayDoNotLockOutAHandOff)
{
    TInstance instance{std::chrono::minutes(5)};
    auto &[handler, server] = instance;
    ASSERT_TRUE(server.Listen());

    TTricklingPeers trickling(server.ServerName(), 16);
    ASSERT_TRUE(WaitFor([&] { return server.PeerCount() == 16; }));
    for (int round = 0; round < 2; ++round) {
        trickling.Trickle();
        TSender sender({"/x/" + QByteArray::number(round)});
        ASSERT_TRUE(WaitFor([&] {
            trickling.Trickle();
            return sender.Done.load();
        }));
        EXPECT_EQ(sender.Outcome, TPrevInstOutcome::HandedOver);
    }
    EXPECT_EQ(handler.Texts, (QByteArrayList{"/x/0", "/x/1"}));
    EXPECT_LE(server.PeerCount(), 16);
}

// A peer that asks and asks but never reads the answers is dropped once a little is queued for
// it, long before its deadline: the instance's memory does not grow with what it sends.
TEST_F(PrevInstTest, APeerThatNeverReadsIsDropped)
{
    TInstance instance{std::chrono::minutes(5)};
    auto &[handler, server] = instance;
    ASSERT_TRUE(server.Listen());

    TRawPeer greedy(server.ServerName());
    ASSERT_TRUE(greedy.Connected);
    constexpr qint64 total = 4 << 20; // about 2 MB of answers if all were answered
    std::atomic<qint64> sent{0};
    std::atomic<bool> done{false};
    std::thread sender([&] {
        const QByteArray chunk = GetIdLines(64);
        while (sent < total && greedy.Send(chunk))
            sent += chunk.size();
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }, 30000));
    sender.join();
    EXPECT_LT(sent.load(), total) << "the instance took every request and queued every answer";
    EXPECT_TRUE(WaitFor([&] { return server.PeerCount() == 0; }));
}

// The text limit of 255 characters holds on the receiving side too, for a text sent straight to
// it: longer texts never reach the handler and their peer is dropped.
TEST_F(PrevInstTest, TheReceiverTakesTextsUpTo255Characters)
{
    TInstance instance;
    auto &[handler, server] = instance;
    ASSERT_TRUE(server.Listen());

    for (const QChar c : {QChar(u'x'), QChar(0xE9), QChar(0x20AC)}) {
        for (int length = 254; length <= 261; ++length) {
            const QByteArray text = QString(length, c).toUtf8();
            SCOPED_TRACE(length);
            QLocalSocket peer;
            peer.connectToServer(server.ServerName());
            ASSERT_TRUE(peer.waitForConnected(2000));
            peer.write(QByteArray(QorPrevInst::MsgPrevInstParm) + ' ' + QByteArray::number(text.size()) + '\n' + text);
            peer.flush();
            const qsizetype before = handler.Texts.size();
            if (length <= QorPrevInst::MaxParmLength) {
                EXPECT_TRUE(WaitFor([&] { return peer.canReadLine(); }));
                EXPECT_EQ(peer.readLine(), QByteArray("0\n"));
                ASSERT_EQ(handler.Texts.size(), before + 1);
                EXPECT_EQ(handler.Texts.last(), text);
            } else {
                EXPECT_TRUE(WaitFor([&] { return peer.state() == QLocalSocket::UnconnectedState; }));
                EXPECT_EQ(handler.Texts.size(), before);
                EXPECT_FALSE(peer.canReadLine());
            }
        }
    }
}

// A session folder that the user's group may enter is no place for the socket: a private
// folder of the user's own takes its place, and one owned by someone else is refused.
TEST_F(PrevInstTest, AGroupAccessibleRuntimeFolderIsNotUsed)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(::chmod(runtime.constData(), 0770), 0);
    const QString fallback = PrevInstSocketFolder();
    ASSERT_FALSE(fallback.isEmpty());
    EXPECT_FALSE(fallback.startsWith(QFile::decodeName(runtime)));
    EXPECT_TRUE(fallback.startsWith(QFile::decodeName(qgetenv("TMPDIR")) + u'/'));
    // A fallback folder the group may enter is made private again.
    ASSERT_EQ(::chmod(QFile::encodeName(fallback).constData(), 0770), 0);

    TRecordingHandler handler;
    TPrevInstServer server(ClassName, AppId, &handler);
    ASSERT_TRUE(server.Listen()) << server.ErrorString().toStdString();
    EXPECT_TRUE(server.ServerName().startsWith(fallback + u'/'));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(fallback).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    TSender sender({"/x"});
    ASSERT_TRUE(sender.Wait());
    EXPECT_EQ(handler.Texts, QByteArrayList{"/x"});

    if (::geteuid() != 0)
        GTEST_SKIP() << "giving the fallback folder to another user needs the superuser";
    ASSERT_EQ(::chown(QFile::encodeName(fallback).constData(), 4242, 4242), 0);
    EXPECT_TRUE(PrevInstSocketFolder().isEmpty());
    TPrevInstServer refused(ClassName, AppId, &handler);
    EXPECT_FALSE(refused.Listen());
    EXPECT_EQ(HandOffToPrevInstance(ClassName, AppId, {"/y"}), TPrevInstOutcome::NoInstance);
}

TEST_F(PrevInstTest, SecondStartHandsOverAndEndsWithoutWindow)
{
    const QByteArray x = FDir.MakeDir("X");
    const QByteArray y = FDir.MakeDir("Y");
    TStandIn first;
    first.StartInstance({x});
    EXPECT_TRUE(first.HasLine("LISTED " + x + '/'));

    TStandIn second;
    second.Start({y});
    EXPECT_EQ(second.Finish(), 0);
    EXPECT_TRUE(second.Output().isEmpty()) << second.Output().constData(); // no window, no listing
    ASSERT_TRUE(first.WaitForLine("LISTED " + y + '/')) << first.Output().constData();
    EXPECT_TRUE(QFile::exists(QFile::decodeName(y + "/Folder.dnt")));
    EXPECT_TRUE(first.HasLine("RESTORE normal"));

    // A description file's path lists the folder holding it.
    TStandIn third;
    third.Start({x + "/Folder.dnt"});
    EXPECT_EQ(third.Finish(), 0);
    EXPECT_TRUE(first.WaitForLine("PARM " + x + "/Folder.dnt"));
}

TEST_F(PrevInstTest, ArgumentsArriveJoinedWithSingleSpaces)
{
    TStandIn first;
    first.StartInstance({FDir.Path()});
    TStandIn second;
    second.StartIn(FDir.Path(), {"a", "b c"});
    EXPECT_EQ(second.Finish(), 0);
    ASSERT_TRUE(first.WaitForLine("PARM ")) << first.Output().constData();
    EXPECT_TRUE(first.HasExactLine("PARM " + FDir.Path() + "/a b c")) << first.Output().constData();
}

// A file manager passes one path, whatever its bytes: it arrives whole, after a "--" that only
// ends the options, and none of it is read as more than one name.
TEST_F(PrevInstTest, OneAwkwardNameArrivesWhole)
{
    TStandIn first;
    first.StartInstance({FDir.Path()});
    const QByteArray names[] = {"a  b",         "-x",           "--help",    "it's \"q\"",
                                "\xff\xfe\x80", "line\nfeed\n", " edges \t", "$(touch pwned)"};
    for (const QByteArray &name : names) {
        TStandIn second;
        second.StartWithBytes(FDir.Path(), name);
        EXPECT_EQ(second.Finish(), 0) << name.toHex().constData();
        const QByteArray arrived = "PARMHEX " + (FDir.Path() + '/' + name).toHex();
        first.WaitForLine(arrived);
        EXPECT_TRUE(first.HasExactLine(arrived)) << name.toHex().constData() << '\n' << first.Output().constData();
    }
    EXPECT_FALSE(QFile::exists(QStringLiteral("pwned")));
    EXPECT_FALSE(QFile::exists(QFile::decodeName(FDir.Path() + "/pwned")));
}

// The instance runs in a folder of its own: a relative path typed elsewhere goes as the absolute,
// clean path of what it named there, and that folder is listed.
TEST_F(PrevInstTest, ARelativePathIsHandedOverAsTheFolderItNamesWhereItWasTyped)
{
    const QByteArray home = FDir.MakeDir("Home");
    FDir.MakeDir("Home/alpha");
    const QByteArray other = FDir.MakeDir("Other");
    const QByteArray alpha = FDir.MakeDir("Other/alpha");
    TStandIn first;
    first.StartIn(home, {});
    ASSERT_TRUE(first.WaitForLine("READY ")) << first.Output().constData();
    ASSERT_TRUE(first.WaitForLine("LISTED " + home + '/')) << first.Output().constData();

    TStandIn second;
    second.StartIn(other, {".//alpha/../alpha/"});
    EXPECT_EQ(second.Finish(), 0);
    ASSERT_TRUE(first.WaitForLine("LISTED " + alpha + '/')) << first.Output().constData();
    EXPECT_TRUE(first.HasExactLine("PARM " + alpha)) << first.Output().constData();
    EXPECT_FALSE(QFile::exists(QFile::decodeName(home + "/alpha/Folder.dnt")));
}

TEST_F(PrevInstTest, NoArgumentsOnlyRestores)
{
    TStandIn first(true);
    first.StartInstance({FDir.Path()});
    TStandIn second;
    second.Start({});
    EXPECT_EQ(second.Finish(), 0);
    ASSERT_TRUE(first.WaitForLine("RESTORE normal")) << first.Output().constData();
    // A later start with a text: once it has arrived, a stray text of the first would have too.
    TStandIn marker;
    marker.StartIn(FDir.Path(), {"marker"});
    EXPECT_EQ(marker.Finish(), 0);
    ASSERT_TRUE(first.WaitForLine("PARM " + FDir.Path() + "/marker")) << first.Output().constData();
    EXPECT_EQ(first.Output().count("PARM "), 1) << first.Output().constData();
    // The start folder and the marker's folder (the one it was typed in): nothing for the first.
    EXPECT_EQ(first.Output().count("LISTED "), 2);
}

TEST_F(PrevInstTest, OverlongArgumentsEndTheSecondStartWithAnError)
{
    TStandIn first(true);
    first.StartInstance({FDir.Path()});
    TStandIn second;
    second.Start({QByteArray(256, 'x')});
    EXPECT_EQ(second.Finish(), 1);
    const QByteArray errors = second.Errors();
    EXPECT_TRUE(errors.contains("Application Error: System Error.  Code: " + QByteArray::number(ENAMETOOLONG) + ".\n"
                                + QByteArray(std::strerror(ENAMETOOLONG))))
        << errors.constData();
    EXPECT_FALSE(second.HasLine("LISTED"));
    // The restore request went first, so the instance came to the front all the same.
    EXPECT_TRUE(first.WaitForLine("RESTORE normal")) << first.Output().constData();
    EXPECT_FALSE(first.HasLine("PARM"));
}

TEST_F(PrevInstTest, ServerWithAnotherIdentifierIsNotAnInstance)
{
    // Another program holds the socket name and answers with its own identifier.
    QLocalServer foreign;
    ASSERT_TRUE(foreign.listen(PrevInstServerName(ClassName)));
    QObject::connect(&foreign, &QLocalServer::newConnection, [&] {
        while (QLocalSocket *s = foreign.nextPendingConnection())
            QObject::connect(s, &QLocalSocket::readyRead, s, [s] {
                s->readAll();
                s->write("999\n");
            });
    });

    const QByteArray x = FDir.MakeDir("X");
    TStandIn first;
    first.StartInstance({x}); // not handed off: it became the instance, on a name of its own
    EXPECT_TRUE(first.HasLine("LISTED " + x + '/'));
    EXPECT_TRUE(first.HasLine("READY " + QFile::encodeName(PrevInstServerName(ClassName, 1))));

    // The next start passes the foreign server by and finds the instance.
    const QByteArray y = FDir.MakeDir("Y");
    TStandIn second;
    second.Start({y});
    EXPECT_TRUE(first.WaitForLine("LISTED " + y + '/')) << first.Output().constData();
    EXPECT_EQ(second.Finish(), 0);
}

TEST_F(PrevInstTest, SocketLeftByACrashDoesNotStopTheNextStart)
{
    TStandIn crashed;
    crashed.StartInstance({FDir.Path()});
    crashed.Crash();
    ASSERT_TRUE(QFile::exists(PrevInstServerName(ClassName))); // left behind

    const QByteArray x = FDir.MakeDir("X");
    TStandIn next;
    next.StartInstance({x});
    EXPECT_TRUE(next.HasLine("READY " + QFile::encodeName(PrevInstServerName(ClassName))));

    const QByteArray y = FDir.MakeDir("Y");
    TStandIn second;
    second.Start({y});
    EXPECT_EQ(second.Finish(), 0);
    EXPECT_TRUE(next.WaitForLine("LISTED " + y + '/'));
}

TEST_F(PrevInstTest, SilentPeerDoesNotBlockTheInstance)
{
    TStandIn first;
    first.StartInstance({FDir.Path()});
    QLocalSocket silent;
    silent.connectToServer(PrevInstServerName(ClassName));
    ASSERT_TRUE(silent.waitForConnected(2000));
    QLocalSocket halfway;
    halfway.connectToServer(PrevInstServerName(ClassName));
    ASSERT_TRUE(halfway.waitForConnected(2000));
    halfway.write("wm_QorAppPrevInstParm 40\n/tmp");
    halfway.flush();

    // Well within the 5 s a silent peer is kept, a hand-off goes through.
    const QByteArray y = FDir.MakeDir("Y");
    TStandIn second;
    second.Start({y});
    EXPECT_TRUE(first.WaitForLine("LISTED " + y + '/', 3000)) << first.Output().constData();
    EXPECT_EQ(second.Finish(), 0);
    EXPECT_EQ(first.Output().count("PARM "), 1) << first.Output().constData(); // only the real hand-off
}

TEST_F(PrevInstTest, HandOffClosesTheOpenDialogInTheInstance)
{
    TStandIn first;
    first.StartInstance({FDir.Path()});
    first.Send("modal");
    ASSERT_TRUE(first.WaitForLine("MODAL open"));
    const QByteArray y = FDir.MakeDir("Y");
    TStandIn second;
    second.Start({y});
    EXPECT_EQ(second.Finish(), 0);
    ASSERT_TRUE(first.WaitForLine("MODAL 0")) << first.Output().constData();
    EXPECT_TRUE(first.HasLine("LISTED " + y + '/'));
}
