// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/IndexTree.h"

#include "common/TextCodec.h"
#include "common/ThreadHandOff.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <chrono>
#include <limits>

TFrmIndexTree::TFrmIndexTree(const QByteArray &root, const QString &indexPath, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FrmIndexTree"));
    setWindowTitle(tr("Index this folder and its subfolders"));
    setMinimumWidth(420);
    LabelProgress = new QLabel(tr("Indexing %1").arg(DecodeName(root)), this);
    LabelProgress->setObjectName(QStringLiteral("LabelProgress"));
    // A long path must not widen the dialog.
    LabelProgress->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 0); // busy until the first count
    BitBtnCancel = new QPushButton(tr("Cancel"), this);
    BitBtnCancel->setObjectName(QStringLiteral("BitBtnCancel"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(LabelProgress);
    layout->addWidget(ProgressBar);
    layout->addWidget(BitBtnCancel, 0, Qt::AlignRight);
    connect(BitBtnCancel, &QPushButton::clicked, this, &TFrmIndexTree::reject);

    FWorker = std::thread([this, root, indexPath] {
        TDescriptionIndex index(indexPath);
        // The window hears of the progress at most every 50 ms (the walk must not flood it), and
        // at once when the count is known; the final counts go with the end, so the last folders
        // are never left out of them.
        auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
        TTreeProgress ended; // the last state the walk reported
        const bool completed = index.IndexTree(root, [this, &last, &ended](const TTreeProgress &progress) {
            const auto now = std::chrono::steady_clock::now();
            if (now - last >= std::chrono::milliseconds(50) || progress.Counted != ended.Counted) {
                last = now;
                InvokeOn(this, [this, progress] { ShowProgress(progress); });
            }
            ended = progress;
            return !FCancel.load();
        });
        const QString problem = index.TakeProblem();
        InvokeOn(this, [this, completed, problem, ended] { Finish(completed, problem, ended); });
    });
}

TFrmIndexTree::~TFrmIndexTree()
{
    // Answers the worker posted and this dialog never handled go with it.
    StopWorker();
}

void TFrmIndexTree::StopWorker()
{
    FCancel = true;
    if (FWorker.joinable())
        FWorker.join();
}

void TFrmIndexTree::ShowProgress(const TTreeProgress &progress)
{
    if (!IsRunning())
        return;
    FProgress = progress;
    if (!progress.Counted) {
        // Busy until the tree is counted: a total still growing would say nothing true.
        ProgressBar->setRange(0, 0);
        LabelProgress->setText(tr("Counting folders: %1 found").arg(progress.FoldersSeen));
    } else {
        // Large trees are shown in steps that fit the bar's int.
        const qint64 step = progress.FoldersSeen / std::numeric_limits<int>::max() + 1;
        ProgressBar->setRange(0, int(progress.FoldersSeen / step));
        ProgressBar->setValue(int(progress.FoldersDone / step));
        LabelProgress->setText(tr("%1 of %2 folders: %3")
                                   .arg(progress.FoldersDone)
                                   .arg(progress.FoldersSeen)
                                   .arg(DecodeName(progress.Current)));
    }
    Q_EMIT ProgressShown();
}

void TFrmIndexTree::Finish(bool completed, const QString &problem, const TTreeProgress &ended)
{
    StopWorker();
    FProgress = ended;
    FCompleted = completed && problem.isEmpty();
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(FCompleted ? 1 : 0);
    if (!problem.isEmpty())
        LabelProgress->setText(tr("The index cannot be written: %1").arg(problem));
    else if (completed)
        LabelProgress->setText(tr("Done: %n folders indexed.", nullptr, int(ended.FoldersDone)));
    BitBtnCancel->setText(tr("Close"));
    Q_EMIT ProgressShown();
}

void TFrmIndexTree::reject()
{
    StopWorker();
    QDialog::reject();
}
