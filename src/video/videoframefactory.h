#pragma once

#include <memory>

#include "core/i420planes.h"
#include "video/videoframeinterface.h"

enum class VideoFrameKind {
    YUV,   // YUVFrame for OpenGLWidget
    ARGB,  // ARGBFrame for VideoWidget
};

// Makes and fills frames of either kind from engine pictures.
class VideoFrameFactory {
public:
    // The kind the whole process uses: YUV when OpenGLHelper::isSupported(), else ARGB.
    static VideoFrameKind processKind();

    // A fresh frame of the kind holding the picture (thumbnails); null when the planes are refused.
    static std::shared_ptr<VideoFrameInterface> create(const I420Planes &planes, VideoFrameKind kind);

    // Fills slot with the picture, reusing the frame already there when it has the kind, the size
    // (and for YUV the strides) and nobody else holds it; otherwise slot gets a new frame. Invalid
    // planes are refused with false and leave slot as it was.
    static bool fill(std::shared_ptr<VideoFrameInterface> &slot, const I420Planes &planes,
                     VideoFrameKind kind);
};
