// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "index/DescriptionIndex.h"

#include <QObject>
#include <QThread>

#include <memory>
#include <stop_token>

// Runs the index's work after a listing on a thread of its own, with its own connection, so the
// listing the user waits for pays only for handing the catalogue over. Results come back as
// signals on the thread that owns the updater.
//
// Closing does not wait for a listing's update: the one under way is rolled back and those
// queued are dropped. The index stays as it was before them, and as each update is decided
// by the stamp of the folder's Folder.dnt recorded with it, the folder's next listing brings
// it up to date. A commit's row is small: it is written unless another program holds the
// index then, which closing does not wait for either (the same next listing writes it).
class TIndexUpdater : public QObject {
    Q_OBJECT
public:
    explicit TIndexUpdater(const QString &path = DefaultIndexPath(), QObject *parent = nullptr);
    ~TIndexUpdater() override;

    // Brings the index up to date with a listing and follows moves into its folder.
    void Listed(const TFolderCatalogue &catalogue);
    // The same for a listing the caller no longer changes: handed over without a copy, which
    // for a million entries would hold up the window.
    void Listed(std::shared_ptr<const TFolderCatalogue> catalogue);
    // The program wrote the description of the entry `name`: that row alone is brought up to
    // date, so a commit never has a large description file read again here.
    void Written(const QByteArray &folder, bool isFolder, const QByteArray &name, const QByteArray &text);
    // Waits until every job handed over so far is done (tests, benchmarks, closing).
    void WaitIdle();

Q_SIGNALS:
    // After a listing of `folder`: descriptions written there for files moved in, or the failure
    // to write them.
    void Updated(const QByteArray &folder, const TFolderUpdate &update);
    // The worker's index failed (reported once by the index itself).
    void Problem(const QString &message);

private:
    // Once the updater closes, a droppable job is skipped or stopped where it is; no job waits
    // for another writer of the index.
    void Run(std::function<void(TDescriptionIndex &)> job, bool droppable);

    QString FPath;
    QThread FThread;
    QObject *FWorker;
    std::stop_source FClosing;
    std::unique_ptr<TDescriptionIndex> FIndex; // made, used and freed on the worker thread
};
