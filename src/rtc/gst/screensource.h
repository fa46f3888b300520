#pragma once

#include <cstdint>
#include <string>

namespace zuengine {

// One thing that can be shared: a monitor or a top-level application window.
struct ScreenSource {
    enum class Kind { Monitor, Window };

    Kind kind = Kind::Monitor;
    // Windows: the native window id. Monitors: an id of the backend's choice (stable while the
    // monitor exists).
    uint64_t id = 0;
    // Monitors: the rectangle on the desktop. Windows: the size when listed (the position is
    // looked up again at every capture).
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;
    std::string title;  // UTF-8

    bool isWindow() const { return kind == Kind::Window; }
};

}  // namespace zuengine
