#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "rtc/gst/screenframe.h"
#include "rtc/gst/screensource.h"

namespace zuengine {

class ScreenSourceBackend;

// What one capturer handle stands for: the sources offered to the user, their thumbnails, and
// which source an index of those thumbnails means.
class ScreenSourceCapturer {
public:
    using SnapshotCallback = std::function<void(const ScreenFrame &thumbnail, const std::string &title)>;

    // A null backend gives a capturer without sources.
    explicit ScreenSourceCapturer(std::unique_ptr<ScreenSourceBackend> backend);
    ~ScreenSourceCapturer();

    ScreenSourceCapturer(const ScreenSourceCapturer &) = delete;
    ScreenSourceCapturer &operator=(const ScreenSourceCapturer &) = delete;

    // Lists the sources afresh; indexes then refer to this list.
    int sourceCount();
    void exclude(uint64_t windowId);

    // Lists the sources afresh and calls back once per source, in order, on the calling thread. A
    // source that can no longer be captured is left out, and indexes then refer to the sources
    // delivered, so that the n-th thumbnail is source n.
    void snapshotRound(const SnapshotCallback &callback);

    std::optional<ScreenSource> sourceAt(int index) const;

    // After it returns no callback of this capturer runs, unless it is called from one.
    void cancel();
    bool isCancelled() const { return cancelled_.load(); }

private:
    std::mutex backendMutex_;
    std::unique_ptr<ScreenSourceBackend> backend_;
    std::set<uint64_t> excluded_;

    mutable std::mutex listMutex_;
    std::vector<ScreenSource> indexed_;
    uint64_t listGeneration_ = 0;

    std::mutex deliveryMutex_;
    std::atomic<bool> cancelled_{false};
    std::atomic<std::thread::id> deliveringThread_{};
};

}  // namespace zuengine
