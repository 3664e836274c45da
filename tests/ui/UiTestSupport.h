// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/AtomicFile.h"
#include "ui/Main.h"
#include "ui/StringGrid.h"

#include "TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <functional>
#include <QKeyEvent>
#include <QTest>

#include <gtest/gtest.h>

namespace UiTest {

// Keys go where a person's keys go: to the widget that has the focus.
inline void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget *target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr) << "no widget has the focus";
    QTest::keyClick(target, key, modifiers);
}

inline void Type(const QString &text)
{
    for (const QChar c : text) {
        QWidget *target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        if (c.unicode() < 0x80) {
            QTest::keyClicks(target, QString(c));
            continue;
        }
        // Keys beyond ASCII arrive as text, as an input method delivers them.
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(QApplication::focusWidget(), &release);
    }
}

// Arguments that make a new main window list nothing: the folder of a "Folder.dnt" that does not
// exist. Tests list what they need themselves.
inline QByteArrayList NothingToList(const TestSupport::TTempDir &dir)
{
    return {dir.Path() + "/unlisted/Folder.dnt"};
}

inline void ShowAndActivate(QWidget &window)
{
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

inline QRect CellRect(TStringGrid *grid, int col, int row)
{
    return grid->visualRect(grid->GridModel()->index(row, col));
}

inline void ClickCell(TStringGrid *grid, int col, int row)
{
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, CellRect(grid, col, row).center());
}

// Every write replaces the file, so a new inode means the file was written.
inline unsigned long long Inode(const QByteArray &path)
{
    return StampOf(path).Inode;
}

// Cancels the next modal dialog once it is up, after running `check` on it.
class TModalCanceller {
public:
    explicit TModalCanceller(std::function<void(QDialog *)> check) : FCheck(std::move(check))
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            FTimer.stop();
            FCheck(dialog);
            Seen = true;
            dialog->reject();
        });
        FTimer.start(5);
    }
    bool Seen = false;

private:
    std::function<void(QDialog *)> FCheck;
    QTimer FTimer;
};

} // namespace UiTest
