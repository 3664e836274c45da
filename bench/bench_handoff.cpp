// SPDX-License-Identifier: GPL-3.0-or-later
// A second start's hand-off to the running instance against its floor, measured in the same run:
// the hand-off is a connection and two exchanges (the identifier, then the text and its answer),
// and the floor is the same over a bare QLocalServer that answers each line at once.
//
//   build/bench/bench_handoff [--benchmark_filter=...]

#include "system/QorPrevInst.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
using TClock = std::chrono::steady_clock;

class TCountingHandler : public TPrevInstHandler {
public:
    void PrevInstRestore() override {}
    void PrevInstParm(const QByteArray &text) override { benchmark::DoNotOptimize(text); }
};

// The floor's client: the same system calls the sending half makes.
bool Exchange(int fd, const QByteArray &request)
{
    if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size())
        return false;
    char c = 0;
    do {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) <= 0 || ::recv(fd, &c, 1, 0) != 1)
            return false;
    } while (c != '\n');
    return true;
}

void FloorClient(const QString &name)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(name);
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
        && Exchange(fd, "wm_QorAppGetID\n"))
        Exchange(fd, "wm_QorAppRestore\nwm_QorAppPrevInstParm 4\n/tmp");
    ::close(fd);
}

// Runs the client on a thread of its own, as a second process would, while this thread's event
// loop serves; the client's own time from start to end.
double TimeClient(const std::function<void()> &client)
{
    std::atomic<bool> done{false};
    const auto start = TClock::now();
    TClock::time_point end;
    std::thread thread([&] {
        client();
        end = TClock::now();
        done = true;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] {}, Qt::QueuedConnection); // wakes the loop
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    thread.join();
    return std::chrono::duration<double>(end - start).count();
}

void BM_HandOff(benchmark::State &state)
{
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    TCountingHandler handler;
    TPrevInstServer instance(QStringLiteral("TFrmMain"), 123458, &handler);
    if (!instance.Listen()) {
        state.SkipWithError(instance.ErrorString().toUtf8().constData());
        return;
    }
    QLocalServer bare;
    bare.listen(runtime.path() + QStringLiteral("/floor"));
    QObject::connect(&bare, &QLocalServer::newConnection, [&] {
        while (QLocalSocket *socket = bare.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
                while (socket->canReadLine())
                    if (!socket->readLine().startsWith("wm_QorAppRestore"))
                        socket->write("0\n");
                socket->flush();
            });
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });

    double floorTotal = 0, handOffTotal = 0;
    for (auto _ : state) {
        const double floor = TimeClient([&] { FloorClient(bare.fullServerName()); });
        const double handOff = TimeClient([] { HandOffToPrevInstance(QStringLiteral("TFrmMain"), 123458, {"/tmp"}); });
        floorTotal += floor;
        handOffTotal += handOff;
        state.SetIterationTime(handOff);
    }
    state.counters["floor_ms"] = 1000 * floorTotal / double(state.iterations());
    state.counters["handoff_ms"] = 1000 * handOffTotal / double(state.iterations());
    state.counters["ratio"] = handOffTotal / floorTotal;
}
BENCHMARK(BM_HandOff)->UseManualTime()->Unit(benchmark::kMicrosecond);
} // namespace
