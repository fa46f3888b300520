// The moving test picture over the whole screen of DISPLAY: zushare_testpattern [fps]. Prints
// "pattern shown WxH" once the picture has been painted a few times, so that a test or benchmark
// starting it knows when the screen holds the picture.

#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "testpatternwidget.h"

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const int fps = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    TestPatternWidget pattern(fps);
    pattern.show();
    QTimer shown;
    shown.setInterval(50);
    QObject::connect(&shown, &QTimer::timeout, &app, [&] {
        if (pattern.paints() > 3) {
            shown.stop();
            std::printf("pattern shown %dx%d\n", pattern.width(), pattern.height());
            std::fflush(stdout);
        }
    });
    shown.start();
    return app.exec();
}
