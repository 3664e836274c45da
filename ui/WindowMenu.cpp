// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/WindowMenu.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

#include <utility>

TWindowMenu::TWindowMenu(QWidget *window, std::function<void(int)> onCommand)
    : QObject(window), FWindow(window), FMenu(new QMenu(window)), FOnCommand(std::move(onCommand))
{
    FMenu->setObjectName(QStringLiteral("WindowMenu"));
    FMenu->setAccessibleName(tr("Window menu"));
    connect(FMenu, &QMenu::aboutToShow, this, &TWindowMenu::EnableForState);
}

QAction *TWindowMenu::AddItem(const QString &text, int command)
{
    QAction *action = FMenu->addAction(text);
    action->setData(command);
    connect(action, &QAction::triggered, this, [this, command] { FOnCommand(command); });
    return action;
}

void TWindowMenu::AddSeparator()
{
    FMenu->addSeparator();
}

void TWindowMenu::Popup(const QPoint &globalPos)
{
    FMenu->popup(globalPos);
}

bool TWindowMenu::RunStandard(int command)
{
    switch (command & 0xFFF0) {
    case SC_RESTORE: FWindow->showNormal(); return true;
    case SC_MINIMIZE: FWindow->showMinimized(); return true;
    case SC_MAXIMIZE: FWindow->showMaximized(); return true;
    case SC_CLOSE: FWindow->close(); return true;
    }
    return false;
}

void TWindowMenu::EnableForState()
{
    const Qt::WindowStates state = FWindow->windowState();
    for (QAction *action : FMenu->actions()) {
        switch (action->data().toInt()) {
        case SC_RESTORE: action->setEnabled(state & (Qt::WindowMaximized | Qt::WindowMinimized)); break;
        case SC_MINIMIZE: action->setEnabled(!(state & Qt::WindowMinimized)); break;
        case SC_MAXIMIZE: action->setEnabled(!(state & Qt::WindowMaximized)); break;
        }
    }
}
