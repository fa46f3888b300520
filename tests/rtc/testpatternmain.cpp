// The moving test picture over the whole screen of DISPLAY: zushare_testpattern [fps].

#include <QApplication>

#include "testpatternwidget.h"

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const int fps = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    TestPatternWidget pattern(fps);
    pattern.show();
    return app.exec();
}
