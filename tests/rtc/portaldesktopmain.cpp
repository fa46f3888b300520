// A test desktop's screen-cast portal: its "picker" chooses one of two solid-colour screens unasked,
// restorably. Arguments: colour (RRGGBB), width, height. Stdin: "colour RRGGBB", "pick N", "end".

#include <gio/gio.h>
#include <gst/gst.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

namespace {

// Every cast method takes handle, session handle and app id, options, and answers response and results.
const std::string kIn =
    R"(<arg type="o" direction="in"/><arg type="o" direction="in"/><arg type="s" direction="in"/>)";
const std::string kOut =
    R"(<arg type="a{sv}" direction="in"/><arg type="u" direction="out"/><arg type="a{sv}" direction="out"/>)";
const std::string kIntrospection =
    R"(<node><interface name="org.freedesktop.impl.portal.ScreenCast"><method name="CreateSession">)" + kIn +
    kOut + R"(</method><method name="SelectSources">)" + kIn + kOut + R"(</method><method name="Start">)" +
    kIn + R"(<arg type="s" direction="in"/>)" + kOut + R"(</method>
    <property name="AvailableSourceTypes" type="u" access="read"/>
    <property name="AvailableCursorModes" type="u" access="read"/>
    <property name="version" type="u" access="read"/></interface>
  <interface name="org.freedesktop.impl.portal.Session"><method name="Close"/></interface></node>)";

struct Desktop {
    GDBusConnection *bus = nullptr;
    GDBusNodeInfo *info = nullptr;
    // One pipeline per screen: a provider sink waits for its consumer before it prerolls.
    GstElement *pipelines[2] = {}, *paint = nullptr;
    guint32 nodes[2] = {};
    int width = 0, height = 0, pick = 1;
    std::map<std::string, int> sessions;  // the screen each session casts
    GMainLoop *loop = nullptr;
};

Desktop desktop;

void setColour(const char *hex) {
    const guint rgb = static_cast<guint>(std::strtoul(hex, nullptr, 16)) & 0xffffff;
    g_object_set(desktop.paint, "foreground-color", 0xff000000u | rgb, nullptr);
}

// The screens' node ids are PipeWire's; the sinks do not tell them, the daemon's registry does.
bool findNodes() {
    for (int attempt = 0; attempt < 50; ++attempt, g_usleep(100 * 1000)) {
        gchar *out = nullptr;
        g_spawn_command_line_sync("pw-cli ls Node", &out, nullptr, nullptr, nullptr);
        std::istringstream lines(out ? out : "");
        g_free(out);
        unsigned id = 0;
        desktop.nodes[0] = desktop.nodes[1] = 0;
        for (std::string line; std::getline(lines, line);) {
            std::sscanf(line.c_str(), "\tid %u,", &id);
            const std::size_t at = line.find("zushare-test-screen-");
            if (at != std::string::npos && line.find("node.name") != std::string::npos)
                desktop.nodes[line[at + 20] == '2'] = id;
        }
        if (desktop.nodes[0] && desktop.nodes[1])
            return true;
    }
    return false;
}

// A stream serves one cast, as a compositor's does (a provider sink whose consumer left serves no other).
void restartScreens(bool first, bool second) {
    for (int k = 0; k < 2; ++k) {
        if (k == 0 ? first : second)
            gst_element_set_state(desktop.pipelines[k], GST_STATE_NULL);
        gst_element_set_state(desktop.pipelines[k], GST_STATE_PLAYING);
    }
    findNodes();
}

// Close, the session's one method (the bus refuses others).
void onSessionCall(GDBusConnection *, const gchar *, const gchar *path, const gchar *, const gchar *,
                   GVariant *, GDBusMethodInvocation *invocation, gpointer) {
    const int screen = desktop.sessions.count(path) ? desktop.sessions[path] : 0;
    desktop.sessions.erase(path);
    restartScreens(screen == 1, screen == 2);
    std::puts("closed");
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

// Monitors only (source type 1), as wlroots desktops offer; hidden or embedded cursor; version 4.
GVariant *onProperty(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *property,
                     GError **, gpointer) {
    if (std::strcmp(property, "version") == 0)
        return g_variant_new_uint32(4);
    return g_variant_new_uint32(std::strstr(property, "Cursor") ? 3 : 1);
}

void onCastCall(GDBusConnection *bus, const gchar *, const gchar *, const gchar *, const gchar *method,
                GVariant *parameters, GDBusMethodInvocation *invocation, gpointer) {
    const gchar *session = nullptr;
    g_variant_get_child(parameters, 1, "&o", &session);
    GVariant *reply = nullptr;
    if (std::strcmp(method, "CreateSession") == 0) {
        desktop.sessions[session] = 0;
        static const GDBusInterfaceVTable vtable = {onSessionCall, nullptr, nullptr, {}};
        g_dbus_connection_register_object(bus, session, desktop.info->interfaces[1], &vtable, nullptr,
                                          nullptr, nullptr);
        reply = g_variant_new_parsed("(uint32 0, {'session_id': <%s>})", session);
    } else if (std::strcmp(method, "SelectSources") == 0) {
        GVariant *options = g_variant_get_child_value(parameters, 3);
        const gchar *vendor = nullptr;
        guint32 version = 0, screen = 0;
        GVariant *data = nullptr;
        if (g_variant_lookup(options, "restore_data", "(&suv)", &vendor, &version, &data)) {
            if (std::strcmp(vendor, "zutest") == 0 && g_variant_is_of_type(data, G_VARIANT_TYPE_UINT32))
                screen = g_variant_get_uint32(data);
            g_variant_unref(data);
        }
        g_variant_unref(options);
        const bool restored = screen == 1 || screen == 2;
        desktop.sessions[session] = restored ? int(screen) : desktop.pick;
        std::printf("%s %d\n", restored ? "restored" : "picked", desktop.sessions[session]);
    } else {  // Start
        const int screen = desktop.sessions[session];
        reply = g_variant_new_parsed(
            "(uint32 0, {'streams': <[(%u, {'size': <(%i, %i)>, 'source_type': <uint32 1>})]>,"
            " 'persist_mode': <uint32 2>, 'restore_data': <('zutest', uint32 1, <%u>)>})",
            desktop.nodes[screen - 1], desktop.width, desktop.height, guint32(screen));
    }
    g_dbus_method_invocation_return_value(invocation,
                                          reply ? reply : g_variant_new_parsed("(uint32 0, @a{sv} {})"));
}

gboolean onInput(GIOChannel *channel, GIOCondition, gpointer) {
    gchar *line = nullptr;
    if (g_io_channel_read_line(channel, &line, nullptr, nullptr, nullptr) != G_IO_STATUS_NORMAL) {
        g_main_loop_quit(desktop.loop);
        return G_SOURCE_REMOVE;
    }
    g_strstrip(line);
    if (g_str_has_prefix(line, "colour "))
        setColour(line + 7);
    else if (g_str_has_prefix(line, "pick "))
        desktop.pick = std::atoi(line + 5) == 2 ? 2 : 1;
    else if (std::strcmp(line, "end") == 0) {  // "stop sharing"
        for (const auto &session : desktop.sessions)
            g_dbus_connection_emit_signal(desktop.bus, nullptr, session.first.c_str(),
                                          "org.freedesktop.impl.portal.Session", "Closed", nullptr, nullptr);
        desktop.sessions.clear();
        restartScreens(true, true);
    }
    g_free(line);
    return G_SOURCE_CONTINUE;
}

int fail(const char *why) {
    std::fprintf(stderr, "portal desktop: %s\n", why);
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    gst_init(&argc, &argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // the test reads each line as it comes
    if (argc != 4)
        return fail("arguments: colour width height");
    desktop.width = std::atoi(argv[2]);
    desktop.height = std::atoi(argv[3]);
    for (int screen = 0; screen < 2; ++screen) {
        gchar *text = g_strdup_printf(
            "videotestsrc name=paint is-live=true pattern=solid-color foreground-color=0xff2040c0 ! "
            "video/x-raw,format=BGRx,width=%s,height=%s,framerate=30/1 ! pipewiresink mode=provide "
            "stream-properties=\"props,node.name=zushare-test-screen-%d,media.class=Video/Source\"",
            argv[2], argv[3], screen + 1);
        GError *error = nullptr;
        desktop.pipelines[screen] = gst_parse_launch(text, &error);
        g_free(text);
        if (!desktop.pipelines[screen] || error)
            return fail(error ? error->message : "no pipeline");
        gst_element_set_state(desktop.pipelines[screen], GST_STATE_PLAYING);
    }
    desktop.paint = gst_bin_get_by_name(GST_BIN(desktop.pipelines[0]), "paint");  // the second stays 2040c0
    setColour(argv[1]);
    if (!findNodes())
        return fail("the screens' PipeWire nodes did not appear");
    GError *error = nullptr;
    desktop.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!desktop.bus)
        return fail(error->message);
    desktop.info = g_dbus_node_info_new_for_xml(kIntrospection.c_str(), nullptr);
    static const GDBusInterfaceVTable vtable = {onCastCall, onProperty, nullptr, {}};
    g_dbus_connection_register_object(desktop.bus, "/org/freedesktop/portal/desktop",
                                      desktop.info->interfaces[0], &vtable, nullptr, nullptr, nullptr);
    g_bus_own_name_on_connection(
        desktop.bus, "org.freedesktop.impl.portal.desktop.zutest", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection *, const gchar *, gpointer) { std::puts("ready"); },
        [](GDBusConnection *, const gchar *, gpointer) { g_main_loop_quit(desktop.loop); }, nullptr, nullptr);
    desktop.loop = g_main_loop_new(nullptr, FALSE);
    g_io_add_watch(g_io_channel_unix_new(0), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP), onInput, nullptr);
    g_main_loop_run(desktop.loop);  // until stdin closes
    for (GstElement *pipeline : desktop.pipelines)
        gst_element_set_state(pipeline, GST_STATE_NULL);
    return 0;
}
