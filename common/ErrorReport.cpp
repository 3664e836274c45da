// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ErrorReport.h"

#include "common/AppTitle.h"
#include "common/Exceptions.h"
#include "common/MessageDlg.h"

#include <cstdio>

QString ErrorMessageText(const QString &message)
{
    if (!message.isEmpty() && message.back() > u'.')
        return message + u'.';
    return message;
}

namespace {
void WriteToStandardError(const QString &caption, const QString &text)
{
    std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void ShowErrorBox(const QString &caption, const QString &message)
{
    const QString text = ErrorMessageText(message);
    WriteToStandardError(caption, text);
    TMessageDlgRequest request = MakeMessageDlgRequest(text, TMsgDlgType::mtError, mbOK, caption);
    ShowMessageDlgRequest(request);
}
} // namespace

void ShowException(const QString &message)
{
    ShowErrorBox(ApplicationTitle(), message);
}

void ShowException(const std::exception &error)
{
    ShowException(QString::fromUtf8(error.what()));
}

void ShowApplicationError(const QString &message)
{
    ShowErrorBox(QStringLiteral("Application Error"), message);
}

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const TException &e) {
        ShowException(e.Message());
    } catch (const std::exception &e) {
        ShowException(e);
    }
    return false;
}
