// The probe on a display whose contexts are OpenGL ES: a context is made and made current, but it
// offers no desktop OpenGL 1.0 functions, so the process takes the software path.

#include <QApplication>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QtTest>

#include "support/pinlibraries.h"
#include "video/openglhelper.h"
#include "video/videoframefactory.h"

class TestVideoProbe : public QObject {
    Q_OBJECT

private slots:
    // Earlier fault: the probe ignored the application's default format and made a desktop context.
    void contextWithoutDesktopFunctions() {
        QObject owner;
        QVERIFY(OpenGLHelper::init(&owner));
        pinLoadedLibraries();
        const auto contexts = owner.findChildren<QOpenGLContext *>();
        QCOMPARE(contexts.size(), 1);
        QVERIFY(contexts.first()->isOpenGLES());
        QVERIFY(!OpenGLHelper::isSupported());
        QCOMPARE(VideoFrameFactory::processKind(), VideoFrameKind::ARGB);
    }
};

int main(int argc, char **argv) {
    qputenv("QT_XCB_GL_INTEGRATION", "xcb_egl");
    QSurfaceFormat es;
    es.setRenderableType(QSurfaceFormat::OpenGLES);
    es.setVersion(2, 0);
    QSurfaceFormat::setDefaultFormat(es);
    QApplication app(argc, argv);
    TestVideoProbe test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_videoprobe.moc"
