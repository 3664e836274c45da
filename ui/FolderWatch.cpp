// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FolderWatch.h"

#include <QEvent>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {
const QByteArray kDescFileName = QByteArrayLiteral("Folder.dnt");
// What changes a listing: entries made, removed or renamed, and the folder itself going. Not
// attributes: the kernel counts a folder's attribute events as its entries' too, and marks every
// entry it holds in memory as such a watch is added, meanwhile holding up every look-up of a name
// in the folder: 0.14 to 0.2 s for a folder of 1,000,000 entries looked at before, whichever
// thread adds it. QFileSystemWatcher asks for them and gives no choice.
constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF
                                        | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t kFileEvents = IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF;
} // namespace

TFolderState FolderStateOf(const QByteArray &folder)
{
    TFolderState state;
    state.File = StampOf(folder + kDescFileName);
    struct stat st {};
    if (::stat(folder.constData(), &st) == 0)
        state.FolderModifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return state;
}

void SeenPastOwnWrite(const QByteArray &folder, TFolderState &seen, const std::function<void()> &write)
{
    const bool unchanged = FolderStateOf(folder) == seen;
    write();
    if (unchanged)
        seen = FolderStateOf(folder);
}

bool IsEventlessFileSystem(const QByteArray &folder)
{
    struct statfs fs {};
    if (::statfs(folder.constData(), &fs) != 0)
        return false;
    // NFS, SMB, CIFS, SMB2, FUSE (sshfs and the like), 9P.
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969UL:
    case 0x517BUL:
    case 0xFF534D42UL:
    case 0xFE534D42UL:
    case 0x65735546UL:
    case 0x01021997UL: return true;
    default: return false;
    }
}

TFolderWatch::TFolderWatch(QWidget *window, QObject *parent)
    : QObject(parent), FWindow(window), FNotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), FQuiet(this), FPoll(this)
{
    FQuiet.setSingleShot(true);
    FPoll.setInterval(PollInterval);
    connect(&FQuiet, &QTimer::timeout, this, &TFolderWatch::Settled);
    connect(&FPoll, &QTimer::timeout, this, &TFolderWatch::Poll);
    if (FNotify >= 0) {
        FEvents = new QSocketNotifier(FNotify, QSocketNotifier::Read, this);
        connect(FEvents, &QSocketNotifier::activated, this, &TFolderWatch::ReadEvents);
    }
    if (window) {
        FActive = window->isActiveWindow();
        window->installEventFilter(this);
    }
}

TFolderWatch::~TFolderWatch()
{
    if (FWindow)
        FWindow->removeEventFilter(this);
    delete FEvents;
    if (FNotify >= 0)
        ::close(FNotify);
}

void TFolderWatch::Watch(const QByteArray &folder, const TFolderState &seen)
{
    if (folder != FFolder) {
        Stop();
        FFolder = folder;
        if (FNotify >= 0)
            FFolderWatch = ::inotify_add_watch(FNotify, folder.constData(), kFolderEvents);
        // A folder that sends no events (none to be had, or a share) is looked at now and then.
        FEventless = FFolderWatch < 0 || IsEventlessFileSystem(folder);
    }
    FSeen = seen;
    Arm();
    UpdatePolling();
    // A change made while the listing was read.
    if (FolderStateOf(FFolder) != FSeen)
        Changed();
}

void TFolderWatch::Stop()
{
    Unwatch(FFileWatch);
    Unwatch(FFolderWatch);
    FFolder.clear();
    FArmedInode = 0;
    FQuiet.stop();
    FChangingSince.invalidate();
    FForced = false;
    FEventless = false;
    UpdatePolling();
}

void TFolderWatch::Arm()
{
    // A save by rename puts another file in the name's place: the watch follows the name, not the
    // file it watched before.
    const QByteArray file = FFolder + kDescFileName;
    const TFileStamp stamp = StampOf(file);
    if (stamp.Exists && stamp.Inode == FArmedInode && FFileWatch >= 0)
        return;
    Unwatch(FFileWatch);
    if (stamp.Exists && FNotify >= 0)
        FFileWatch = ::inotify_add_watch(FNotify, file.constData(), kFileEvents);
    FArmedInode = FFileWatch >= 0 ? stamp.Inode : 0;
}

void TFolderWatch::Unwatch(int &watch)
{
    // A watch whose file is gone has ended already; removing it again only fails.
    if (watch >= 0)
        ::inotify_rm_watch(FNotify, watch);
    watch = -1;
}

void TFolderWatch::ReadEvents()
{
    // Every event of the present watches counts alike; what changed is read from the folder
    // once it is quiet. The ends of watches removed (IN_IGNORED) are no change.
    alignas(inotify_event) char buffer[16 * 1024];
    bool changed = false;
    for (;;) {
        const ssize_t got = ::read(FNotify, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            break;
        }
        for (ssize_t at = 0; at < got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            at += ssize_t(sizeof event + event.len);
            if ((event.mask & IN_Q_OVERFLOW)
                || (!(event.mask & IN_IGNORED) && (event.wd == FFolderWatch || event.wd == FFileWatch)))
                changed = true;
        }
    }
    if (changed)
        Changed();
}

void TFolderWatch::OwnWrite(const std::function<void()> &write)
{
    if (FFolder.isEmpty()) {
        write();
        return;
    }
    SeenPastOwnWrite(FFolder, FSeen, write);
    Arm();
}

void TFolderWatch::Changed()
{
    if (FFolder.isEmpty())
        return;
    if (!FChangingSince.isValid())
        FChangingSince.start();
    // Changes that go on and on are shown all the same, now and then.
    FForced = std::chrono::milliseconds(FChangingSince.elapsed()) >= MostWait;
    FQuiet.start(FForced ? std::chrono::milliseconds(0) : QuietTime);
}

void TFolderWatch::Settled()
{
    if (FFolder.isEmpty())
        return;
    // Here rather than at each event: a burst brings thousands of them.
    Arm();
    if (FolderStateOf(FFolder) == FSeen) {
        // Nothing but the window's own writes, or a change undone.
        FChangingSince.invalidate();
        FForced = false;
        return;
    }
    if (FLastDue.isValid() && std::chrono::milliseconds(FLastDue.elapsed()) < LeastInterval) {
        FQuiet.start(LeastInterval - std::chrono::milliseconds(FLastDue.elapsed()));
        return;
    }
    FChangingSince.invalidate();
    FLastDue.start();
    Q_EMIT RelistDue(!std::exchange(FForced, false));
}

void TFolderWatch::SetPolling(bool on)
{
    FPolling = on;
    UpdatePolling();
}

void TFolderWatch::UpdatePolling()
{
    const bool poll = !FFolder.isEmpty() && FActive && (FPolling || FEventless);
    if (poll && !FPoll.isActive())
        FPoll.start();
    else if (!poll)
        FPoll.stop();
}

void TFolderWatch::Poll()
{
    if (!FQuiet.isActive() && FolderStateOf(FFolder) != FSeen)
        Changed();
}

bool TFolderWatch::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FWindow && event->type() == QEvent::ActivationChange) {
        FActive = FWindow->isActiveWindow();
        // What changed while the window was inactive shows as it comes back.
        if (FActive && (FPolling || FEventless))
            Poll();
        UpdatePolling();
    }
    return QObject::eventFilter(watched, event);
}
