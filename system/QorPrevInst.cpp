// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/QorPrevInst.h"
#include "system/StartTarget.h"

#include "common/ErrorReport.h"
#include "common/Exceptions.h"
#include "common/PathUtils.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <utility>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono;
using namespace QorPrevInst;

namespace {

// A header line is a message name and at most a length; anything longer is not ours.
constexpr qsizetype MaxHeaderLength = 64;
// The longest text, of up to four UTF-8 bytes a character.
constexpr qsizetype MaxParmBytes = MaxParmLength * 4;
// Connections served at once; a flood cannot use up the instance.
constexpr int MaxPeers = 16;
// What is held for one peer: its unread requests (more wait in the kernel), and its unread
// answers. A real sender reads each answer before it asks again, so neither limit is near.
constexpr qint64 MaxQueuedInput = 4096;
constexpr qint64 MaxQueuedOutput = 1024;

qsizetype CharacterCount(const QByteArray &text)
{
    return QString::fromUtf8(text).toUcs4().size();
}

bool IsPrivateFolder(const QByteArray &path)
{
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

QByteArray DisplayName()
{
    QByteArray display = qgetenv("WAYLAND_DISPLAY");
    if (!display.isEmpty())
        return display;
    display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return "none";
    // ":0" and ":0.0" are the same desktop: the screen number does not count.
    const qsizetype colon = display.lastIndexOf(':');
    const qsizetype dot = display.lastIndexOf('.');
    if (colon >= 0 && dot > colon)
        display.truncate(dot);
    return display;
}

// Socket names are made of a safe alphabet only, whatever the class name or display holds.
QByteArray SafeName(const QByteArray &text)
{
    QByteArray result;
    for (char c : text)
        result.append((std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_') ? c : '_');
    return result;
}

// --- the sending half: plain POSIX sockets, because it runs before the application object ---

class TClientSocket {
public:
    TClientSocket() = default;
    TClientSocket(const TClientSocket &) = delete;
    TClientSocket &operator=(const TClientSocket &) = delete;
    ~TClientSocket() { Close(); }

    // Connects within the send time-out; false with errno set when nobody listens there.
    bool Connect(const QByteArray &path)
    {
        sockaddr_un address{};
        if (path.size() >= qsizetype(sizeof address.sun_path)) {
            errno = ENAMETOOLONG;
            return false;
        }
        FFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (FFd < 0)
            return false;
        const timeval timeout{static_cast<time_t>(duration_cast<seconds>(SendTimeout).count()), 0};
        ::setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        if (::connect(FFd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            const int error = errno;
            Close();
            errno = error;
            return false;
        }
        return true;
    }

    bool Write(const QByteArray &data)
    {
        qsizetype done = 0;
        while (done < data.size()) {
            const ssize_t n = ::send(FFd, data.constData() + done, size_t(data.size() - done), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // One answer line within the send time-out; false on time-out, close or an overlong line.
    bool ReadLine(QByteArray &line)
    {
        line.clear();
        const auto deadline = steady_clock::now() + SendTimeout;
        for (;;) {
            const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            if (left <= 0) {
                errno = ETIMEDOUT;
                return false;
            }
            pollfd pfd{FFd, POLLIN, 0};
            const int ready = ::poll(&pfd, 1, int(left));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0) {
                errno = ETIMEDOUT;
                return false;
            }
            char c = 0;
            const ssize_t n = ::recv(FFd, &c, 1, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n == 0)
                    errno = ECONNRESET;
                return false;
            }
            if (c == '\n')
                return true;
            if (line.size() >= MaxHeaderLength) {
                errno = EPROTO;
                return false;
            }
            line.append(c);
        }
    }

    void Close()
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }

private:
    int FFd = -1;
};

// Whether a live server answers at the socket path (a file left by a crashed process does not).
bool ServerIsLive(const QString &name)
{
    TClientSocket probe;
    return probe.Connect(QFile::encodeName(name));
}

// Asks "wm_QorAppGetID" and keeps the connection only when the answer is the identifier.
bool IdentifiedAs(TClientSocket &socket, const QString &name, qint32 id)
{
    if (!socket.Connect(QFile::encodeName(name)))
        return false;
    QByteArray answer;
    if (!socket.Write(QByteArray(MsgGetID) + '\n') || !socket.ReadLine(answer))
        return false;
    bool ok = false;
    const qint64 value = answer.toLongLong(&ok);
    return ok && value == id;
}

} // namespace

// ---------------------------------------------------------------------------------------------

QByteArray JoinPrevInstArguments(const QByteArrayList &arguments)
{
    // One argument is one path, as a file manager passes it: its blanks, a final line feed
    // among them, are part of the name.
    if (arguments.size() == 1)
        return arguments.first();
    QByteArray text;
    for (const QByteArray &argument : arguments)
        text += ' ' + argument;
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
        --end;
    return text.mid(begin, end - begin);
}

QString PrevInstSocketFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && IsPrivateFolder(runtime))
        return QFile::decodeName(runtime);

    // No usable session folder: a folder of our own that nobody else can enter.
    const QByteArray own = QFile::encodeName(QDir::tempPath()) + "/qorprevinst-" + QByteArray::number(::getuid());
    if (::mkdir(own.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st {};
    if (::lstat(own.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return {};
    if ((st.st_mode & 077) != 0 && ::chmod(own.constData(), 0700) != 0)
        return {};
    return QFile::decodeName(own);
}

QString PrevInstServerName(const QString &className, int slot)
{
    const QString folder = PrevInstSocketFolder();
    if (folder.isEmpty())
        return {};
    QByteArray name = "qorprevinst-" + SafeName(className.left(29).toLower().toUtf8()) + '-'
                      + QByteArray::number(::getuid()) + '-' + SafeName(DisplayName());
    if (slot > 0)
        name += '.' + QByteArray::number(slot);
    return folder + u'/' + QFile::decodeName(name);
}

TPrevInstOutcome HandOffToPrevInstance(const QString &className, qint32 id, const QByteArrayList &arguments)
{
    if (PrevInstSocketFolder().isEmpty())
        return TPrevInstOutcome::NoInstance;

    TClientSocket socket;
    bool found = false;
    for (int slot = 0; slot < MaxServerSlots && !found; ++slot) {
        found = IdentifiedAs(socket, PrevInstServerName(className, slot), id);
        if (!found)
            socket.Close();
    }
    if (!found)
        return TPrevInstOutcome::NoInstance;

    // Posted: no answer is awaited. If it cannot be written the instance is gone; the
    // arguments below then fail to go as well.
    socket.Write(QByteArray(MsgRestore) + '\n');

    const QByteArray text = JoinPrevInstArguments(arguments);
    if (text.isEmpty())
        return TPrevInstOutcome::HandedOver;
    if (CharacterCount(text) > MaxParmLength)
        throw TOSError(ENAMETOOLONG);
    if (!socket.Write(QByteArray(MsgPrevInstParm) + ' ' + QByteArray::number(text.size()) + '\n' + text))
        throw TOSError(errno ? errno : EPIPE);
    // The instance has the whole text; an instance too busy to confirm within the time-out
    // will still list it, so the new process does not hold the user up any longer.
    QByteArray answer;
    socket.ReadLine(answer);
    return TPrevInstOutcome::HandedOver;
}

void CheckPrevInstance(const QString &className, qint32 id)
{
    // The application object does not exist yet; the kernel has the arguments.
    QByteArrayList arguments;
    QFile cmdline(QStringLiteral("/proc/self/cmdline"));
    if (cmdline.open(QIODevice::ReadOnly)) {
        arguments = cmdline.readAll().split('\0');
        if (!arguments.isEmpty() && arguments.last().isEmpty())
            arguments.removeLast(); // the terminator of the last argument
        if (!arguments.isEmpty())
            arguments.removeFirst(); // the program itself
    }
    arguments = PathArguments(arguments);
    // The running instance has a working folder of its own: a relative path goes as the absolute
    // path of what the user named here.
    if (const QByteArray text = JoinPrevInstArguments(arguments); !text.isEmpty())
        arguments = {AbsolutePath(text, WorkingFolder())};
    if (HandOffToPrevInstance(className, id, arguments) == TPrevInstOutcome::HandedOver) {
        std::fflush(stdout);
        std::exit(0);
    }
}

// ---------------------------------------------------------------------------------------------

namespace {
bool PeerIsThisUser(QLocalSocket *socket)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    return credentials.uid == ::getuid();
}

using TRequestKind = TPrevInstRequestKind;
using TRequest = TPrevInstRequest;
} // namespace

TPrevInstServer::TPrevInstServer(const QString &className, qint32 id, TPrevInstHandler *handler, QObject *parent)
    : QObject(parent), FClassName(className), FId(id), FHandler(handler)
{
}

TPrevInstServer::~TPrevInstServer()
{
    // No peer's signal may reach this object while the server and its sockets go.
    for (auto it = FPeers.begin(); it != FPeers.end(); ++it) {
        it.value()->Dropped = true;
        it.key()->disconnect(this);
    }
    FPeers.clear();
    if (FServer)
        FServer->close();
}

QString TPrevInstServer::ServerName() const
{
    return FServer && FServer->isListening() ? FServer->fullServerName() : QString();
}

bool TPrevInstServer::ListenOn(const QString &name)
{
    if (!FServer->listen(name))
        return false;
    // The folder is private already; the socket itself is the user's alone as well.
    ::chmod(QFile::encodeName(FServer->fullServerName()).constData(), 0600);
    connect(FServer, &QLocalServer::newConnection, this, &TPrevInstServer::AcceptConnections);
    return true;
}

bool TPrevInstServer::Listen()
{
    if (PrevInstSocketFolder().isEmpty()) {
        FError = QStringLiteral("No private folder for the instance socket");
        return false;
    }
    delete FServer;
    FServer = new QLocalServer(this);
    FServer->setMaxPendingConnections(MaxPeers);
    for (int slot = 0; slot < MaxServerSlots; ++slot) {
        const QString name = PrevInstServerName(FClassName, slot);
        if (ListenOn(name))
            return true;
        FError = FServer->errorString();
        if (FServer->serverError() != QAbstractSocket::AddressInUseError)
            return false;
        // A socket file nobody answers on was left by a crashed instance: take its place.
        if (!ServerIsLive(name) && QLocalServer::removeServer(name) && ListenOn(name))
            return true;
        // Otherwise a live server of another program holds the name: try the next one.
    }
    return false;
}

void TPrevInstServer::AcceptConnections()
{
    while (QLocalSocket *socket = FServer->nextPendingConnection()) {
        if (!PeerIsThisUser(socket) || (FPeers.size() >= MaxPeers && !MakeRoom())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const TPeerPtr peer = std::make_shared<TPeer>();
        peer->Arrival = ++FArrivals;
        FPeers.insert(socket, peer);
        // Requests beyond this wait in the kernel until the ones read are handled.
        socket->setReadBufferSize(MaxQueuedInput);
        // An absolute deadline: bytes that trickle in do not extend it.
        QTimer::singleShot(FPeerTimeout, socket, [this, socket] { Drop(socket); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { QueueRead(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { Drop(socket); });
        if (socket->bytesAvailable() > 0)
            QueueRead(socket);
    }
}

// The requests are served from the event loop, never inside the socket's own signal: a handler
// may run nested event loops (a box), in which the peer can go and its socket be deleted; with
// the socket's code still on the stack below, that deletion would pull the ground from under it.
void TPrevInstServer::QueueRead(QLocalSocket *socket)
{
    const TPeerPtr peer = FPeers.value(socket);
    if (!peer || std::exchange(peer->ReadQueued, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this, socket, peer] {
            peer->ReadQueued = false;
            // A dropped peer's socket may be deleted already.
            if (!peer->Dropped)
                ReadFrom(socket);
        },
        Qt::QueuedConnection);
}

// Drops the peer that came first among those whose handler is not running.
bool TPrevInstServer::MakeRoom()
{
    QLocalSocket *oldest = nullptr;
    quint64 arrival = 0;
    for (auto it = FPeers.cbegin(); it != FPeers.cend(); ++it) {
        if (!it.value()->Busy && (!oldest || it.value()->Arrival < arrival)) {
            oldest = it.key();
            arrival = it.value()->Arrival;
        }
    }
    if (oldest)
        Drop(oldest);
    return oldest != nullptr;
}

// Safe at any moment, also from inside the socket's own signals and while the peer's handler
// runs: the socket is only deleted later, and those who use it check Dropped and a QPointer.
void TPrevInstServer::Drop(QLocalSocket *socket)
{
    const TPeerPtr peer = FPeers.take(socket);
    if (!peer)
        return;
    peer->Dropped = true;
    socket->disconnect(this);
    socket->deleteLater();
}

bool TPrevInstServer::Answer(QLocalSocket *socket, const TPeer &peer, const QByteArray &answer)
{
    socket->write(answer);
    socket->flush(); // may find the peer gone and drop it on the spot
    if (!peer.Dropped && socket->bytesToWrite() > MaxQueuedOutput)
        Drop(socket);
    return !peer.Dropped;
}

namespace {
// Takes the next complete request off the front of a peer's buffer.
TRequest TakeRequest(QByteArray &buffer, qsizetype &parmLength)
{
    TRequest request;
    if (parmLength < 0) {
        const qsizetype end = buffer.indexOf('\n');
        if (end < 0) {
            if (buffer.size() > MaxHeaderLength)
                request.Kind = TRequestKind::Invalid;
            return request;
        }
        const QByteArray line = buffer.left(end);
        buffer.remove(0, end + 1);
        const QByteArray parmPrefix = QByteArray(MsgPrevInstParm) + ' ';
        if (line == MsgGetID) {
            request.Kind = TRequestKind::GetID;
        } else if (line == MsgRestore) {
            request.Kind = TRequestKind::Restore;
        } else if (line.startsWith(parmPrefix)) {
            const QByteArray number = line.mid(parmPrefix.size());
            const bool digits = !number.isEmpty() && number.size() <= 9
                                && std::all_of(number.begin(), number.end(),
                                               [](char c) { return c >= '0' && c <= '9'; });
            const qsizetype length = digits ? number.toLongLong() : -1;
            if (length < 0 || length > MaxParmBytes) {
                request.Kind = TRequestKind::Invalid;
                return request;
            }
            parmLength = length;
            return TakeRequest(buffer, parmLength);
        } else {
            request.Kind = TRequestKind::Invalid;
        }
        return request;
    }
    if (buffer.size() < parmLength)
        return request;
    request.Text = buffer.left(parmLength);
    buffer.remove(0, parmLength);
    parmLength = -1;
    request.Kind = CharacterCount(request.Text) > MaxParmLength ? TRequestKind::Invalid : TRequestKind::PrevInstParm;
    return request;
}
} // namespace

void TPrevInstServer::ReadFrom(QLocalSocket *socket)
{
    // Held here, so that neither a dropped peer nor its deleted socket is ever touched.
    const TPeerPtr peer = FPeers.value(socket);
    const QPointer<QLocalSocket> guard(socket);
    if (!peer || peer->Busy)
        return; // a running handler goes on with what has come in once it returns
    const auto gone = [&] { return peer->Dropped || !guard; };

    peer->Buffer += socket->readAll();
    for (;;) {
        const TRequest request = TakeRequest(peer->Buffer, peer->ParmLength);
        switch (request.Kind) {
        case TRequestKind::Incomplete: return;
        case TRequestKind::Invalid: Drop(socket); return;
        case TRequestKind::GetID:
            if (!Answer(socket, *peer, QByteArray::number(FId) + '\n'))
                return;
            continue;
        case TRequestKind::Restore:
            peer->Busy = true;
            ReportErrors([this] { FHandler->PrevInstRestore(); });
            peer->Busy = false;
            break;
        case TRequestKind::PrevInstParm:
            peer->Busy = true;
            ReportErrors([this, &request] { FHandler->PrevInstParm(request.Text); });
            peer->Busy = false;
            // Only now may the sender go on.
            if (!gone() && !Answer(socket, *peer, "0\n"))
                return;
            break;
        }
        // The handler may have run nested event loops in which the peer went away.
        if (gone())
            return;
        peer->Buffer += socket->readAll();
    }
}

// ---------------------------------------------------------------------------------------------

QByteArray AbsolutePath(const QByteArray &path, const QByteArray &base)
{
    if (path.isEmpty())
        return {};
    const QByteArray whole = path.startsWith('/') ? path : base + '/' + path;
    QByteArrayList parts;
    for (const QByteArray &part : whole.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts << part;
    }
    return '/' + parts.join('/');
}

QByteArray WorkingFolder()
{
    const QByteArray shells = qgetenv("PWD");
    struct stat named {};
    struct stat here {};
    if (shells.startsWith('/') && ::stat(shells.constData(), &named) == 0 && ::stat(".", &here) == 0
        && named.st_dev == here.st_dev && named.st_ino == here.st_ino)
        return AbsolutePath(shells, "/");
    // QDir::currentPath would decode the name; the bytes are wanted.
    QByteArray buffer(4096, '\0');
    while (!::getcwd(buffer.data(), size_t(buffer.size()))) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return AbsolutePath(QByteArray(buffer.constData()), "/");
}

void CloseModalDialogs()
{
    // Nested dialogs close from the top; one that refuses to close ends the loop.
    for (int guard = 0; guard < 32; ++guard) {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            return;
    }
}

void RestoreApplication(QWidget *window)
{
    if (!window)
        return;
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible())
        window->show();
    window->raise();
    window->activateWindow();
}

TPrevInstRequest TakePrevInstRequest(QByteArray &buffer, qsizetype &parmLength)
{
    return TakeRequest(buffer, parmLength);
}
