// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "index/DescriptionIndex.h"

#include <QObject>
#include <QThread>

#include <memory>

// Runs the index's work after a listing on a thread of its own, with its own connection, so the
// listing the user waits for pays only for handing the catalogue over. Results come back as
// signals on the thread that owns the updater.
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
    void Run(std::function<void(TDescriptionIndex &)> job);

    QString FPath;
    QThread FThread;
    QObject *FWorker;
    std::unique_ptr<TDescriptionIndex> FIndex; // made, used and freed on the worker thread
};
