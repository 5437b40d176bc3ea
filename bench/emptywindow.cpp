// The reference for start-up and memory: the least a Qt Widgets program shows,
// one fixed-size label, in the chooser's size and colours.
#include <QApplication>
#include <QLabel>
#include <QPalette>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Port"));
    label.setWindowTitle(QStringLiteral("Empty window"));
    QPalette palette = label.palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, QColor(255, 128, 0));
    label.setPalette(palette);
    label.setAutoFillBackground(true);
    label.setAlignment(Qt::AlignCenter);
    label.setFixedSize(98, 177);
    label.show();
    return QApplication::exec();
}
