// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// "Index this folder and its subfolders": indexes every Folder.dnt of a tree on a worker thread
// with an index object of its own, while this dialog shows the progress and can cancel. What was
// indexed before a cancel stays in the index.

#include "index/DescriptionIndex.h"

#include <QDialog>

#include <atomic>
#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;

class TFrmIndexTree : public QDialog {
    Q_OBJECT
public:
    // The worker starts at once.
    TFrmIndexTree(const QByteArray &root, const QString &indexPath, QWidget *parent = nullptr);
    ~TFrmIndexTree() override;

    bool IsRunning() const { return FWorker.joinable(); }
    // Whether the walk went through to its end.
    bool Completed() const { return FCompleted; }
    // What the dialog shows; once the walk has ended, its final counts.
    const TTreeProgress &Progress() const { return FProgress; }
    // Cancels a walk under way (waiting for the worker to stop) and closes the dialog.
    void reject() override;

    QLabel *LabelProgress = nullptr;
    QProgressBar *ProgressBar = nullptr;
    QPushButton *BitBtnCancel = nullptr;

Q_SIGNALS:
    void ProgressShown();

private:
    void ShowProgress(const TTreeProgress &progress);
    void Finish(bool completed, const QString &problem, const TTreeProgress &ended);
    void StopWorker();

    std::thread FWorker;
    std::atomic<bool> FCancel{false};
    TTreeProgress FProgress;
    bool FCompleted = false;
};
