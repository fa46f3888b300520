// Screen capture costs on a private Xvfb of each size: grabbing a monitor and a window, turning
// the grab into a stream picture, the paced stream at 30 and 60 fps, and a snapshot round of ten
// sources, each next to a plain memcpy of the same bytes.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

// Qt's headers before Xlib's, whose macros clash with Qt's names.
#include <QCoreApplication>

#include "support/portalsession.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "rtc/gst/screenframe.h"
#include "rtc/gst/screenscaler.h"
#include "rtc/gst/screensourcecapturer.h"
#include "rtc/gst/screenstream.h"
#include "rtc/gst/x11screensource.h"

using namespace zuengine;
using Clock = std::chrono::steady_clock;

namespace {

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// CPU time of another process (the X server), from /proc.
double otherCpuSeconds(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE *f = std::fopen(path, "r");
    if (!f)
        return 0;
    char buffer[1024] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    buffer[n] = 0;
    const char *p = std::strrchr(buffer, ')');
    if (!p)
        return 0;
    unsigned long utime = 0;
    unsigned long stime = 0;
    // Fields after the command: state(3) ... utime(14) stime(15).
    int field = 2;
    for (const char *c = p + 1; *c && field < 15; ++c) {
        if (*c == ' ') {
            ++field;
            if (field == 14)
                utime = std::strtoul(c + 1, nullptr, 10);
            if (field == 15)
                stime = std::strtoul(c + 1, nullptr, 10);
        }
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

struct Xserver {
    pid_t pid = -1;
    std::string display;

    bool start(int width, int height) {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
            const std::string fd = std::to_string(fds[1]);
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
                   "tcp", "-noreset", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char number[32] = {};
        size_t got = 0;
        while (got < sizeof number - 1) {
            const ssize_t n = read(fds[0], number + got, sizeof number - 1 - got);
            if (n <= 0)
                break;
            got += size_t(n);
            if (std::memchr(number, '\n', got))
                break;
        }
        close(fds[0]);
        if (got == 0)
            return false;
        display = ":" + std::string(number, std::strcspn(number, "\n"));
        return true;
    }

    ~Xserver() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

struct Figures {
    double wallMsPerFrame = 0;
    double clientCpuMsPerFrame = 0;
    double serverCpuMsPerFrame = 0;
};

template <typename F>
Figures measure(int frames, pid_t server, F &&body) {
    const double cpu0 = processCpuSeconds();
    const double srv0 = otherCpuSeconds(server);
    const auto t0 = Clock::now();
    // At least a second, so that the X server's CPU time (in clock ticks) is worth reading.
    int done = 0;
    while (done < frames || Clock::now() - t0 < std::chrono::seconds(1)) {
        body();
        ++done;
    }
    frames = done;
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    Figures f;
    f.wallMsPerFrame = wall * 1000 / frames;
    f.clientCpuMsPerFrame = (processCpuSeconds() - cpu0) * 1000 / frames;
    f.serverCpuMsPerFrame = (otherCpuSeconds(server) - srv0) * 1000 / frames;
    return f;
}

unsigned long createWindow(Display *display, int x, int y, int w, int h, unsigned long pixel,
                           const char *title) {
    const Window root = DefaultRootWindow(display);
    const Window window = XCreateSimpleWindow(display, root, x, y, w, h, 0, 0, pixel);
    XStoreName(display, window, title);
    XMapWindow(display, window);
    return window;
}

void printRow(const char *what, const Figures &f, double memcpyMs) {
    std::printf("  %-34s %8.2f ms/frame (%6.1f fps)  cpu here %6.2f ms  X server %6.2f ms  x memcpy %6.1f\n",
                what, f.wallMsPerFrame, 1000.0 / f.wallMsPerFrame, f.clientCpuMsPerFrame,
                f.serverCpuMsPerFrame, (f.clientCpuMsPerFrame + f.serverCpuMsPerFrame) / memcpyMs);
}

void runSize(int width, int height) {
    Xserver server;
    if (!server.start(width, height)) {
        std::printf("%dx%d: Xvfb did not start\n", width, height);
        return;
    }
    setenv("DISPLAY", server.display.c_str(), 1);
    Display *display = XOpenDisplay(server.display.c_str());
    if (!display) {
        std::printf("%dx%d: cannot open %s\n", width, height, server.display.c_str());
        return;
    }
    std::vector<unsigned long> windows;
    const int winW = width * 2 / 3;
    const int winH = height * 2 / 3;
    windows.push_back(createWindow(display, 50, 50, winW, winH, 0x3060d0, "bench window"));
    for (int i = 0; i < 8; ++i)
        windows.push_back(createWindow(display, 100 + 40 * i, 100 + 30 * i, 640, 480, 0x20a040 + i * 16,
                                       ("small " + std::to_string(i)).c_str()));
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    std::unique_ptr<X11ScreenSource> source = X11ScreenSource::open(server.display.c_str());
    const ScreenSource monitor = source->monitors().at(0);
    const std::vector<ScreenSource> apps = source->windows({});
    const ScreenSource *big = nullptr;
    for (const ScreenSource &w : apps) {
        if (w.title == "bench window")
            big = &w;
    }
    std::printf("\n%dx%d (shared memory %s, Composite %s), %zu sources\n", width, height,
                source->hasSharedMemory() ? "yes" : "no", source->hasComposite() ? "yes" : "no",
                1 + apps.size());

    const int frames = width > 2000 ? 40 : 120;
    const std::size_t monitorBytes = std::size_t(width) * height * 4;
    std::vector<uint8_t> from(monitorBytes, 7);
    std::vector<uint8_t> to(monitorBytes);
    const Figures copy = measure(frames, -1, [&] {
        std::memcpy(to.data(), from.data(), monitorBytes);
        from[size_t(to[12]) % monitorBytes] ^= 1;
    });
    std::printf("  %-34s %8.2f ms/frame\n", "memcpy of one monitor's bytes", copy.wallMsPerFrame);
    const std::size_t windowBytes = std::size_t(winW) * winH * 4;
    const Figures copyWindow = measure(frames, -1, [&] {
        std::memcpy(to.data(), from.data(), windowBytes);
        from[size_t(to[12]) % windowBytes] ^= 1;
    });
    std::printf("  %-34s %8.2f ms/frame\n", "memcpy of the window's bytes", copyWindow.wallMsPerFrame);

    ScreenImage image;
    printRow("grab monitor", measure(frames, server.pid, [&] { source->grab(monitor, false, image); }),
             copy.clientCpuMsPerFrame);
    printRow("grab monitor with pointer",
             measure(frames, server.pid, [&] { source->grab(monitor, true, image); }),
             copy.clientCpuMsPerFrame);
    ScreenScaler scaler;
    ScreenFrame canvas(width & ~1, height & ~1);
    printRow("grab monitor + I420 stream picture",
             measure(frames, server.pid,
                     [&] {
                         source->grab(monitor, true, image);
                         scaler.letterbox(image, canvas);
                     }),
             copy.clientCpuMsPerFrame);
    if (big) {
        printRow("grab window (Composite)",
                 measure(frames, server.pid, [&] { source->grab(*big, true, image); }),
                 copyWindow.clientCpuMsPerFrame);
        ScreenScaler windowScaler;
        printRow("grab window + letterboxed picture",
                 measure(frames, server.pid,
                         [&] {
                             source->grab(*big, true, image);
                             windowScaler.letterbox(image, canvas);
                         }),
                 copyWindow.clientCpuMsPerFrame);
    }

    // The paced stream as the engine sees it: CPU share of one core.
    for (int fps : {30, 60}) {
        uint64_t pictures = 0;
        ScreenStream stream([&pictures](const I420Planes &) { ++pictures; }, [] {}, fps);
        stream.setDemand(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const uint64_t p0 = pictures;
        const double cpu0 = processCpuSeconds();
        const double srv0 = otherCpuSeconds(server.pid);
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = processCpuSeconds() - cpu0;
        const double srv = otherCpuSeconds(server.pid) - srv0;
        const uint64_t got = pictures - p0;
        stream.setDemand(false);
        std::printf(
            "  stream of the monitor at %2d fps: %5.1f pictures/s, cpu here %5.1f %% of a core, "
            "X server %5.1f %%, %.2f ms cpu per picture (x memcpy %.1f)\n",
            fps, got / wall, 100 * cpu / wall, 100 * srv / wall, got ? (cpu + srv) * 1000 / got : 0.0,
            got ? (cpu + srv) * 1000 / got / copy.clientCpuMsPerFrame : 0.0);
    }

    // Ten sources: the monitor and nine windows.
    ScreenSourceCapturer capturer(X11ScreenSource::open(server.display.c_str()));
    const int count = capturer.sourceCount();
    const int rounds = 5;
    int delivered = 0;
    const auto t0 = Clock::now();
    for (int i = 0; i < rounds; ++i)
        capturer.snapshotRound([&delivered](const ScreenFrame &, const std::string &) { ++delivered; });
    const double roundMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / rounds;
    std::printf(
        "  snapshot round of %d sources: %.1f ms (%d thumbnails per round), x memcpy of their bytes %.1f\n",
        count, roundMs, delivered / rounds,
        roundMs / (copy.wallMsPerFrame + 9 * copyWindow.wallMsPerFrame * (640.0 * 480) / (winW * winH)));

    source.reset();
    for (unsigned long w : windows)
        XDestroyWindow(display, w);
    XCloseDisplay(display);
}

// The paced stream at 30 fps from the desktop portal's PipeWire stream, in a session of this
// benchmark's own whose test desktop casts a 30 fps picture (its cost stands in for a compositor's).
void runPortal(int width, int height) {
    testsupport::PortalSession session(ZUSHARE_PORTAL_DESKTOP, width, height, "3060c0");
    if (!session.isUp()) {
        std::printf("\n%dx%d through the desktop portal: not run (%s)\n", width, height,
                    session.errorString().toUtf8().constData());
        return;
    }
    std::printf("\n%dx%d through the desktop portal and PipeWire\n", width, height);
    const int fps = 30;
    uint64_t pictures = 0;
    ScreenStream stream([&pictures](const I420Planes &) { ++pictures; }, [] {}, fps);
    stream.setDemand(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the cast starts
    const uint64_t p0 = pictures;
    const double cpu0 = processCpuSeconds();
    const double desk0 = otherCpuSeconds(static_cast<pid_t>(session.desktopPid()));
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = processCpuSeconds() - cpu0;
    const double desk = otherCpuSeconds(static_cast<pid_t>(session.desktopPid())) - desk0;
    const uint64_t got = pictures - p0;
    stream.setDemand(false);
    std::printf(
        "  stream of the cast at %2d fps: %5.1f pictures/s, cpu here %5.1f %% of a core, "
        "desktop %5.1f %%, %.2f ms cpu here per picture\n",
        fps, got / wall, 100 * cpu / wall, 100 * desk / wall, got ? cpu * 1000 / got : 0.0);
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    std::printf(
        "Screen capture on Xvfb (a private server per size; 'x memcpy' is capture CPU, here and in the\n"
        "X server, over a memcpy of the same bytes)\n");
    runSize(1920, 1080);
    runPortal(1920, 1080);
    runSize(3840, 2160);
    return 0;
}
