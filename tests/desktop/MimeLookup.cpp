// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the MIME type that Qt's implementation of the shared MIME database gives each file
// name on the command line, one per line, from the name alone (as a file manager listing a
// folder does). The databases are the ones under XDG_DATA_HOME and XDG_DATA_DIRS.
#include <QCoreApplication>
#include <QMimeDatabase>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QMimeDatabase db;
    const QStringList names = QCoreApplication::arguments().mid(1);
    for (const QString &name : names)
        std::printf("%s\n", qPrintable(db.mimeTypeForFile(name, QMimeDatabase::MatchExtension).name()));
    return 0;
}
