#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rtc/gst/screenframe.h"

// The test's own view of the harness's X display: two monitors side by side on the one screen,
// coloured halves of the desktop, and plain windows painted in known colours.
class CaptureTestDesktop {
public:
    struct Rgb {
        int r, g, b;
    };
    struct Yuv {
        int y, u, v;
    };

    static constexpr Rgb kLeftColour{40, 160, 60};
    static constexpr Rgb kRightColour{200, 60, 180};

    CaptureTestDesktop();
    ~CaptureTestDesktop();

    bool isOpen() const { return display_ != nullptr; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Splits the screen into a primary left and a right monitor, each painted its own colour.
    bool splitIntoTwoMonitors();

    // A managed, mapped window of that colour and title, placed at x, y; 0 on failure.
    uint64_t createWindow(const std::string &title, int x, int y, int width, int height, Rgb colour,
                          const char *windowType = nullptr);
    void destroyWindow(uint64_t window);
    bool minimiseWindow(uint64_t window);
    void moveWindow(uint64_t window, int x, int y);
    void raiseWindow(uint64_t window);
    void warpPointer(int x, int y);
    void sync();

    static Yuv toYuv(Rgb colour);
    // The mean colour of a small square around x, y of an I420 picture.
    static Yuv sample(const uint8_t *y, const uint8_t *u, const uint8_t *v, int strideY, int strideU,
                      int strideV, int width, int height, int x, int y0);
    static Yuv sample(const zuengine::ScreenFrame &frame, int x, int y);
    static bool near(Yuv a, Yuv b, int tolerance = 6);
    static std::string describe(Yuv c);

private:
    bool waitUntilManaged(unsigned long window, bool wantListed);
    void removeMonitors();

    struct _XDisplay *display_ = nullptr;
    unsigned long root_ = 0;
    int width_ = 0;
    int height_ = 0;
    unsigned long background_ = 0;
    bool monitorsMade_ = false;
    std::vector<unsigned long> windows_;
};

// Colours the tests paint their windows in.
namespace capturecolours {
constexpr CaptureTestDesktop::Rgb kRed{230, 30, 30};
constexpr CaptureTestDesktop::Rgb kBlue{30, 40, 220};
constexpr CaptureTestDesktop::Rgb kYellow{240, 220, 20};
constexpr CaptureTestDesktop::Rgb kCyan{20, 210, 220};
}  // namespace capturecolours

// Opens the harness's display as two monitors into `desktop` (a std::unique_ptr), or skips the test
// case when there is no display.
#define ZU_OPEN_TWO_MONITORS(desktop)                         \
    do {                                                      \
        desktop = std::make_unique<CaptureTestDesktop>();     \
        if (!desktop->isOpen())                               \
            QSKIP("needs the X display of the test harness"); \
        QVERIFY(desktop->splitIntoTwoMonitors());             \
    } while (false)
