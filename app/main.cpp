#include "common/ErrorReport.h"
#include "ui/Main.h"

#include <QDir>
#include <QFile>

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TFrmMain main;
    // The first argument is the folder to list, else the current directory.
    const QByteArray folder = argc > 1 ? QByteArray(argv[1]) : QFile::encodeName(QDir::currentPath());
    ReportErrors([&] { main.LoadFolder(folder); });
    main.show();
    return app.exec();
}
