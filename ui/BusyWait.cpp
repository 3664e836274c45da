// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/BusyWait.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>

#include <atomic>
#include <exception>
#include <thread>

TBusyWait::TBusyWait(QWidget *window) : FWindow(window)
{
}

TBusyWait::~TBusyWait()
{
    if (FCursorShown)
        QApplication::restoreOverrideCursor();
    if (FHeldKeys.empty() || !FWindow)
        return;
    // Handed on from the event loop, after the caller has finished what the keys must find done
    // (the new rows, the cursor placed); each goes to the control focused when it is delivered,
    // as typing does: the first key may open a cell editor that takes the next ones.
    auto held = std::make_shared<std::vector<std::unique_ptr<QKeyEvent>>>(std::move(FHeldKeys));
    QWidget *window = FWindow;
    QTimer::singleShot(0, window, [window, held] {
        for (const std::unique_ptr<QKeyEvent> &key : *held) {
            QWidget *focus = QApplication::focusWidget();
            if (!focus || focus->window() != window)
                return;
            std::unique_ptr<QKeyEvent> copy(key->clone());
            QApplication::sendEvent(focus, copy.get());
        }
    });
}

void TBusyWait::Run(const std::function<void()> &work)
{
    std::exception_ptr error;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QTimer cursor;
    cursor.setSingleShot(true);
    cursor.setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5% early
    connect(&cursor, &QTimer::timeout, this, [this] {
        if (!FCursorShown)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        FCursorShown = true;
    });
    cursor.start(BusyAfter);
    // The filter sees events before the window's key preview, so no command runs meanwhile.
    qApp->installEventFilter(this);
    FWaiting = true;
    // Socket notifiers stay off: a hand-off from a second start waits for the work too. Quitting
    // the application ends the loop early; the work is awaited all the same.
    loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    worker.join();
    FWaiting = false;
    qApp->removeEventFilter(this);
    cursor.stop();
    if (error)
        std::rethrow_exception(error);
}

bool TBusyWait::eventFilter(QObject *watched, QEvent *event)
{
    if (!FWaiting || !watched->isWidgetType() || static_cast<QWidget *>(watched)->window() != FWindow)
        return false;
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        // Delivered once to the focused control; its parents' copies of the same key are not.
        if (watched == QApplication::focusWidget())
            FHeldKeys.emplace_back(static_cast<QKeyEvent *>(event)->clone());
        return true;
    case QEvent::ShortcutOverride:
        // Taken for a key press, so that no accelerator or shortcut runs now.
        event->accept();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel: return true;
    default: return false;
    }
}
