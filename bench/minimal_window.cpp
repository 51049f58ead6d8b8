// The yardstick for Selvatro's start-up: a bare Qt window with the same widgets (ten line edits, two labels,
// a frame holding a 300 x 40 picture), created minimised, and nothing else.

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QWidget>
#include <csignal>

int main(int argc, char** argv) {
    std::signal(SIGTERM, [](int) { std::_Exit(0); });
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    window.setFixedSize(356, 200);
    for (int i = 0; i < 2; ++i) {
        (new QLabel(QStringLiteral("Heading"), &window))->setGeometry(8 + 228 * i, 0, 117, 21);
    }
    for (int row = 0; row < 5; ++row) {
        (new QLineEdit(&window))->setGeometry(4, 22 + 26 * row, 317, 23);
        (new QLineEdit(&window))->setGeometry(324, 22 + 26 * row, 27, 23);
    }
    auto* frame = new QFrame(&window);
    frame->setGeometry(4, 156, 349, 41);
    QPixmap picture(300, 40);
    picture.fill(Qt::darkBlue);
    auto* logo = new QLabel(frame);
    logo->setGeometry(0, -4, 385, 41);
    logo->setPixmap(picture);
    logo->setScaledContents(true);
    window.showMinimized();
    return QApplication::exec();
}
