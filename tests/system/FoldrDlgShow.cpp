// SPDX-License-Identifier: GPL-3.0-or-later
// Shows the folder picker over a stand-in main window, for looking at it under a display:
//   foldrdlg_show [folder to preselect] [text above the tree]
// Prints the chosen folder, or nothing after Cancel.
#include "system/FoldrDlg.h"

#include <QApplication>
#include <QTextStream>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();

    QWidget owner;
    owner.setWindowTitle(QStringLiteral("DirNote"));
    owner.setGeometry(40, 40, 720, 540);
    owner.show();

    TFolderDialog picker(&owner);
    picker.SetDirectory(args.value(1));
    picker.SetText(args.value(2));
    if (picker.Browse())
        QTextStream(stdout) << picker.Directory() << '\n';
    return 0;
}
