// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/MessageDlg.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
TMessageDlgHook &Hook()
{
    static TMessageDlgHook hook;
    return hook;
}

constexpr TMsgDlgBtn kButtonOrder[] = {mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry};

QMessageBox::ButtonRole RoleOf(TMsgDlgBtn button)
{
    switch (button) {
    case mbYes: return QMessageBox::YesRole;
    case mbNo: return QMessageBox::NoRole;
    case mbOK: return QMessageBox::AcceptRole;
    case mbCancel: return QMessageBox::RejectRole;
    case mbAbort: return QMessageBox::RejectRole;
    case mbRetry: return QMessageBox::AcceptRole;
    }
    return QMessageBox::ActionRole;
}

QMessageBox::Icon IconOf(TMsgDlgType type)
{
    switch (type) {
    case TMsgDlgType::mtWarning: return QMessageBox::Warning;
    case TMsgDlgType::mtError: return QMessageBox::Critical;
    case TMsgDlgType::mtInformation: return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation: return QMessageBox::Question;
    case TMsgDlgType::mtCustom: return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}
} // namespace

QString MsgDlgCaption(TMsgDlgType type)
{
    switch (type) {
    case TMsgDlgType::mtWarning: return QStringLiteral("Warning");
    case TMsgDlgType::mtError: return QStringLiteral("Error");
    case TMsgDlgType::mtInformation: return QStringLiteral("Information");
    case TMsgDlgType::mtConfirmation: return QStringLiteral("Confirm");
    case TMsgDlgType::mtCustom: return {};
    }
    return {};
}

QString MsgDlgButtonText(TMsgDlgBtn button)
{
    switch (button) {
    case mbYes: return QCoreApplication::translate("MessageDlg", "&Yes");
    case mbNo: return QCoreApplication::translate("MessageDlg", "&No");
    case mbOK: return QCoreApplication::translate("MessageDlg", "OK");
    case mbCancel: return QCoreApplication::translate("MessageDlg", "Cancel");
    case mbAbort: return QCoreApplication::translate("MessageDlg", "&Abort");
    case mbRetry: return QCoreApplication::translate("MessageDlg", "&Retry");
    }
    return {};
}

TModalResult MsgDlgButtonResult(TMsgDlgBtn button)
{
    switch (button) {
    case mbYes: return mrYes;
    case mbNo: return mrNo;
    case mbOK: return mrOk;
    case mbCancel: return mrCancel;
    case mbAbort: return mrAbort;
    case mbRetry: return mrRetry;
    }
    return mrNone;
}

TMessageDlgRequest MakeMessageDlgRequest(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons,
                                         const QString &caption)
{
    TMessageDlgRequest request;
    request.Caption = caption.isEmpty() ? MsgDlgCaption(type) : caption;
    request.Text = text;
    request.Type = type;
    request.Buttons = buttons;
    // Enter presses OK, else Yes, else Retry; Esc presses Cancel, else No, else OK.
    for (TMsgDlgBtn b : {mbOK, mbYes, mbRetry})
        if (buttons.testFlag(b)) {
            request.DefaultButton = b;
            request.HasDefault = true;
            break;
        }
    for (TMsgDlgBtn b : {mbCancel, mbNo, mbOK})
        if (buttons.testFlag(b)) {
            request.CancelButton = b;
            request.HasCancel = true;
            break;
        }
    return request;
}

TMessageDlgHook SetMessageDlgHook(TMessageDlgHook hook)
{
    TMessageDlgHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

TModalResult ShowMessageDlgRequest(const TMessageDlgRequest &request, QWidget *parent)
{
    if (Hook())
        return Hook()(request);

    QMessageBox box(parent);
    box.setWindowTitle(request.Caption);
    box.setIcon(IconOf(request.Type));
    box.setText(request.Text);
    box.setTextFormat(Qt::PlainText);
    QList<std::pair<QAbstractButton *, TMsgDlgBtn>> made;
    for (TMsgDlgBtn b : kButtonOrder) {
        if (!request.Buttons.testFlag(b))
            continue;
        QPushButton *button = box.addButton(MsgDlgButtonText(b), RoleOf(b));
        made.append({button, b});
        if (request.HasDefault && request.DefaultButton == b)
            box.setDefaultButton(button);
        if (request.HasCancel && request.CancelButton == b)
            box.setEscapeButton(button);
    }
    box.exec();
    for (const auto &[button, b] : made)
        if (box.clickedButton() == button)
            return MsgDlgButtonResult(b);
    // Closed without a button: counts as the cancel button.
    return request.HasCancel ? MsgDlgButtonResult(request.CancelButton) : mrCancel;
}

TModalResult MessageDlg(const QString &text, TMsgDlgType type, TMsgDlgButtons buttons, QWidget *parent)
{
    return ShowMessageDlgRequest(MakeMessageDlgRequest(text, type, buttons), parent);
}
