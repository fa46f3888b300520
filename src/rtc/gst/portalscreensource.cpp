#include "rtc/gst/portalscreensource.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <atomic>
#include <mutex>
#include <string>

#include "core/logger.h"
#include "rtc/gst/gstref.h"

namespace zuengine {

namespace {

constexpr const char *kPortal = "org.freedesktop.portal.Desktop";
constexpr const char *kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char *kScreenCast = "org.freedesktop.portal.ScreenCast";
// The user may take a while in the desktop's picker.
constexpr int kPickerTimeoutMs = 120 * 1000;
constexpr int kCallTimeoutMs = 5000;
constexpr guint32 kSourceMonitor = 1, kSourceWindow = 2;
constexpr guint32 kCursorEmbedded = 2;
// Kept until the user revokes it in the desktop's settings.
constexpr guint32 kPersistUntilRevoked = 2;
constexpr guint32 kFirstVersionWithRestore = 4;

struct VariantRef {
    GVariant *v = nullptr;
    VariantRef() = default;
    explicit VariantRef(GVariant *adopted) : v(adopted) {}
    VariantRef(const VariantRef &) = delete;
    VariantRef &operator=(const VariantRef &) = delete;
    ~VariantRef() {
        if (v)
            g_variant_unref(v);
    }
};

struct ErrorRef {
    GError *e = nullptr;
    ~ErrorRef() { g_clear_error(&e); }
    const char *message() const { return e ? e->message : "unknown error"; }
};

guint32 uintProperty(GDBusConnection *bus, const char *name) {
    ErrorRef error;
    VariantRef reply(g_dbus_connection_call_sync(bus, kPortal, kPortalPath, "org.freedesktop.DBus.Properties",
                                                 "Get", g_variant_new("(ss)", kScreenCast, name),
                                                 G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
                                                 kCallTimeoutMs, nullptr, &error.e));
    if (!reply.v)
        return 0;
    VariantRef value;
    g_variant_get(reply.v, "(v)", &value.v);
    return g_variant_is_of_type(value.v, G_VARIANT_TYPE_UINT32) ? g_variant_get_uint32(value.v) : 0;
}

}  // namespace

// One screen cast of the portal: its D-Bus connection (closing it ends the cast) and the pipeline
// that reads its PipeWire stream into an appsink holding the newest picture.
class PortalScreenCast {
public:
    // The cast every backend shares, started (the user asked, or the remembered choice restored)
    // when there is none or when the user is to choose again.
    static std::shared_ptr<PortalScreenCast> shared();
    // The shared cast as it is now, never starting one.
    static std::shared_ptr<PortalScreenCast> current();

    PortalScreenCast(uint32_t serial, std::string restoreToken)
        : serial_(serial), restoreToken_(std::move(restoreToken)) {}
    ~PortalScreenCast();

    ScreenSource source() const { return source_; }
    GstMiniRef<GstSample> newest();
    bool ended();
    const std::string &endReason() const { return endReason_; }

private:
    bool start();
    bool request(const char *method, GVariant *parameters, const std::string &token, VariantRef &results);
    bool openStream(guint32 node);

    GstRef<GDBusConnection> bus_;
    // The session's Closed signal is delivered here, and looked at whenever the cast is asked for.
    GMainContext *signals_ = nullptr;
    guint closedSubscription_ = 0;
    std::atomic<bool> closed_{false};
    std::string sessionHandle_;
    std::string senderPath_;
    ScreenSource source_;
    GstRef<GstElement> pipeline_;
    GstRef<GstElement> sink_;
    std::mutex mutex_;
    GstMiniRef<GstSample> last_;
    std::atomic<bool> ended_{false};
    std::string endReason_;
    unsigned tokens_ = 0;
    const uint32_t serial_;
    // Handed to the portal, then replaced by the one its answer brings (each is good for one cast).
    std::string restoreToken_;
};

namespace {

// One cast at a time for the process: the dialog's thumbnails and the stream show what the user
// picked once. Starting one may wait for the user's picker; the stream's thread only ever looks at
// the current one, under a lock that is never held that long.
struct CastShelf {
    std::mutex starting;
    std::mutex mutex;
    std::shared_ptr<PortalScreenCast> cast;
    std::string restoreToken;
    bool askAgain = false;
    uint32_t serial = 0;
};

CastShelf &shelf() {
    static CastShelf s;
    return s;
}

}  // namespace

std::shared_ptr<PortalScreenCast> PortalScreenCast::shared() {
    CastShelf &s = shelf();
    std::lock_guard<std::mutex> starting(s.starting);
    std::string token;
    uint32_t serial = 0;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.cast && s.cast->ended())
            s.cast.reset();
        if (s.cast && !s.askAgain)
            return s.cast;
        token = s.askAgain ? std::string() : s.restoreToken;
        s.askAgain = false;
        serial = ++s.serial;
    }
    auto fresh = std::make_shared<PortalScreenCast>(serial, token);
    const bool started = fresh->start();
    std::lock_guard<std::mutex> lock(s.mutex);
    // A token handed over is used up, whatever came of it; without one, a cancelled picker leaves
    // the earlier choice to be remembered.
    if (started || !token.empty())
        s.restoreToken = fresh->restoreToken_;
    if (started)
        s.cast = std::move(fresh);  // a cast replaced here lives on while a stream still shows it
    return s.cast;
}

std::shared_ptr<PortalScreenCast> PortalScreenCast::current() {
    std::lock_guard<std::mutex> lock(shelf().mutex);
    return shelf().cast;
}

PortalScreenCast::~PortalScreenCast() {
    if (pipeline_)
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    if (closedSubscription_)
        g_dbus_connection_signal_unsubscribe(bus_.get(), closedSubscription_);
    if (signals_)
        g_main_context_unref(signals_);
    if (bus_ && !sessionHandle_.empty())
        g_dbus_connection_call_sync(bus_.get(), kPortal, sessionHandle_.c_str(),
                                    "org.freedesktop.portal.Session", "Close", nullptr, nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
    if (bus_)
        g_dbus_connection_close_sync(bus_.get(), nullptr, nullptr);
}

bool PortalScreenCast::request(const char *method, GVariant *parameters, const std::string &token,
                               VariantRef &results) {
    // A portal request answers with a Response signal on a path made of our bus name and the token;
    // it is subscribed before the call so that a quick answer cannot be missed.
    const std::string path = "/org/freedesktop/portal/desktop/request/" + senderPath_ + "/" + token;
    struct Answer {
        bool done = false;
        guint32 code = 2;
        GVariant *results = nullptr;
    } answer;
    GMainContext *context = g_main_context_new();
    g_main_context_push_thread_default(context);
    const guint subscription = g_dbus_connection_signal_subscribe(
        bus_.get(), kPortal, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *,
           GVariant *parameters, gpointer data) {
            auto *a = static_cast<Answer *>(data);
            if (a->done || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})")))
                return;
            g_variant_get(parameters, "(u@a{sv})", &a->code, &a->results);
            a->done = true;
        },
        &answer, nullptr);
    ErrorRef error;
    VariantRef handle(g_dbus_connection_call_sync(bus_.get(), kPortal, kPortalPath, kScreenCast, method,
                                                  parameters, G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
                                                  kCallTimeoutMs, nullptr, &error.e));
    bool timedOut = false;
    if (handle.v) {
        GSource *timer = g_timeout_source_new(kPickerTimeoutMs);
        g_source_set_callback(
            timer,
            [](gpointer flag) {
                *static_cast<bool *>(flag) = true;
                return G_SOURCE_REMOVE;
            },
            &timedOut, nullptr);
        g_source_attach(timer, context);
        while (!answer.done && !timedOut)
            g_main_context_iteration(context, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
    }
    g_dbus_connection_signal_unsubscribe(bus_.get(), subscription);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    results.v = answer.results;
    if (!handle.v) {
        g_logger->error("screen capture: the desktop portal refused {}: {}", method, error.message());
        return false;
    }
    if (!answer.done) {
        g_logger->error("screen capture: the desktop portal did not answer {}", method);
        return false;
    }
    if (answer.code != 0) {
        g_logger->warn("screen capture: {} at the desktop portal was {}", method,
                       answer.code == 1 ? "cancelled by the user" : "refused");
        return false;
    }
    return true;
}

bool PortalScreenCast::start() {
    ErrorRef error;
    gchar *address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error.e);
    if (!address) {
        g_logger->error("screen capture: no session bus, so no desktop portal ({})", error.message());
        return false;
    }
    // A connection of its own: the portal ends the cast when it closes.
    bus_ = GstRef<GDBusConnection>(g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error.e));
    g_free(address);
    if (!bus_) {
        g_logger->error("screen capture: cannot reach the session bus ({})", error.message());
        return false;
    }
    std::string sender = g_dbus_connection_get_unique_name(bus_.get());
    senderPath_ = sender.substr(sender.find_first_not_of(':'));
    for (char &c : senderPath_)
        if (c == '.')
            c = '_';

    const guint32 types = uintProperty(bus_.get(), "AvailableSourceTypes") & (kSourceMonitor | kSourceWindow);
    if (types == 0) {
        g_logger->error(
            "screen capture: this Wayland session has no desktop portal for screen casts (install "
            "xdg-desktop-portal and the one of the desktop: -gnome, -kde or -wlr)");
        return false;
    }
    const guint32 cursors = uintProperty(bus_.get(), "AvailableCursorModes");
    const bool canRestore = uintProperty(bus_.get(), "version") >= kFirstVersionWithRestore;
    if (!canRestore)
        restoreToken_.clear();
    auto token = [this] { return "zushare" + std::to_string(++tokens_); };

    VariantRef results;
    std::string t = token();
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(t.c_str()));
    g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(t.c_str()));
    if (!request("CreateSession", g_variant_new("(a{sv})", &options), t, results))
        return false;
    const gchar *session = nullptr;
    if (!g_variant_lookup(results.v, "session_handle", "&s", &session) || !session) {
        g_logger->error("screen capture: the desktop portal gave no session");
        return false;
    }
    sessionHandle_ = session;
    // The user ends the cast in the desktop's indicator, or the desktop ends it: the portal closes
    // the session.
    signals_ = g_main_context_new();
    g_main_context_push_thread_default(signals_);
    closedSubscription_ = g_dbus_connection_signal_subscribe(
        bus_.get(), kPortal, "org.freedesktop.portal.Session", "Closed", sessionHandle_.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *, GVariant *,
           gpointer data) { static_cast<std::atomic<bool> *>(data)->store(true); },
        &closed_, nullptr);
    g_main_context_pop_thread_default(signals_);

    VariantRef selected;
    t = token();
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(t.c_str()));
    g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(types));
    g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(FALSE));
    if (cursors & kCursorEmbedded)
        g_variant_builder_add(&options, "{sv}", "cursor_mode", g_variant_new_uint32(kCursorEmbedded));
    if (canRestore) {
        g_variant_builder_add(&options, "{sv}", "persist_mode", g_variant_new_uint32(kPersistUntilRevoked));
        if (!restoreToken_.empty())
            g_variant_builder_add(&options, "{sv}", "restore_token",
                                  g_variant_new_string(restoreToken_.c_str()));
    }
    const bool restoring = !restoreToken_.empty();
    restoreToken_.clear();
    if (!request("SelectSources", g_variant_new("(oa{sv})", sessionHandle_.c_str(), &options), t, selected))
        return false;

    VariantRef started;
    t = token();
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(t.c_str()));
    if (!request("Start", g_variant_new("(osa{sv})", sessionHandle_.c_str(), "", &options), t, started))
        return false;
    const gchar *newToken = nullptr;
    if (g_variant_lookup(started.v, "restore_token", "&s", &newToken) && newToken)
        restoreToken_ = newToken;
    if (restoring)
        g_logger->info("screen capture: the desktop portal was given the remembered choice");
    VariantRef streams(g_variant_lookup_value(started.v, "streams", G_VARIANT_TYPE("a(ua{sv})")));
    if (!streams.v || g_variant_n_children(streams.v) == 0) {
        g_logger->error("screen capture: the desktop portal started a cast without a stream");
        return false;
    }
    guint32 node = 0;
    VariantRef properties;
    g_variant_get_child(streams.v, 0, "(u@a{sv})", &node, &properties.v);
    guint32 sourceType = kSourceMonitor;
    g_variant_lookup(properties.v, "source_type", "u", &sourceType);
    gint32 width = 0, height = 0;
    g_variant_lookup(properties.v, "size", "(ii)", &width, &height);
    source_.kind = sourceType == kSourceWindow ? ScreenSource::Kind::Window : ScreenSource::Kind::Monitor;
    source_.id = (uint64_t(serial_) << 32) | node;  // unique per cast: a later cast may reuse the node
    source_.width = width;
    source_.height = height;
    source_.primary = source_.kind == ScreenSource::Kind::Monitor;
    source_.title = source_.kind == ScreenSource::Kind::Window ? "窗口" : "屏幕 1";
    return openStream(node);
}

bool PortalScreenCast::openStream(guint32 node) {
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);  // a capture used without the rest of the engine
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    GUnixFDList *fds = nullptr;
    ErrorRef error;
    VariantRef reply(g_dbus_connection_call_with_unix_fd_list_sync(
        bus_.get(), kPortal, kPortalPath, kScreenCast, "OpenPipeWireRemote",
        g_variant_new("(oa{sv})", sessionHandle_.c_str(), &options), G_VARIANT_TYPE("(h)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &fds, nullptr, &error.e));
    if (!reply.v || !fds) {
        if (fds)
            g_object_unref(fds);
        g_logger->error("screen capture: the desktop portal gave no PipeWire stream ({})", error.message());
        return false;
    }
    gint32 index = 0;
    g_variant_get(reply.v, "(h)", &index);
    const int fd = g_unix_fd_list_get(fds, index, &error.e);
    g_object_unref(fds);
    if (fd < 0) {
        g_logger->error("screen capture: the PipeWire stream's descriptor is unusable ({})", error.message());
        return false;
    }
    const std::string text = "pipewiresrc name=src always-copy=true fd=" + std::to_string(fd) +
                             " path=" + std::to_string(node) +
                             " ! videoconvert ! video/x-raw,format=BGRx ! appsink name=sink sync=false "
                             "max-buffers=1 drop=true";
    GstElement *pipeline = gst_parse_launch(text.c_str(), &error.e);
    if (!pipeline || error.e) {
        g_logger->error(
            "screen capture: cannot read the PipeWire stream ({}); is gstreamer1.0-pipewire installed?",
            error.message());
        if (pipeline)
            gst_object_unref(pipeline);
        return false;
    }
    pipeline_ = GstRef<GstElement>(GST_ELEMENT(gst_object_ref_sink(pipeline)));
    sink_ = GstRef<GstElement>(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "sink"));
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        g_logger->error("screen capture: the PipeWire stream does not start");
        return false;
    }
    if (source_.width <= 0 || source_.height <= 0) {
        // The portal may leave out the size; the first picture tells it.
        GstMiniRef<GstSample> first = newest();
        GstVideoInfo info;
        GstCaps *caps = first ? gst_sample_get_caps(first.get()) : nullptr;
        if (caps && gst_video_info_from_caps(&info, caps)) {
            source_.width = GST_VIDEO_INFO_WIDTH(&info);
            source_.height = GST_VIDEO_INFO_HEIGHT(&info);
        }
    }
    g_logger->info("screen capture: the desktop portal casts {} {} ({}x{}, PipeWire node {})",
                   source_.isWindow() ? "a window" : "a monitor", source_.title, source_.width,
                   source_.height, node);
    return true;
}

bool PortalScreenCast::ended() {
    if (ended_)
        return true;
    const auto finish = [this](std::string why) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!ended_) {
            endReason_ = std::move(why);
            ended_ = true;
        }
    };
    const char *byTheUser = "the screen cast was ended by the user or the desktop";
    if (signals_) {
        while (g_main_context_iteration(signals_, FALSE)) {
        }
        if (closed_)
            finish(byTheUser);
    }
    if (!pipeline_)
        return ended_;
    GstRef<GstBus> bus(gst_element_get_bus(pipeline_.get()));
    while (GstMessage *message = gst_bus_pop_filtered(
               bus.get(), static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS))) {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError *e = nullptr;
            gst_message_parse_error(message, &e, nullptr);
            finish(std::string("the screen cast stopped: ") + (e ? e->message : "stream error"));
            g_clear_error(&e);
        } else {
            finish(byTheUser);
        }
        gst_message_unref(message);
    }
    return ended_;
}

GstMiniRef<GstSample> PortalScreenCast::newest() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sink_) {
        // The first picture may take a moment after the cast starts; later ones only come when the
        // picture changes, so the last one is kept.
        const GstClockTime wait = last_ ? 0 : GST_SECOND;
        if (GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink_.get()), wait))
            last_ = GstMiniRef<GstSample>(sample);
    }
    return last_ ? GstMiniRef<GstSample>(gst_sample_ref(last_.get())) : GstMiniRef<GstSample>();
}

struct PortalScreenSource::Held {
    GstMiniRef<GstSample> sample;
    GstVideoFrame frame{};
    bool mapped = false;
    void release() {
        if (mapped)
            gst_video_frame_unmap(&frame);
        mapped = false;
        sample = GstMiniRef<GstSample>();
    }
    ~Held() { release(); }
};

std::unique_ptr<PortalScreenSource> PortalScreenSource::open() {
    std::shared_ptr<PortalScreenCast> cast = PortalScreenCast::shared();
    if (!cast)
        return nullptr;
    return std::unique_ptr<PortalScreenSource>(new PortalScreenSource(std::move(cast)));
}

void PortalScreenSource::setRestoreToken(const std::string &token) {
    std::lock_guard<std::mutex> lock(shelf().mutex);
    shelf().restoreToken = token;
}

std::string PortalScreenSource::restoreToken() {
    std::lock_guard<std::mutex> lock(shelf().mutex);
    return shelf().restoreToken;
}

void PortalScreenSource::askAgain() {
    std::lock_guard<std::mutex> lock(shelf().mutex);
    shelf().askAgain = true;
}

PortalScreenSource::PortalScreenSource(std::shared_ptr<PortalScreenCast> cast)
    : cast_(std::move(cast)), held_(std::make_unique<Held>()) {}

PortalScreenSource::~PortalScreenSource() = default;

std::vector<ScreenSource> PortalScreenSource::monitors() {
    ScreenSource s = cast_->source();
    if (s.isWindow())
        return {};
    return {s};
}

std::vector<ScreenSource> PortalScreenSource::windows(const std::set<uint64_t> &) {
    ScreenSource s = cast_->source();
    if (!s.isWindow())
        return {};
    return {s};
}

bool PortalScreenSource::grab(const ScreenSource &source, bool, ScreenImage &image) {
    held_->release();
    if (source.id != 0 && source.id != cast_->source().id) {
        // The user chose again while this backend showed the earlier cast: switch to the new one,
        // which lets the earlier one end once nothing shows it.
        std::shared_ptr<PortalScreenCast> newest = PortalScreenCast::current();
        if (newest && newest->source().id == source.id)
            cast_ = std::move(newest);
    }
    if (cast_->ended())
        return false;
    held_->sample = cast_->newest();
    if (!held_->sample)
        return false;
    GstVideoInfo info;
    GstCaps *caps = gst_sample_get_caps(held_->sample.get());
    GstBuffer *buffer = gst_sample_get_buffer(held_->sample.get());
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps) ||
        !gst_video_frame_map(&held_->frame, &info, buffer, GST_MAP_READ))
        return false;
    held_->mapped = true;
    image.data = static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&held_->frame, 0));
    image.width = GST_VIDEO_FRAME_WIDTH(&held_->frame);
    image.height = GST_VIDEO_FRAME_HEIGHT(&held_->frame);
    image.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&held_->frame, 0);
    return true;
}

bool PortalScreenSource::displayLost() const {
    return cast_->ended();
}

const char *PortalScreenSource::lostReason() const {
    return cast_->endReason().c_str();
}

}  // namespace zuengine
