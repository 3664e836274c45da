// SPDX-License-Identifier: GPL-3.0-or-later
#include "index/IndexUpdater.h"

#include "common/ThreadHandOff.h"

TIndexUpdater::TIndexUpdater(const QString &path, QObject *parent) : QObject(parent), FPath(path), FWorker(new QObject)
{
    FWorker->moveToThread(&FThread);
    connect(&FThread, &QThread::finished, FWorker, &QObject::deleteLater);
    FThread.setObjectName(QStringLiteral("DescriptionIndex"));
    FThread.start(QThread::LowPriority);
}

TIndexUpdater::~TIndexUpdater()
{
    // Listings' updates stop or are skipped; commits' rows queued before are still written unless
    // they would wait for another writer. The index is then closed on its own thread.
    FClosing.request_stop();
    InvokeOn(
        FWorker, [this] { FIndex.reset(); }, Qt::BlockingQueuedConnection);
    FThread.quit();
    FThread.wait();
}

void TIndexUpdater::Run(std::function<void(TDescriptionIndex &)> job, bool droppable)
{
    InvokeOn(
        FWorker,
        [this, droppable, job = std::move(job)] {
            if (droppable && FClosing.stop_requested())
                return;
            if (!FIndex)
                FIndex = std::make_unique<TDescriptionIndex>(FPath);
            FIndex->SetStopToken(FClosing.get_token(), droppable);
            if (FIndex->IsUsable())
                job(*FIndex);
            if (QString problem = FIndex->TakeProblem(); !problem.isEmpty())
                InvokeOn(this, [this, problem] { Q_EMIT Problem(problem); });
        },
        Qt::QueuedConnection);
}

void TIndexUpdater::Listed(const TFolderCatalogue &catalogue)
{
    Listed(std::make_shared<const TFolderCatalogue>(catalogue));
}

void TIndexUpdater::Listed(std::shared_ptr<const TFolderCatalogue> catalogue)
{
    Run(
        [this, catalogue = std::move(catalogue)](TDescriptionIndex &index) {
            TFolderUpdate update = index.UpdateFolder(*catalogue);
            if (!update.Moved.empty() || !update.Error.isEmpty())
                InvokeOn(this, [this, folder = catalogue->Folder, update = std::move(update)] {
                    Q_EMIT Updated(folder, update);
                });
        },
        true);
}

void TIndexUpdater::Written(const QByteArray &folder, bool isFolder, const QByteArray &name, const QByteArray &text)
{
    Run([=](TDescriptionIndex &index) { index.EntryWritten(folder, isFolder, name, text); }, false);
}

void TIndexUpdater::WaitIdle()
{
    InvokeOn(
        FWorker, [] {}, Qt::BlockingQueuedConnection);
}
