// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the main window, to drive the single-instance hand-off between real processes.
// It starts the way the program does (the hand-off check first), lists folders by creating their
// Folder.dnt, and reports on standard output what the running instance did:
//   LISTED <folder>   a folder was listed
//   READY <socket>    the instance answers hand-offs from now on
//   RESTORE <state>   a restore request was handled; state is "normal" or "minimized"
//   PARM <text>       a handed-over text arrived
//   MODAL <result>    the modal dialog opened on request ended (0 = cancelled)
// Lines on standard input: "modal" opens a modal dialog; end of input ends the instance.
// DN_STANDIN_MINIMIZED=1 starts it minimised.

#include "common/ErrorReport.h"
#include "common/Exceptions.h"
#include "common/MessageDlg.h"
#include "system/QorPrevInst.h"
#include "system/StartTarget.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

namespace {
void Report(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Boxes are answered with their default button: nobody sits in front of a test.
void AnswerBoxesUnattended()
{
    SetMessageDlgHook([](const TMessageDlgRequest &request) {
        return request.HasDefault ? MsgDlgButtonResult(request.DefaultButton) : mrCancel;
    });
}

class TStandInWindow : public QWidget, public TPrevInstHandler {
public:
    TStandInWindow()
    {
        setObjectName(QStringLiteral("FrmMain"));
        resize(453, 476);
    }

    bool LoadFolder(const QByteArray &folder)
    {
        if (folder.isEmpty() || !QFileInfo(QFile::decodeName(folder)).isDir())
            return false;
        const QByteArray path = folder.endsWith('/') ? folder : folder + '/';
        QFile file(QFile::decodeName(path + "Folder.dnt"));
        if (!file.exists() && file.open(QIODevice::WriteOnly))
            file.write("[ThisFolder]\r\n");
        Report("LISTED " + path);
        return true;
    }

    void PrevInstRestore() override
    {
        RestoreApplication(this);
        Report("RESTORE " + State());
    }

    void PrevInstParm(const QByteArray &text) override
    {
        Report("PARM " + text);
        // The exact bytes, for texts whose line feeds would split the line above.
        Report("PARMHEX " + text.toHex());
        CloseModalDialogs();
        LoadFolder(HandedOverTarget(text).Folder);
        RestoreApplication(this);
    }

    void OpenModalDialog()
    {
        QDialog dialog(this);
        dialog.setObjectName(QStringLiteral("DialogStandIn"));
        QTimer::singleShot(0, &dialog, [] { Report("MODAL open"); });
        Report("MODAL " + QByteArray::number(dialog.exec()));
    }

private:
    QByteArray State() const { return isMinimized() ? "minimized" : "normal"; }
};
} // namespace

int main(int argc, char **argv)
{
    try {
        CheckPrevInstance(QStringLiteral("TFrmMain"), 123458);
    } catch (const TException &e) {
        TApplication app(argc, argv);
        AnswerBoxesUnattended();
        ShowApplicationError(e.Message());
        return 1;
    }

    TApplication app(argc, argv);
    AnswerBoxesUnattended();
    TStandInWindow window;
    const QByteArray first = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (!window.LoadFolder(first))
        window.LoadFolder(QFile::encodeName(QDir::currentPath()));
    if (qEnvironmentVariableIntValue("DN_STANDIN_MINIMIZED") == 1)
        window.showMinimized();
    else
        window.show();

    TPrevInstServer server(QStringLiteral("TFrmMain"), 123458, &window);
    if (!server.Listen())
        Report("NOSERVER " + server.ErrorString().toUtf8());
    else
        Report("READY " + QFile::encodeName(server.ServerName()));

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        if (QByteArray(buffer, n).contains("modal"))
            QTimer::singleShot(0, &window, [&window] { window.OpenModalDialog(); });
    });
    return app.exec();
}
