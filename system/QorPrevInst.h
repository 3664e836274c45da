// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Single instance per user and desktop. A second start finds the running instance through a
// local socket named after the main window's class, asks it to come to the front and hands it
// the joined command-line arguments; the receiving half is TPrevInstServer, created by the main
// window as the last step of its creation.
//
// Conversation on one connection (requests from the new process, answers from the instance):
//   "wm_QorAppGetID\n"                      -> "<identifier>\n"
//   "wm_QorAppRestore\n"                    -> (no answer: the request is posted)
//   "wm_QorAppPrevInstParm <n>\n" + n bytes -> "0\n" once the instance has handled the text

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>
#include <QString>

#include <QHash>

#include <chrono>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QWidget;

namespace QorPrevInst {
inline constexpr char MsgGetID[] = "wm_QorAppGetID";
inline constexpr char MsgRestore[] = "wm_QorAppRestore";
inline constexpr char MsgPrevInstParm[] = "wm_QorAppPrevInstParm";
// The longest argument text the hand-off carries, in characters. Both halves hold to it: the
// receiver refuses a longer text, which no sender of ours can have sent.
inline constexpr int MaxParmLength = 255;
// How long the new process waits for each answer, and how long the instance keeps any one
// connection (a whole hand-off takes a few milliseconds).
inline constexpr std::chrono::milliseconds SendTimeout{5000};
// Further socket names tried when the first one is held by a live server that is not ours.
inline constexpr int MaxServerSlots = 8;
} // namespace QorPrevInst

// Finds a running instance of the class; if one answers `id`, hands it the process's arguments
// and ends the process with exit code 0 (no window is created). Returns when there is none.
// Raises TOSError when the argument text cannot be handed over (for example over 255
// characters); the restore request has already gone by then.
void CheckPrevInstance(const QString &className, qint32 id);

enum class TPrevInstOutcome { NoInstance, HandedOver };

// The same search and hand-off with explicit arguments (argument 1 to N), without ending the
// process: what CheckPrevInstance does before it exits.
TPrevInstOutcome HandOffToPrevInstance(const QString &className, qint32 id, const QByteArrayList &arguments);

// Arguments joined, each preceded by one space, trimmed of characters of code 32 or below; a
// single argument is taken whole, as it names one path.
QByteArray JoinPrevInstArguments(const QByteArrayList &arguments);

// The folder for the user's session where the socket lives: $XDG_RUNTIME_DIR when it is a
// private folder of this user, else a 0700 folder of the user's own under the temporary folder.
// Empty when no safe folder is available (the program then runs without the hand-off).
QString PrevInstSocketFolder();
// Full socket path for a class name and slot (0 = first): class name without regard to case and
// cut to 29 characters, the user id and the display.
QString PrevInstServerName(const QString &className, int slot = 0);

// What the main window does with the three messages. Calls arrive on the user-interface thread.
class TPrevInstHandler {
public:
    virtual ~TPrevInstHandler() = default;
    // "wm_QorAppRestore": restore when minimised, else bring to the front.
    virtual void PrevInstRestore() = 0;
    // "wm_QorAppPrevInstParm": the handed-over text. The sender goes on once this returns. Called
    // from the event loop, not from inside the socket's signals.
    virtual void PrevInstParm(const QByteArray &text) = 0;
};

// The receiving half: answers "wm_QorAppGetID" with the identifier and passes the other two
// messages to the handler. A peer that sends garbage or too much, does not read its answers, or
// outstays its time is dropped without disturbing the user interface; a peer may vanish at any
// moment, also while its handler runs. When every connection is taken, the oldest idle one
// makes room, so connections that merely stay open never lock a real hand-off out.
class TPrevInstServer : public QObject {
    Q_OBJECT
public:
    TPrevInstServer(const QString &className, qint32 id, TPrevInstHandler *handler, QObject *parent = nullptr);
    ~TPrevInstServer() override;

    // Starts answering; false when no socket could be set up (the error is in ErrorString()).
    bool Listen();
    QString ServerName() const;
    QString ErrorString() const { return FError; }
    // How long a peer may stay connected, from its connection on, whatever it sends.
    void SetPeerTimeout(std::chrono::milliseconds timeout) { FPeerTimeout = timeout; }
    // Connections being served.
    qsizetype PeerCount() const { return FPeers.size(); }

private:
    struct TPeer {
        QByteArray Buffer;
        qsizetype ParmLength = -1; // >= 0 while the text of "wm_QorAppPrevInstParm" is awaited
        bool Busy = false;         // the handler is running for this peer
        bool ReadQueued = false;   // a reading of its requests waits in the event loop
        bool Dropped = false;      // gone from the table; its socket is deleted later
        quint64 Arrival = 0;       // the oldest idle peer makes room for a new one
    };
    using TPeerPtr = std::shared_ptr<TPeer>;

    bool ListenOn(const QString &name);
    void AcceptConnections();
    bool MakeRoom();
    void QueueRead(QLocalSocket *socket);
    void ReadFrom(QLocalSocket *socket);
    // Writes an answer; a peer that leaves its answers unread is dropped. False once dropped.
    bool Answer(QLocalSocket *socket, const TPeer &peer, const QByteArray &answer);
    void Drop(QLocalSocket *socket);

    // Entries are held by shared pointer: a handler on the stack keeps its peer alive even when
    // the peer is dropped meanwhile.
    QHash<QLocalSocket *, TPeerPtr> FPeers;
    quint64 FArrivals = 0;

    QString FClassName;
    qint32 FId;
    TPrevInstHandler *FHandler;
    QLocalServer *FServer = nullptr;
    QString FError;
    std::chrono::milliseconds FPeerTimeout = QorPrevInst::SendTimeout;
};

// A path as typed, made absolute against `base` (the folder it was typed in) and clean: no "."
// or ".." parts, no doubled or trailing "/" ("/" itself aside). Works on the bytes, so a name
// that is no valid text stays as it is. ".." is taken by its text, as the shell's "cd" does.
QByteArray AbsolutePath(const QByteArray &path, const QByteArray &base);
// The folder this process was started in, as the shell names it: $PWD when that is the same
// folder (it keeps the links the user went through), else the kernel's answer.
QByteArray WorkingFolder();

// Helpers for the main window's handler.
// Closes the program's open modal dialogs as cancelled, topmost first.
void CloseModalDialogs();
// Restores a minimised window, otherwise brings it to the front.
void RestoreApplication(QWidget *window);

// The instance's reading of a peer's bytes, without a socket. Takes the next complete request
// off the front of buffer; parmLength carries the state between calls (-1 until a
// "wm_QorAppPrevInstParm" header has been read). Incomplete: the rest has not arrived yet;
// Invalid: the peer is dropped.
enum class TPrevInstRequestKind { Incomplete, Invalid, GetID, Restore, PrevInstParm };
struct TPrevInstRequest {
    TPrevInstRequestKind Kind = TPrevInstRequestKind::Incomplete;
    QByteArray Text;
};
TPrevInstRequest TakePrevInstRequest(QByteArray &buffer, qsizetype &parmLength);
