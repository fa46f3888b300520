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

    uint8_t *data() { return m_data.get(); }
    const uint8_t *data() const { return m_data.get(); }
    uint32_t width() const { return m_width; }
    uint32_t height() const { return m_height; }
    std::size_t size() const { return m_size; }

    // Registers "std::shared_ptr<VideoFrameInterface>" for queued calls. Done at start-up already;
    // safe to call again.
    static void registerMetaType();

protected:
    VideoFrameInterface(std::size_t size, uint32_t width, uint32_t height);

private:
    std::unique_ptr<uint8_t[]> m_data;
    uint32_t m_width;
    uint32_t m_height;
    std::size_t m_size;
};

Q_DECLARE_METATYPE(std::shared_ptr<VideoFrameInterface>)
