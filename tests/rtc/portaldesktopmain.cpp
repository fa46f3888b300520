// A desktop's side of the screen-cast portal for tests: the real portal service hands the program's
// requests to this backend, whose "picker" chooses one of its two screens without asking and casts
// it over PipeWire as a solid colour; it gives the portal the data to restore that choice. Headless
// wlroots compositors cannot cast without a GPU render node, which these machines lack; the portal
// service, its permission store, the PipeWire daemon and the program's side are real.
//
// Arguments: the first screen's colour (RRGGBB), the screens' width and height, the second screen's
// colour. Lines on stdin: "colour RRGGBB" repaints the first screen; "pick N" makes the picker
// choose screen N (1 or 2) from then on; "end" ends every cast as a desktop's "stop sharing" button
// does. It prints "ready", "picked N" or "restored N" as a cast starts, "closed" when the program
// closes one, and "ended".

#include <gio/gio.h>
#include <gst/gst.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

const char *kIntrospection = R"(
<node>
  <interface name="org.freedesktop.impl.portal.ScreenCast">
    <method name="CreateSession">
      <arg type="o" name="handle" direction="in"/><arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/><arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/><arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="SelectSources">
      <arg type="o" name="handle" direction="in"/><arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/><arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/><arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="Start">
      <arg type="o" name="handle" direction="in"/><arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/><arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/><arg type="a{sv}" name="results" direction="out"/>
    </method>
    <property name="AvailableSourceTypes" type="u" access="read"/>
    <property name="AvailableCursorModes" type="u" access="read"/>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.impl.portal.Session">
    <method name="Close"/>
    <signal name="Closed"/>
    <property name="version" type="u" access="read"/>
  </interface>
</node>)";

struct Desktop {
    GDBusConnection *bus = nullptr;
    GDBusNodeInfo *info = nullptr;
    // One pipeline per screen: a provider sink waits for its consumer before it prerolls, so two in one
    // pipeline would hold each other's stream back.
    GstElement *pipelines[2] = {};
    GstElement *paint = nullptr;
    guint32 nodes[2] = {};
    int width = 1280, height = 720;
    int pick = 1;
    std::map<std::string, int> sessions;  // the screen each session casts
    GMainLoop *loop = nullptr;
};

Desktop desktop;

void say(const char *line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

guint32 findNode(const char *name) {
    // The node's id is PipeWire's; the sink does not tell it, the daemon's registry does.
    for (int attempt = 0; attempt < 50; ++attempt) {
        gchar *out = nullptr;
        guint32 found = 0;
        if (g_spawn_command_line_sync("pw-cli ls Node", &out, nullptr, nullptr, nullptr) && out) {
            gchar **lines = g_strsplit(out, "\n", -1);
            unsigned id = 0;
            for (int k = 0; lines[k] && !found; ++k) {
                std::sscanf(lines[k], "\tid %u,", &id);
                if (std::strstr(lines[k], "node.name") && std::strstr(lines[k], name))
                    found = id;
            }
            g_strfreev(lines);
        }
        g_free(out);
        if (found)
            return found;
        g_usleep(100 * 1000);
    }
    return 0;
}

void setColour(const char *hex) {
    const guint rgb = static_cast<guint>(std::strtoul(hex, nullptr, 16)) & 0xffffff;
    g_object_set(desktop.paint, "foreground-color", 0xff000000u | rgb, nullptr);
}

bool findNodes() {
    desktop.nodes[0] = findNode("zushare-test-screen-1");
    desktop.nodes[1] = findNode("zushare-test-screen-2");
    return desktop.nodes[0] && desktop.nodes[1];
}

// A stream serves one cast, as a compositor's does: the screen comes back as a new node for the next.
// (A provider sink whose consumer left would not serve another.)
void restartScreens(bool only[2]) {
    for (int k = 0; k < 2; ++k) {
        if (only[k]) {
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
    bool both[2] = {true, true};
    restartScreens(both);
    say("ended");
}

void onSessionCall(GDBusConnection *, const gchar *, const gchar *path, const gchar *, const gchar *method,
                   GVariant *, GDBusMethodInvocation *invocation, gpointer) {
    if (std::strcmp(method, "Close") == 0) {
        const auto closing = desktop.sessions.find(path);
        const int screen = closing == desktop.sessions.end() ? 0 : closing->second;
        if (closing != desktop.sessions.end())
            desktop.sessions.erase(closing);
        bool unwatched[2] = {screen == 1, screen == 2};
        for (const auto &session : desktop.sessions) {
            if (screen > 0 && session.second == screen)
                unwatched[screen - 1] = false;
        }
        restartScreens(unwatched);
        say("closed");
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod",
                                                   method);
}

GVariant *onSessionProperty(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *,
                            GError **, gpointer) {
    return g_variant_new_uint32(1);
}

void onCastCall(GDBusConnection *bus, const gchar *, const gchar *, const gchar *, const gchar *method,
                GVariant *parameters, GDBusMethodInvocation *invocation, gpointer) {
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
    const gchar *session = nullptr;
    g_variant_get_child(parameters, 1, "&o", &session);
    if (std::strcmp(method, "CreateSession") == 0) {
        desktop.sessions[session] = 0;
        static const GDBusInterfaceVTable vtable = {onSessionCall, onSessionProperty, nullptr, {}};
        g_dbus_connection_register_object(bus, session, desktop.info->interfaces[1], &vtable, nullptr,
                                          nullptr, nullptr);
        g_variant_builder_add(&results, "{sv}", "session_id", g_variant_new_string(session));
    } else if (std::strcmp(method, "SelectSources") == 0) {
        GVariant *options = g_variant_get_child_value(parameters, 3);
        const gchar *vendor = nullptr;
        guint32 version = 0, screen = 0;
        GVariant *data = nullptr;
        int chosen = desktop.pick;
        bool restored = false;
        if (g_variant_lookup(options, "restore_data", "(&suv)", &vendor, &version, &data)) {
            if (std::strcmp(vendor, "zutest") == 0 && g_variant_is_of_type(data, G_VARIANT_TYPE_UINT32)) {
                screen = g_variant_get_uint32(data);
                if (screen == 1 || screen == 2) {
                    chosen = int(screen);
                    restored = true;
                }
            }
            g_variant_unref(data);
        }
        g_variant_unref(options);
        desktop.sessions[session] = restored ? -chosen : chosen;
    } else if (std::strcmp(method, "Start") == 0) {
        const int entry = desktop.sessions[session];
        const int screen = entry < 0 ? -entry : (entry ? entry : desktop.pick);
        desktop.sessions[session] = screen;
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&properties, "{sv}", "size",
                              g_variant_new("(ii)", desktop.width, desktop.height));
        g_variant_builder_add(&properties, "{sv}", "source_type", g_variant_new_uint32(1));
        GVariantBuilder streams;
        g_variant_builder_init(&streams, G_VARIANT_TYPE("a(ua{sv})"));
        g_variant_builder_add(&streams, "(ua{sv})", desktop.nodes[screen - 1], &properties);
        g_variant_builder_add(&results, "{sv}", "streams", g_variant_builder_end(&streams));
        g_variant_builder_add(&results, "{sv}", "persist_mode", g_variant_new_uint32(2));
        g_variant_builder_add(&results, "{sv}", "restore_data",
                              g_variant_new("(suv)", "zutest", 1u, g_variant_new_uint32(guint32(screen))));
        say(((entry < 0 ? "restored " : "picked ") + std::to_string(screen)).c_str());
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(ua{sv})", 0u, &results));
}

GVariant *onCastProperty(GDBusConnection *, const gchar *, const gchar *, const gchar *,
                         const gchar *property, GError **, gpointer) {
    if (std::strcmp(property, "AvailableSourceTypes") == 0)
        return g_variant_new_uint32(1);  // monitors, as wlroots desktops offer
    if (std::strcmp(property, "AvailableCursorModes") == 0)
        return g_variant_new_uint32(1 | 2);
    return g_variant_new_uint32(4);
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

}  // namespace

int main(int argc, char **argv) {
    gst_init(&argc, &argv);
    const char *colour = argc > 1 ? argv[1] : "20a040";
    if (argc > 3) {
        desktop.width = std::atoi(argv[2]);
        desktop.height = std::atoi(argv[3]);
    }
    const char *second = argc > 4 ? argv[4] : "2040c0";
    const char *colours[2] = {colour, second};
    for (int screen = 0; screen < 2; ++screen) {
        const std::string text =
            "videotestsrc name=paint is-live=true pattern=solid-color ! video/x-raw,format=BGRx,width=" +
            std::to_string(desktop.width) + ",height=" + std::to_string(desktop.height) +
            ",framerate=30/1 ! pipewiresink mode=provide "
            "stream-properties=\"props,node.name=zushare-test-screen-" +
            std::to_string(screen + 1) + ",media.class=Video/Source\"";
        GError *error = nullptr;
        desktop.pipelines[screen] = gst_parse_launch(text.c_str(), &error);
        if (!desktop.pipelines[screen] || error) {
            std::fprintf(stderr, "portal desktop: %s\n", error ? error->message : "no pipeline");
            return 1;
        }
        if (desktop.paint)
            gst_object_unref(desktop.paint);
        desktop.paint = gst_bin_get_by_name(GST_BIN(desktop.pipelines[screen]), "paint");
        setColour(colours[screen]);
        gst_element_set_state(desktop.pipelines[screen], GST_STATE_PLAYING);
    }
    // "colour" repaints the first screen.
    gst_object_unref(desktop.paint);
    desktop.paint = gst_bin_get_by_name(GST_BIN(desktop.pipelines[0]), "paint");
    GError *error = nullptr;
    if (!findNodes()) {
        std::fprintf(stderr, "portal desktop: the screens' PipeWire nodes did not appear\n");
        return 1;
    }
    desktop.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!desktop.bus) {
        std::fprintf(stderr, "portal desktop: %s\n", error->message);
        return 1;
    }
    desktop.info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable = {onCastCall, onCastProperty, nullptr, {}};
    g_dbus_connection_register_object(desktop.bus, "/org/freedesktop/portal/desktop",
                                      desktop.info->interfaces[0], &vtable, nullptr, nullptr, nullptr);
    GVariant *owned = g_dbus_connection_call_sync(
        desktop.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.impl.portal.desktop.zutest", 4u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (!owned) {
        std::fprintf(stderr, "portal desktop: %s\n", error->message);
        return 1;
    }
    g_variant_unref(owned);
    desktop.loop = g_main_loop_new(nullptr, FALSE);
    GIOChannel *input = g_io_channel_unix_new(0);
    g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP), onInput, nullptr);
    say("ready");
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
