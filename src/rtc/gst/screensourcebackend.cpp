#include "rtc/gst/screensourcebackend.h"

#include "rtc/gst/x11screensource.h"

namespace zuengine {

std::vector<ScreenSource> ScreenSourceBackend::sources(const std::set<uint64_t> &excluded) {
    std::vector<ScreenSource> all = monitors();
    std::vector<ScreenSource> apps = windows(excluded);
    all.insert(all.end(), apps.begin(), apps.end());
    return all;
}

std::unique_ptr<ScreenSourceBackend> ScreenSourceBackend::create() {
    return X11ScreenSource::open();
}

}  // namespace zuengine
