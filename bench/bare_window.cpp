// SPDX-License-Identifier: GPL-3.0-or-later
// The floors of the start-up benchmark: a Qt window of the main window's size and nothing else;
// with --text, one line of text in it, so the font set-up every text needs is paid too; with
// --tables, what the main window shows at its start built from Qt's own parts (a heading, two
// tables of 100 and 900 rows of two columns fitted to their texts); --splash adds a splash
// window shown and painted before the window is built.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <cstring>
#include <memory>

namespace {
bool Has(int argc, char **argv, const char *option)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], option) == 0)
            return true;
    return false;
}

QTableView *Table(const QString &kind, int rows, QWidget *parent)
{
    auto *model = new QStandardItemModel(rows, 2, parent);
    for (int row = 0; row < rows; ++row) {
        const QString name = kind + u' ' + QString::number(row);
        model->setItem(row, 0, new QStandardItem(name));
        if (row % 2 == 0)
            model->setItem(row, 1, new QStandardItem(QStringLiteral("Description of ") + name));
    }
    auto *table = new QTableView(parent);
    table->setModel(model);
    table->resizeColumnsToContents();
    return table;
}

// Shows a small frameless window and lets the display put it on screen before going on, as a
// splash must be seen while the rest is built.
std::unique_ptr<QWidget> Splash()
{
    auto splash = std::make_unique<QWidget>(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint);
    splash->resize(338, 178);
    auto *layout = new QVBoxLayout(splash.get());
    layout->addWidget(new QLabel(QStringLiteral("Bare"), splash.get()));
    layout->addWidget(new QLabel(QStringLiteral("Initializing ..."), splash.get()));
    splash->show();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 500 && !(splash->windowHandle() && splash->windowHandle()->isExposed()))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents);
    splash->repaint();
    return splash;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    std::unique_ptr<QWidget> splash = Has(argc, argv, "--splash") ? Splash() : nullptr;
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.resize(445, 449);
    if (Has(argc, argv, "--tables")) {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(new QLabel(QStringLiteral("Folder:"), &window));
        layout->addWidget(Table(QStringLiteral("folder"), 100, &window));
        layout->addWidget(Table(QStringLiteral("file"), 900, &window));
    } else if (Has(argc, argv, "--text")) {
        new QLabel(QStringLiteral("Folder:"), &window);
    }
    splash.reset();
    window.show();
    return app.exec();
}
