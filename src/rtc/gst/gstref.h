#pragma once

// Small owners for GObject and GstMiniObject references, so that every ref taken is dropped once.

#include <gst/gst.h>

#include <utility>

namespace zuengine {

template <typename T>
class GstRef {
public:
    GstRef() = default;
    // Adopts a reference the caller owns (a "transfer full" return value).
    explicit GstRef(T *adopted) : p_(adopted) {}
    GstRef(const GstRef &other) : p_(other.p_) {
        if (p_)
            g_object_ref(p_);
    }
    GstRef(GstRef &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    GstRef &operator=(GstRef other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~GstRef() { reset(); }

    static GstRef ref(T *borrowed) {
        if (borrowed)
            g_object_ref(borrowed);
        return GstRef(borrowed);
    }
    void reset() {
        if (p_)
            g_object_unref(std::exchange(p_, nullptr));
    }
    T *get() const { return p_; }
    T *release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T *p_ = nullptr;
};

template <typename T>
class GstMiniRef {
public:
    GstMiniRef() = default;
    explicit GstMiniRef(T *adopted) : p_(adopted) {}
    GstMiniRef(const GstMiniRef &) = delete;
    GstMiniRef &operator=(const GstMiniRef &) = delete;
    GstMiniRef(GstMiniRef &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    GstMiniRef &operator=(GstMiniRef &&other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~GstMiniRef() { reset(); }

    void reset() {
        if (p_)
            gst_mini_object_unref(GST_MINI_OBJECT_CAST(std::exchange(p_, nullptr)));
    }
    T *get() const { return p_; }
    T *release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T *p_ = nullptr;
};

}  // namespace zuengine
