// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/AtomicFile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>

class QSocketNotifier;
class QWidget;

// What tells that a folder changed without reading it: its description file (identity, size,
// time) and the folder's own time, which every entry added, removed or renamed moves.
struct TFolderState {
    TFileStamp File;
    long long FolderModifiedNs = -1;
    bool operator==(const TFolderState &) const = default;
};
// folder with its trailing "/".
TFolderState FolderStateOf(const QByteArray &folder);
// Runs a write of the window's own, and when the folder was still as `seen` before it, makes what
// the write left the state seen: what it changed is no reason to list again. Only reads the file
// system, so the listing's thread may run it.
void SeenPastOwnWrite(const QByteArray &folder, TFolderState &seen, const std::function<void()> &write);
// Whether the folder's file system sends no change events for what other machines do (network
// shares, FUSE), so that it must be looked at now and then.
bool IsEventlessFileSystem(const QByteArray &folder);

// Watches the listed folder and its Folder.dnt and says when a relisting is due: once the folder
// has been quiet for QuietTime, and never sooner than LeastInterval after the last one, so that a
// burst of changes is one relisting. Changes that go on for longer than MostWait are shown by a
// relisting that prunes nothing: only a folder that has been quiet says which entries are gone
// (a save by rename lets a name vanish for a moment). Where the file system sends no events, the
// state is compared every PollInterval while the window is active. No timer runs while nothing
// changes and the window is inactive.
class TFolderWatch : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds QuietTime{300}, LeastInterval{1000}, MostWait{10000}, PollInterval{2000};

    // Follows the window's activation; a null window counts as active.
    explicit TFolderWatch(QWidget *window, QObject *parent = nullptr);
    ~TFolderWatch() override;

    // Watches the folder (with its trailing "/") as `seen` found it: taken before a listing read
    // it, so that a change made while it was read still shows.
    void Watch(const QByteArray &folder, const TFolderState &seen);
    void Stop();
    const QByteArray &Folder() const { return FFolder; }
    // A write of the window's own: when nothing else had changed the folder before it, what it
    // changed is no reason to list again.
    void OwnWrite(const std::function<void()> &write);
    // Looks at the folder every PollInterval while the window is active, also where events come.
    void SetPolling(bool on);
    bool Polling() const { return FPolling; }
    // Whether a timer of the watch runs.
    bool TimerRunning() const { return FQuiet.isActive() || FPoll.isActive(); }

Q_SIGNALS:
    // The folder changed; prune is false when it has not been quiet since.
    void RelistDue(bool prune);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Changed();
    void Settled();
    void Arm();
    void UpdatePolling();
    void Poll();
    void ReadEvents();
    void Unwatch(int &watch);

    QPointer<QWidget> FWindow;
    // The kernel's change events (inotify): the folder's entries made, removed or renamed, and
    // the description file's changes. Without them (no inotify to be had), the folder is polled.
    int FNotify = -1;
    QSocketNotifier *FEvents = nullptr;
    int FFolderWatch = -1;
    int FFileWatch = -1;
    QTimer FQuiet;
    QTimer FPoll;
    QByteArray FFolder;
    TFolderState FSeen;
    unsigned long long FArmedInode = 0;
    QElapsedTimer FChangingSince; // the first change not yet shown
    QElapsedTimer FLastDue;
    bool FForced = false; // the relisting comes before the folder was quiet
    bool FActive = true;
    bool FPolling = false;
    bool FEventless = false;
};
