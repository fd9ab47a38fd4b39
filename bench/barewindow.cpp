// The floor for start-up and memory: the least a Qt 6 widgets program does to show a window.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare Qt window"));
    window.resize(600, 300);
    window.show();
    return QApplication::exec();
}
