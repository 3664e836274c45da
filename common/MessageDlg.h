// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFlags>
#include <QString>
#include <functional>

class QWidget;

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn {
    mbYes = 0x01,
    mbNo = 0x02,
    mbOK = 0x04,
    mbCancel = 0x08,
    mbAbort = 0x10,
    mbRetry = 0x20,
};
Q_DECLARE_FLAGS(TMsgDlgButtons, TMsgDlgBtn)
Q_DECLARE_OPERATORS_FOR_FLAGS(TMsgDlgButtons)

// The result of a modal dialog; the values follow the original program's modal results.
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrYes = 6, mrNo = 7 };

// Everything a message box shows, resolved before it is shown (so a test can check it).
struct TMessageDlgRequest {
    QString Caption;
    QString Text;
    TMsgDlgType Type = TMsgDlgType::mtInformation;
    TMsgDlgButtons Buttons;
    TMsgDlgBtn DefaultButton = mbOK; // only meaningful when HasDefault
    bool HasDefault = false;
    TMsgDlgBtn CancelButton = mbCancel; // only meaningful when HasCancel
    bool HasCancel = false;
};

QString MsgDlgCaption(TMsgDlgType type);
QString MsgDlgButtonText(TMsgDlgBtn button);
TModalResult MsgDlgButtonResult(TMsgDlgBtn button);
TMessageDlgRequest MakeMessageDlgRequest(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons,
                                         const QString &caption = {});

// Shows a modal message box and returns the button pressed; closing the box is the cancel
// button's result (mrCancel when the box has none).
TModalResult MessageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, QWidget *parent = nullptr);
TModalResult ShowMessageDlgRequest(const TMessageDlgRequest &request, QWidget *parent = nullptr);

// Tests and non-interactive runs answer message boxes through a hook instead of a person.
using TMessageDlgHook = std::function<TModalResult(const TMessageDlgRequest &)>;
TMessageDlgHook SetMessageDlgHook(TMessageDlgHook hook);
