#include <QApplication>
#include <QSysInfo>
#include <QTimer>

#include "core/logger.h"
#include "core/platformflags.h"
#include "mainwindow.h"
#include "report/reportmanager.h"
#include "rtc/rtcmanager.h"
#include "terminationhandler.h"
#include "ui/uilanguage.h"
#include "video/openglhelper.h"

int main(int argc, char *argv[]) {
    // There is no socket library to start on this platform; the rest of the order stays as it is.
    g_logger->info("zu share start");
    isWin10 = platformflags::isWindows10Version(QSysInfo::productVersion());

    QApplication app(argc, argv);
    TerminationHandler termination;
    UiLanguage::applyForUser();

    int exitCode = 0;
    {
        MainWindow window;
        if (!OpenGLHelper::isSupported()) {
            QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
        }
        // Declared after the window so that it is destroyed first.
        ReportManager reportManager(nullptr);
        reportManager.report();
        window.show();
        // A user looks at the start page for a while before joining or sharing: the engine's start-up
        // is done by then, once the window is up.
        QTimer::singleShot(0, &window, [] { RtcManager::prepareMediaEngine(); });
        exitCode = app.exec();
    }
    return exitCode;
}
