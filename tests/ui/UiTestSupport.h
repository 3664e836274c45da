#pragma once

#include "common/AtomicFile.h"
#include "ui/Main.h"
#include "ui/StringGrid.h"

#include "TestSupport.h"

#include <QApplication>
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

} // namespace UiTest
