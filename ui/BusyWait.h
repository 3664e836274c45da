// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QKeyEvent;

// Work that may take long, done on a worker thread while the window waits for it: the window
// keeps painting, takes no user input (the system keeps it queued, and keys that reach the
// window anyway are held) and runs no hand-off, and shows the busy cursor once the work has
// taken longer than BusyAfter. While the object lives the cursor stays busy; when it goes, keys
// held meanwhile are handed, in order, to whichever control has the focus then.
class TBusyWait : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds BusyAfter{500};

    explicit TBusyWait(QWidget *window);
    ~TBusyWait() override;
    TBusyWait(const TBusyWait &) = delete;
    TBusyWait &operator=(const TBusyWait &) = delete;

    // Runs the work on a worker thread and returns when it is done, raising what it raised. The
    // work touches no widget.
    void Run(const std::function<void()> &work);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> FWindow;
    bool FWaiting = false;
    bool FCursorShown = false;
    std::vector<std::unique_ptr<QKeyEvent>> FHeldKeys;
};
