// Per-frame cost of the video path at 1280x720 and 1920x1080, side by side with a plain memcpy of
// the same I420 bytes: plane copy into a reused YUVFrame, conversion into a reused ARGBFrame, and
// (with a display) one paint of OpenGLWidget and of VideoWidget. Run under an X server for the
// paints: xvfb-run -s "-screen 0 1920x1080x24" ./zushare_bench_video
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QWindow>

#include "video/framepair.h"
#include "video/openglhelper.h"
#include "video/openglwidget.h"
#include "video/videoframefactory.h"
#include "video/videowidget.h"

namespace {

// Runs one upload and draw into the widget's framebuffer and waits until the driver is done.
class TimedOpenGLWidget : public OpenGLWidget {
public:
    void paintNow() {
        makeCurrent();
        paintGL();
        context()->functions()->glFinish();
        doneCurrent();
    }
};

// Shows a widget and waits until the X server has mapped it, so that repaints really paint.
bool showAndWait(QWidget &widget) {
    widget.show();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        if (widget.windowHandle() && widget.windowHandle()->isExposed())
            return true;
    }
    return false;
}

// Median microseconds of one call.
double measure(int rounds, const std::function<void()> &step) {
    std::vector<double> times;
    step();  // warm-up: first-touch of the buffers, shader compilation
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        step();
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

struct Picture {
    int width, height;
    std::vector<uint8_t> y, u, v;
    Picture(int w, int h) : width(w), height(h) {
        y.resize(std::size_t(w) * h);
        u.resize(std::size_t((w + 1) / 2) * ((h + 1) / 2));
        v.resize(u.size());
        for (std::size_t i = 0; i < y.size(); ++i)
            y[i] = uint8_t(i * 7);
        for (std::size_t i = 0; i < u.size(); ++i) {
            u[i] = uint8_t(i * 3);
            v[i] = uint8_t(255 - i);
        }
    }
    I420Planes planes() const {
        I420Planes p;
        p.y = y.data();
        p.u = u.data();
        p.v = v.data();
        p.strideY = width;
        p.strideU = p.strideV = (width + 1) / 2;
        p.width = width;
        p.height = height;
        return p;
    }
    std::size_t bytes() const { return y.size() + u.size() + v.size(); }
};

void row(const char *what, double us, double baseline) {
    std::printf("  %-34s %9.1f us   %6.2fx memcpy\n", what, us, us / baseline);
}

}  // namespace

int main(int argc, char **argv) {
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (!display)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QObject owner;
    OpenGLHelper::init(&owner);
    std::printf("display: %s, OpenGL: %s\n", display ? "yes" : "no (paints skipped)",
                OpenGLHelper::isSupported() ? "yes" : "no");

    const int rounds = 60;
    for (const auto &size : {std::pair<int, int>{1280, 720}, std::pair<int, int>{1920, 1080}}) {
        const Picture pic(size.first, size.second);
        const I420Planes planes = pic.planes();
        std::printf("%dx%d I420 (%zu bytes), median of %d\n", pic.width, pic.height, pic.bytes(), rounds);

        std::vector<uint8_t> target(pic.bytes());
        const double copy = measure(rounds, [&] {
            std::memcpy(target.data(), pic.y.data(), pic.y.size());
            std::memcpy(target.data() + pic.y.size(), pic.u.data(), pic.u.size());
            std::memcpy(target.data() + pic.y.size() + pic.u.size(), pic.v.data(), pic.v.size());
        });
        row("memcpy of the planes", copy, copy);

        std::shared_ptr<VideoFrameInterface> yuv, argb;
        row("fill YUVFrame (reused)",
            measure(rounds, [&] { VideoFrameFactory::fill(yuv, planes, VideoFrameKind::YUV); }), copy);
        row("fill ARGBFrame (reused, libyuv)",
            measure(rounds, [&] { VideoFrameFactory::fill(argb, planes, VideoFrameKind::ARGB); }), copy);
        FramePair pair;
        row("FramePair::deliver YUV, no view",
            measure(rounds, [&] { pair.deliver(planes, VideoFrameKind::YUV, nullptr); }), copy);

        if (!display)
            continue;
        VideoWidget painter;
        painter.resize(960, 540);
        if (!showAndWait(painter)) {
            std::printf("  (the painter view was never exposed; paints skipped)\n");
            continue;
        }
        painter.renderFrame(argb);
        row("VideoWidget paint (960x540)", measure(rounds, [&] { painter.repaint(); }), copy);
        painter.hide();
        if (OpenGLHelper::isSupported()) {
            TimedOpenGLWidget gl;
            gl.resize(960, 540);
            int paints = 0;
            QObject::connect(&gl, &OpenGLWidget::sigFrameSizeChanged, [&paints] { ++paints; });
            if (!showAndWait(gl) || !gl.isValid()) {
                std::printf("  (the OpenGL view never got its context; paints skipped)\n");
                continue;
            }
            gl.renderFrame(yuv);
            row("OpenGLWidget upload+draw (960x540)", measure(rounds, [&] { gl.paintNow(); }), copy);
            if (paints == 0)
                std::printf("  (the OpenGL view drew nothing; the figure above is not a paint)\n");
        }
    }
    return 0;
}
