// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <functional>

class QAction;
class QMenu;
class QPoint;
class QWidget;

// The window menu, the stand-in for the system menu: Restore, Minimize, Maximize and Close act
// on the window; every item's command goes through one handler, as a system command would.
class TWindowMenu : public QObject {
    Q_OBJECT
public:
    // Commands of the window menu: the standard ones, and the About item.
    static constexpr int SC_MINIMIZE = 0xF020, SC_MAXIMIZE = 0xF030, SC_CLOSE = 0xF060, SC_RESTORE = 0xF120;

    // onCommand runs an item's command (errors reported by the caller's own rules).
    TWindowMenu(QWidget *window, std::function<void(int)> onCommand);

    QMenu *Menu() const { return FMenu; }
    QAction *AddItem(const QString &text, int command);
    void AddSeparator();
    void Popup(const QPoint &globalPos);
    // Runs a standard command on the window; false for any other command.
    bool RunStandard(int command);

private:
    // Restore, Minimize and Maximize are offered only where they change the window's state.
    void EnableForState();

    QWidget *FWindow;
    QMenu *FMenu;
    std::function<void(int)> FOnCommand;
};
