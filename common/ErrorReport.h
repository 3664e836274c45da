// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QString>
#include <exception>

// The message as the error box shows it: a full stop appended when the last character sorts
// after ".".
QString ErrorMessageText(const QString &message);

// The application's error report: an error box with the application title as caption. Every
// report is also written to standard error, so unattended runs leave a trace.
void ShowException(const QString &message);
void ShowException(const std::exception &error);
// Start-up failures before the message loop: a box titled "Application Error".
void ShowApplicationError(const QString &message);

// Runs a handler and reports what escapes it; returns false when it failed.
template <typename F> bool ReportErrors(F &&handler);

// The one place where an exception escaping any event handler is caught and reported.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

#include "common/Exceptions.h"

template <typename F> bool ReportErrors(F &&handler)
{
    try {
        handler();
        return true;
    } catch (const TException &e) {
        ShowException(e.Message());
    } catch (const std::exception &e) {
        ShowException(e);
    }
    return false;
}
