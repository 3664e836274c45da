// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The start-up splash: a borderless, translucent, always-on-top window with a logo, a title and
// a one-line action text, shown while the program builds its windows. Code of the same process
// changes it through three registered messages, sent with QCoreApplication::sendEvent as a
// TMessageEvent to CurrentSplash():
//   "sc_SplashAction"  Data: the action text (QString)
//   "sc_SplashTitle"   Data: the title (QString); the window caption follows it
//   "sc_SplashLogo"    Data: a QPixmap or QImage replacing the logo; no picture (the 0 of the
//                      original) leaves the logo and only runs the layout

#include <QEvent>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QLabel;
class QFrame;

class TFrmQorSplash : public QWidget {
    Q_OBJECT
public:
    explicit TFrmQorSplash(QWidget *parent = nullptr);
    ~TFrmQorSplash() override;

    QWidget *PanelMain;
    QLabel *ImageAppLogo;
    QLabel *LabelAppTitle;
    QFrame *BevelButtom;
    QLabel *LabelAppAction;

    // Identifiers of the three messages, registered when the window is created.
    QEvent::Type MsgSplashAction() const { return FMsgAction; }
    QEvent::Type MsgSplashTitle() const { return FMsgTitle; }
    QEvent::Type MsgSplashLogo() const { return FMsgLogo; }

    void SetTitle(const QString &title);
    void SetAction(const QString &action);
    // Replaces the logo; a null picture is ignored and the current logo stays.
    void SetLogo(const QPixmap &logo);

protected:
    bool event(QEvent *event) override;
    // Watches the application for a dialog about to show, to step aside for it.
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    QEvent::Type FMsgAction = QEvent::None;
    QEvent::Type FMsgTitle = QEvent::None;
    QEvent::Type FMsgLogo = QEvent::None;
};

// Shows a new splash, replacing one already up. With setApplicationTitle the title becomes the
// application title (also when empty). A null logo keeps the built-in one.
void ShowSplash(const QString &title, const QString &action, bool setApplicationTitle, const QPixmap &logo = QPixmap());
// Closes the splash if there is one. A non-empty text becomes the main window's caption.
void HideSplash(const QString &mainCaption);
// Sizes and places the splash's contents and centres it on the screen.
void LayoutSplash();

// The splash on screen, or null.
TFrmQorSplash *CurrentSplash();
// The content width: the widest logo or text any splash of this process has shown.
int SplashContentWidth();
// The built-in 321 x 94 logo.
QPixmap BuiltInSplashLogo();
