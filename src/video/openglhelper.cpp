#include "video/openglhelper.h"

#include <atomic>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_1_0>
#include <QSurfaceFormat>

namespace {
std::atomic<bool> g_supported{false};
}

bool OpenGLHelper::init(QObject *parent) {
    // The application's default format, so that a choice such as OpenGL ES made there is honoured.
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setSamples(4);
    auto *context = new QOpenGLContext(parent);
    context->setFormat(format);
    if (!context->create()) {
        g_supported.store(false);
        return false;
    }
    // A null surface only releases the current context in Qt 5 and proves nothing; a real
    // offscreen surface shows whether the context can be used at all.
    QOffscreenSurface surface;
    surface.setFormat(context->format());
    surface.create();
    if (!surface.isValid() || !context->makeCurrent(&surface)) {
        g_supported.store(false);
        return false;
    }
    auto *functions = context->isOpenGLES() ? nullptr : context->versionFunctions<QOpenGLFunctions_1_0>();
    g_supported.store(functions != nullptr && functions->initializeOpenGLFunctions());
    context->doneCurrent();
    return true;
}

bool OpenGLHelper::isSupported() {
    return g_supported.load();
}
