// A desktop's side of the screen-cast portal for tests, behind the real portal service and PipeWire:
// its "picker" chooses one of two solid-colour screens without asking and gives the portal the data to
// restore that choice. (Headless compositors cannot cast without a GPU render node, which these
// machines lack.) Arguments: the first screen's colour (RRGGBB), width, height. Lines on stdin:
// "colour RRGGBB", "pick N" (1 or 2), "end" (a desktop's "stop sharing"). It prints "ready",
// "picked N" or "restored N" as a cast starts, "closed" when the program closes one, and "ended".

#include <gio/gio.h>
#include <gst/gst.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
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
  <interface name="org.freedesktop.impl.portal.Session"><method name="Close"/><signal name="Closed"/>
    <property name="version" type="u" access="read"/></interface></node>)";

struct Desktop {
    GDBusConnection *bus = nullptr;
    GDBusNodeInfo *info = nullptr;
    // One pipeline per screen: a provider sink waits for its consumer before it prerolls, so two in one
    // pipeline would hold each other's stream back.
    GstElement *pipelines[2] = {};
    GstElement *paint = nullptr;
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
        desktop.nodes[0] = desktop.nodes[1] = 0;
        if (g_spawn_command_line_sync("pw-cli ls Node", &out, nullptr, nullptr, nullptr) && out) {
            gchar **lines = g_strsplit(out, "\n", -1);
            unsigned id = 0;
            for (int k = 0; lines[k]; ++k) {
                std::sscanf(lines[k], "\tid %u,", &id);
                const char *name = std::strstr(lines[k], "zushare-test-screen-");
                if (name && std::strstr(lines[k], "node.name") && (name[20] == '1' || name[20] == '2'))
                    desktop.nodes[name[20] - '1'] = id;
            }
            g_strfreev(lines);
        }
        g_free(out);
        if (desktop.nodes[0] && desktop.nodes[1])
            return true;
    }
    return false;
}

// A stream serves one cast, as a compositor's does: the screen comes back as a new node for the next.
// (A provider sink whose consumer left would not serve another.)
void restartScreens(bool first, bool second) {
    for (int k = 0; k < 2; ++k) {
        if (k == 0 ? first : second) {
            gst_element_set_state(desktop.pipelines[k], GST_STATE_NULL);
            gst_element_set_state(desktop.pipelines[k], GST_STATE_PLAYING);
        }
    }
    findNodes();
}

void endCast() {
    for (const auto &session : desktop.sessions)
        g_dbus_connection_emit_signal(desktop.bus, nullptr, session.first.c_str(),
                                      "org.freedesktop.impl.portal.Session", "Closed", nullptr, nullptr);
    desktop.sessions.clear();
    restartScreens(true, true);
    std::puts("ended");
}

// Close, the session's one method (the bus refuses others).
void onSessionCall(GDBusConnection *, const gchar *, const gchar *path, const gchar *, const gchar *,
                   GVariant *, GDBusMethodInvocation *invocation, gpointer) {
    const int screen = desktop.sessions.count(path) ? desktop.sessions[path] : 0;
    desktop.sessions.erase(path);
    bool watched = false;
    for (const auto &session : desktop.sessions)
        watched = watched || session.second == screen;
    restartScreens(screen == 1 && !watched, screen == 2 && !watched);
    std::puts("closed");
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

// Monitors only (source type 1), as wlroots desktops offer; the session's interface is version 1.
GVariant *onProperty(GDBusConnection *, const gchar *, const gchar *, const gchar *interface,
                     const gchar *property, GError **, gpointer) {
    if (std::strcmp(property, "AvailableCursorModes") == 0)
        return g_variant_new_uint32(1 | 2);
    return g_variant_new_uint32(std::strcmp(property, "version") || std::strstr(interface, "Session") ? 1
                                                                                                      : 4);
}

void onCastCall(GDBusConnection *bus, const gchar *, const gchar *, const gchar *, const gchar *method,
                GVariant *parameters, GDBusMethodInvocation *invocation, gpointer) {
    const gchar *session = nullptr;
    g_variant_get_child(parameters, 1, "&o", &session);
    GVariant *reply = nullptr;
    if (std::strcmp(method, "CreateSession") == 0) {
        desktop.sessions[session] = 0;
        static const GDBusInterfaceVTable vtable = {onSessionCall, onProperty, nullptr, {}};
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
        // A restored choice is kept negative until Start says so.
        desktop.sessions[session] = screen == 1 || screen == 2 ? -int(screen) : desktop.pick;
    } else {  // Start
        const int entry = desktop.sessions[session];
        const int screen = entry < 0 ? -entry : (entry ? entry : desktop.pick);
        desktop.sessions[session] = screen;
        reply = g_variant_new_parsed(
            "(uint32 0, {'streams': <[(%u, {'size': <(%i, %i)>, 'source_type': <uint32 1>})]>,"
            " 'persist_mode': <uint32 2>, 'restore_data': <('zutest', uint32 1, <%u>)>})",
            desktop.nodes[screen - 1], desktop.width, desktop.height, guint32(screen));
        std::puts(((entry < 0 ? "restored " : "picked ") + std::to_string(screen)).c_str());
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
    else if (std::strcmp(line, "end") == 0)
        endCast();
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
    const char *colours[2] = {argv[1], "2040c0"};
    for (int screen = 1; screen >= 0; --screen) {  // the first screen's painter is kept for "colour"
        const std::string text =
            "videotestsrc name=paint is-live=true pattern=solid-color ! video/x-raw,format=BGRx,width=" +
            std::to_string(desktop.width) + ",height=" + std::to_string(desktop.height) +
            ",framerate=30/1 ! pipewiresink mode=provide "
            "stream-properties=\"props,node.name=zushare-test-screen-" +
            std::to_string(screen + 1) + ",media.class=Video/Source\"";
        GError *error = nullptr;
        desktop.pipelines[screen] = gst_parse_launch(text.c_str(), &error);
        if (!desktop.pipelines[screen] || error)
            return fail(error ? error->message : "no pipeline");
        if (desktop.paint)
            gst_object_unref(desktop.paint);
        desktop.paint = gst_bin_get_by_name(GST_BIN(desktop.pipelines[screen]), "paint");
        setColour(colours[screen]);
        gst_element_set_state(desktop.pipelines[screen], GST_STATE_PLAYING);
    }
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
    GVariant *owned = g_dbus_connection_call_sync(
        desktop.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.impl.portal.desktop.zutest", 4u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (!owned)
        return fail(error->message);
    g_variant_unref(owned);
    desktop.loop = g_main_loop_new(nullptr, FALSE);
    GIOChannel *input = g_io_channel_unix_new(0);
    g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP), onInput, nullptr);
    std::puts("ready");
    g_main_loop_run(desktop.loop);
    gst_object_unref(desktop.paint);
    for (GstElement *pipeline : desktop.pipelines) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
    g_io_channel_unref(input);
    g_dbus_node_info_unref(desktop.info);
    g_object_unref(desktop.bus);
    g_main_loop_unref(desktop.loop);
    return 0;
}
