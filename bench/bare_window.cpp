// SPDX-License-Identifier: GPL-3.0-or-later
// The floor of the start-up benchmark: a Qt window of the main window's size and nothing else;
// with --text, one line of text in it, so the font set-up every text needs is paid too.
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstring>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.resize(445, 449);
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0)
        new QLabel(QStringLiteral("Folder:"), &window);
    window.show();
    return app.exec();
}
