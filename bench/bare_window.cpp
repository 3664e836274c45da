// The floor of the start-up benchmark: a Qt window of the main window's size and nothing else.
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.resize(445, 449);
    window.show();
    return app.exec();
}
