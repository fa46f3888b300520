#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <QMetaType>

// A picture handed from the engine's thread to a view. The buffer belongs to the frame.
class VideoFrameInterface {
public:
    virtual ~VideoFrameInterface();

    VideoFrameInterface(const VideoFrameInterface &) = delete;
    VideoFrameInterface &operator=(const VideoFrameInterface &) = delete;

    uint8_t *data() { return data_.get(); }
    const uint8_t *data() const { return data_.get(); }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    std::size_t size() const { return size_; }

    // Registers "std::shared_ptr<VideoFrameInterface>" for queued calls. Done at start-up already;
    // safe to call again.
    static void registerMetaType();

protected:
    VideoFrameInterface(std::size_t size, uint32_t width, uint32_t height);

private:
    std::unique_ptr<uint8_t[]> data_;
    uint32_t width_;
    uint32_t height_;
    std::size_t size_;
};

Q_DECLARE_METATYPE(std::shared_ptr<VideoFrameInterface>)
