#include <QApplication>
#include <QSysInfo>

#include "core/logger.h"
#include "core/platformflags.h"
#include "video/openglhelper.h"
#include "mainwindow.h"
#include "report/reportmanager.h"
#include "terminationhandler.h"

int main(int argc, char *argv[])
{
    // There is no socket library to start on this platform; the rest of the order stays as it is.
    g_logger->info("zu share start");
    isWin10 = platformflags::isWindows10Version(QSysInfo::productVersion());

    QApplication app(argc, argv);
    TerminationHandler termination;

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
        exitCode = app.exec();
    }
    return exitCode;
}
