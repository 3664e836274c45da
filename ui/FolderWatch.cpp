// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FolderWatch.h"

#include <QEvent>
#include <QFile>
#include <QFileSystemWatcher>
#include <QWidget>

#include <utility>

#include <sys/stat.h>
#include <sys/vfs.h>

namespace {
const QByteArray kDescFileName = QByteArrayLiteral("Folder.dnt");
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
    : QObject(parent), FWindow(window), FWatcher(new QFileSystemWatcher(this)), FQuiet(this), FPoll(this)
{
    FQuiet.setSingleShot(true);
    FPoll.setInterval(PollInterval);
    connect(&FQuiet, &QTimer::timeout, this, &TFolderWatch::Settled);
    connect(&FPoll, &QTimer::timeout, this, &TFolderWatch::Poll);
    connect(FWatcher, &QFileSystemWatcher::directoryChanged, this, &TFolderWatch::Changed);
    connect(FWatcher, &QFileSystemWatcher::fileChanged, this, &TFolderWatch::Changed);
    if (window) {
        FActive = window->isActiveWindow();
        window->installEventFilter(this);
    }
}

TFolderWatch::~TFolderWatch()
{
    if (FWindow)
        FWindow->removeEventFilter(this);
}

void TFolderWatch::Watch(const QByteArray &folder, const TFolderState &seen)
{
    if (folder != FFolder) {
        Stop();
        FFolder = folder;
        FWatcher->addPath(QFile::decodeName(folder));
        FEventless = IsEventlessFileSystem(folder);
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
    if (const QStringList paths = FWatcher->files() + FWatcher->directories(); !paths.isEmpty())
        FWatcher->removePaths(paths);
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
    if (stamp.Exists && stamp.Inode == FArmedInode && !FWatcher->files().isEmpty())
        return;
    if (!FWatcher->files().isEmpty())
        FWatcher->removePaths(FWatcher->files());
    FArmedInode = stamp.Exists && FWatcher->addPath(QFile::decodeName(file)) ? stamp.Inode : 0;
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
