// A stand-in for the desktop portal's ScreenCast interface on a test's session bus, serving one
// "monitor" as a PipeWire video node: the tests' pattern on a background that SetPicture changes,
// with the pointer position as cursor metadata. It answers like the portal does: every request
// through a Request object's Response signal sent to the caller, sessions at the path that
// session_handle_token names, cursor modes checked against AvailableCursorModes, a restore token
// in Start's results when persist_mode asks for one (good for one restore, replaced each time),
// and no dialog when SelectSources brings a valid one. Request.Close ends a request unanswered,
// Session.Close ends a session; both are written to standard output ("standin: Request.Close").
//   screencast_portal_standin [--refuse | --never-answer] [--cursor-modes N] [--size WxH] [--rgbx]
//                             [--mutter]
// --refuse answers the dialog with "cancelled", --never-answer leaves it open for good; --rgbx
// serves red-first pixels; --mutter grants the primary monitor of a running mutter through its
// own org.gnome.Mutter.ScreenCast instead of serving a picture (GNOME's portal would show a dialog
// that no test can answer). Control for tests, on /org/quillon/StandIn:
// org.quillon.ScreenCastStandIn.SetPicture(u variant), SetPointer(i x, i y) (x < 0: on another
// monitor), Dialogs() -> u, EndSharing() (the teacher stops sharing from the desktop's own
// indicator: every session is closed with the Closed signal, and the monitor's stream stops).
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <glib-unix.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "capture/testing/screen_checks.h"

namespace {

constexpr char kObject[] = "/org/freedesktop/portal/desktop";
constexpr char kXml[] = R"(<node>
  <interface name="org.freedesktop.portal.ScreenCast">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="SelectSources"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="Start"><arg type="o" direction="in"/><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="OpenPipeWireRemote"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/><arg type="h" direction="out"/></method>
    <property name="AvailableCursorModes" type="u" access="read"/>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.portal.Request"><method name="Close"/>
    <signal name="Response"><arg type="u"/><arg type="a{sv}"/></signal></interface>
  <interface name="org.freedesktop.portal.Session"><method name="Close"/>
    <signal name="Closed"><arg type="a{sv}"/></signal></interface>
  <interface name="org.quillon.ScreenCastStandIn">
    <method name="SetPicture"><arg type="u" direction="in"/></method>
    <method name="SetPointer"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
    <method name="Dialogs"><arg type="u" direction="out"/></method>
    <method name="EndSharing"/>
  </interface>
</node>)";

struct Session {
  std::string owner;
  guint registration = 0;
  bool selected = false;
  bool started = false;
  uint32_t persistMode = 0;
  uint32_t cursorMode = 1;
  std::string restoreToken;
};

struct StandIn {
  bool refuse = false;
  bool neverAnswer = false;
  bool redFirst = false;
  bool mutter = false;
  uint32_t cursorModes = 7;
  int width = 320;
  int height = 240;

  GDBusConnection* bus = nullptr;
  GDBusNodeInfo* xml = nullptr;
  std::map<std::string, Session> sessions;
  std::set<std::string> grantedTokens;
  int tokenCounter = 0;
  uint32_t dialogs = 0;

  // The PipeWire side; the picture and pointer are read on its thread.
  pw_thread_loop* loop = nullptr;
  pw_stream* stream = nullptr;
  spa_hook listener{};
  spa_source* timer = nullptr;
  std::atomic<uint32_t> picture{0};
  std::atomic<int32_t> pointerX{100};
  std::atomic<int32_t> pointerY{100};
} g;

std::string SenderPath(const char* sender) {
  std::string path = sender + 1;
  for (char& c : path) c = c == '.' ? '_' : c;
  return path;
}

std::string TokenOf(GVariant* options, const char* key) {
  const gchar* token = nullptr;
  if (g_variant_lookup(options, key, "&s", &token)) return token;
  return "t" + std::to_string(++g.tokenCounter);
}

// A request not answered yet, by its object path.
struct Pending {
  std::string path, caller;
  uint32_t response = 2;
  GVariant* results = nullptr;
  guint registration = 0;
  guint timeout = 0;  // 0: never answered
};
std::map<std::string, Pending> pendingRequests;

void EndRequest(std::string request) {  // a copy: the record holding it goes
  auto found = pendingRequests.find(request);
  if (found == pendingRequests.end()) return;
  Pending& p = found->second;
  if (p.results != nullptr) g_variant_unref(p.results);
  g_dbus_connection_unregister_object(g.bus, p.registration);
  if (p.timeout != 0) g_source_remove(p.timeout);
  pendingRequests.erase(found);
}

void Say(const std::string& line) {
  std::printf("standin: %s\n", line.c_str());
  std::fflush(stdout);
}

// Request.Close ends a request unanswered, Session.Close a session; both are written out.
void OnClose(GDBusConnection*, const gchar*, const gchar* path, const gchar* interface,
             const gchar*, GVariant*, GDBusMethodInvocation* invocation, gpointer) {
  const bool request = std::strcmp(interface, "org.freedesktop.portal.Request") == 0;
  Say(std::string(request ? "Request.Close " : "Session.Close ") + path);
  g_dbus_method_invocation_return_value(invocation, nullptr);
  if (request) return EndRequest(path);
  auto found = g.sessions.find(path);
  if (found == g.sessions.end()) return;
  g_dbus_connection_unregister_object(g.bus, found->second.registration);
  g.sessions.erase(found);
}
const GDBusInterfaceVTable kCloseCalls{&OnClose, nullptr, nullptr, {}};

// The Response of a request, sent to its caller once the method has returned; results nullptr:
// never (the dialog stays open until the caller closes the request). The Request object lives
// until it has answered.
void Respond(const std::string& caller, const std::string& request, uint32_t response,
             GVariant* results, guint delayMilliseconds = 0) {
  Pending& p = pendingRequests[request];
  p.path = request;
  p.caller = caller;
  p.response = response;
  p.registration = g_dbus_connection_register_object(
      g.bus, request.c_str(),
      g_dbus_node_info_lookup_interface(g.xml, "org.freedesktop.portal.Request"), &kCloseCalls,
      nullptr, nullptr, nullptr);
  if (results == nullptr) return;
  p.results = g_variant_ref_sink(results);
  p.timeout = g_timeout_add(
      delayMilliseconds,
      [](gpointer data) -> gboolean {
        auto* answered = static_cast<Pending*>(data);
        g_dbus_connection_emit_signal(
            g.bus, answered->caller.c_str(), answered->path.c_str(),
            "org.freedesktop.portal.Request", "Response",
            g_variant_new("(u@a{sv})", answered->response, answered->results), nullptr);
        answered->timeout = 0;  // this source ends here
        EndRequest(answered->path);
        return G_SOURCE_REMOVE;
      },
      &p);
}

GVariant* EmptyResults() {
  return g_variant_new_parsed("@a{sv} {}");
}

// The teacher stops sharing from the desktop's indicator: each session ends with Closed.
void EndSharing() {
  for (auto& [path, session] : g.sessions) {
    g_dbus_connection_emit_signal(g.bus, session.owner.c_str(), path.c_str(),
                                  "org.freedesktop.portal.Session", "Closed",
                                  g_variant_new("(@a{sv})", EmptyResults()), nullptr);
    g_dbus_connection_unregister_object(g.bus, session.registration);
  }
  g.sessions.clear();
}

Session* SessionOf(GDBusMethodInvocation* invocation, const char* handle) {
  auto found = g.sessions.find(handle);
  if (found == g.sessions.end() ||
      found->second.owner != g_dbus_method_invocation_get_sender(invocation)) {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED,
                                          "Invalid session");
    return nullptr;
  }
  return &found->second;
}

int PipeWireSocket() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s/pipewire-0",
                runtime != nullptr ? runtime : "/tmp");
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool MutterMonitor(uint32_t cursorMode, uint32_t* node);

void OnScreenCastCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar* interface,
                      const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                      gpointer) {
  const std::string who = SenderPath(sender);
  const std::string requests = "/org/freedesktop/portal/desktop/request/" + who + "/";
  if (std::strcmp(interface, "org.quillon.ScreenCastStandIn") == 0) {
    if (std::strcmp(method, "SetPicture") == 0) {
      guint32 variant = 0;
      g_variant_get(parameters, "(u)", &variant);
      g.picture = variant;
    } else if (std::strcmp(method, "SetPointer") == 0) {
      gint32 x = 0, y = 0;
      g_variant_get(parameters, "(ii)", &x, &y);
      g.pointerX = x;
      g.pointerY = y;
    } else if (std::strcmp(method, "EndSharing") == 0) {
      EndSharing();
    } else {
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", g.dialogs));
      return;
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
    return;
  }
  if (std::strcmp(method, "CreateSession") == 0) {
    GVariant* options = g_variant_get_child_value(parameters, 0);
    const std::string request = requests + TokenOf(options, "handle_token");
    const std::string path = "/org/freedesktop/portal/desktop/session/" + who + "/" +
                             TokenOf(options, "session_handle_token");
    g_variant_unref(options);
    Session session;
    session.owner = sender;
    session.registration = g_dbus_connection_register_object(
        g.bus, path.c_str(),
        g_dbus_node_info_lookup_interface(g.xml, "org.freedesktop.portal.Session"), &kCloseCalls,
        nullptr, nullptr, nullptr);
    g.sessions[path] = session;
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
    Respond(sender, request, 0, g_variant_new_parsed("{'session_handle': <%s>}", path.c_str()));
    return;
  }
  const gchar* handle = nullptr;
  g_variant_get_child(parameters, 0, "&o", &handle);
  Session* session = SessionOf(invocation, handle);
  if (session == nullptr) return;
  GVariant* options = g_variant_get_child_value(parameters, g_variant_n_children(parameters) - 1);
  const std::string request = requests + TokenOf(options, "handle_token");
  if (std::strcmp(method, "SelectSources") == 0) {
    guint32 cursorMode = 1;
    g_variant_lookup(options, "cursor_mode", "u", &cursorMode);
    session->cursorMode = cursorMode;
    g_variant_lookup(options, "persist_mode", "u", &session->persistMode);
    const gchar* token = nullptr;
    if (g_variant_lookup(options, "restore_token", "&s", &token)) session->restoreToken = token;
    g_variant_unref(options);
    if ((cursorMode & g.cursorModes) == 0) {
      g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                            "Unavailable cursor mode %u", cursorMode);
      return;
    }
    session->selected = true;
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
    Respond(sender, request, 0, EmptyResults());
    return;
  }
  if (std::strcmp(method, "Start") == 0) {
    g_variant_unref(options);
    if (!session->selected || session->started) {
      g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_FAILED,
                                            "Sources not selected, or started already");
      return;
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
    // A kept token is good once: restoring spends it, and a new one comes with the results.
    const bool restored = g.grantedTokens.erase(session->restoreToken) > 0;
    if (!restored) {
      ++g.dialogs;
      if (g.refuse || g.neverAnswer) {
        Respond(sender, request, 1, g.refuse ? EmptyResults() : nullptr, 50);
        return;
      }
    }
    session->started = true;
    uint32_t node = SPA_ID_INVALID;
    if (g.mutter) {
      if (!MutterMonitor(session->cursorMode, &node)) {
        Respond(sender, request, 2, EmptyResults());
        return;
      }
    } else {
      pw_thread_loop_lock(g.loop);
      node = g.stream != nullptr ? pw_stream_get_node_id(g.stream) : SPA_ID_INVALID;
      pw_thread_loop_unlock(g.loop);
    }
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(
        &results, "{sv}", "streams",
        g_variant_new_parsed("[(%u, {'size': <(%i, %i)>})]", node, g.width, g.height));
    if (session->persistMode != 0) {
      const std::string token = "standin-" + std::to_string(++g.tokenCounter);
      g.grantedTokens.insert(token);
      g_variant_builder_add(&results, "{sv}", "restore_token", g_variant_new_string(token.c_str()));
    }
    Respond(sender, request, 0, g_variant_builder_end(&results), restored ? 0 : 50);
    return;
  }
  g_variant_unref(options);  // OpenPipeWireRemote
  const int fd = session->started ? PipeWireSocket() : -1;
  if (fd < 0) {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_FAILED,
                                          "No PipeWire connection for this session");
    return;
  }
  GUnixFDList* fds = g_unix_fd_list_new_from_array(&fd, 1);  // takes the descriptor
  g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", 0), fds);
  g_object_unref(fds);
}

// The primary monitor of the compositor through Mutter's own screen-cast interface, without its
// portal's dialog: the node of its stream, and the monitor's size in g.width x g.height.
bool MutterMonitor(uint32_t cursorMode, uint32_t* node) {
  constexpr char kMutter[] = "org.gnome.Mutter.ScreenCast";
  GError* error = nullptr;
  auto call = [&](const char* path, const char* interface, const char* method, GVariant* parameters,
                  const char* type) {
    GVariant* reply =
        g_dbus_connection_call_sync(g.bus, kMutter, path, interface, method, parameters,
                                    type != nullptr ? G_VARIANT_TYPE(type) : nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    if (reply == nullptr) {
      Say(std::string("Mutter ") + method + ": " + error->message);
      g_clear_error(&error);
    }
    return reply;
  };
  GVariant* reply = call("/org/gnome/Mutter/ScreenCast", kMutter, "CreateSession",
                         g_variant_new_parsed("(@a{sv} {},)"), "(o)");
  if (reply == nullptr) return false;
  gchar* session = nullptr;
  g_variant_get(reply, "(o)", &session);
  g_variant_unref(reply);
  // The portal's cursor modes 1, 2, 4 are Mutter's 0 (hidden), 1 (embedded), 2 (metadata).
  const uint32_t mutterMode = cursorMode == 4 ? 2 : cursorMode == 2 ? 1 : 0;
  reply = call(session, "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor",
               g_variant_new_parsed("(%s, {'cursor-mode': <%u>})", "", mutterMode), "(o)");
  if (reply == nullptr) return false;
  gchar* stream = nullptr;
  g_variant_get(reply, "(o)", &stream);
  g_variant_unref(reply);
  struct Added {
    bool done = false;
    uint32_t node = 0;
  } added;
  const guint subscription = g_dbus_connection_signal_subscribe(
      g.bus, nullptr, "org.gnome.Mutter.ScreenCast.Stream", "PipeWireStreamAdded", stream, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
         GVariant* parameters, gpointer data) {
        auto* a = static_cast<Added*>(data);
        g_variant_get(parameters, "(u)", &a->node);
        a->done = true;
      },
      &added, nullptr);
  reply = call(session, "org.gnome.Mutter.ScreenCast.Session", "Start", nullptr, nullptr);
  for (int i = 0; reply != nullptr && !added.done && i < 1000; ++i) {
    g_main_context_iteration(nullptr, FALSE);
    usleep(10000);
  }
  g_dbus_connection_signal_unsubscribe(g.bus, subscription);
  if (reply != nullptr) g_variant_unref(reply);
  reply = call(stream, "org.freedesktop.DBus.Properties", "Get",
               g_variant_new("(ss)", "org.gnome.Mutter.ScreenCast.Stream", "Parameters"), "(v)");
  if (reply != nullptr) {
    GVariant* parameters = nullptr;
    g_variant_get(reply, "(v)", &parameters);
    g_variant_lookup(parameters, "size", "(ii)", &g.width, &g.height);
    g_variant_unref(parameters);
    g_variant_unref(reply);
  }
  Say("Mutter stream " + std::string(stream) + " node " + std::to_string(added.node) + " " +
      std::to_string(g.width) + "x" + std::to_string(g.height));
  g_free(session);
  g_free(stream);
  *node = added.node;
  return added.done;
}

GVariant* OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                        const gchar* name, GError**, gpointer) {
  if (std::strcmp(name, "AvailableCursorModes") == 0) return g_variant_new_uint32(g.cursorModes);
  return g_variant_new_uint32(4);  // version
}

// The monitor: a picture for each process cycle, which a timer starts as the driver would.
void OnProcess(void*) {
  pw_buffer* buffer = pw_stream_dequeue_buffer(g.stream);
  if (buffer == nullptr) return;
  spa_data& plane = buffer->buffer->datas[0];
  const int stride = g.width * 4;
  const uint32_t variant = g.picture;
  // Each buffer is painted once per picture: a large monitor costs the benchmark nothing more.
  const auto painted = reinterpret_cast<uintptr_t>(buffer->user_data);
  const bool fits =
      plane.data != nullptr && plane.maxsize >= static_cast<uint32_t>(stride * g.height);
  if (fits && painted != variant + 1) {
    buffer->user_data = reinterpret_cast<void*>(uintptr_t{variant} + 1);
    auto* pixels = static_cast<uint8_t*>(plane.data);
    for (int y = 0; y < g.height; ++y) {
      for (int x = 0; x < g.width; ++x) {
        uint8_t* p = pixels + y * stride + x * 4;
        const int px = x - quillon::testing::kPatternLeft;
        const int py = y - quillon::testing::kPatternTop;
        if (px >= 0 && px < quillon::testing::kPatternWidth && py >= 0 &&
            py < quillon::testing::kPatternHeight) {
          quillon::testing::PatternAt(px, py, p);
        } else {
          p[0] = static_cast<uint8_t>(200 - variant * 60);  // background by variant
          p[1] = 90;
          p[2] = static_cast<uint8_t>(20 + variant * 60);
        }
        if (g.redFirst) std::swap(p[0], p[2]);
        p[3] = 255;
      }
    }
  }
  if (fits) {
    plane.chunk->offset = 0;
    plane.chunk->stride = stride;
    plane.chunk->size = static_cast<uint32_t>(stride * g.height);
  }
  auto* cursor = static_cast<spa_meta_cursor*>(
      spa_buffer_find_meta_data(buffer->buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
  if (cursor != nullptr) {
    *cursor = {};
    cursor->id = g.pointerX >= 0 ? 1 : 0;  // as compositors do for a pointer elsewhere
    cursor->position = {g.pointerX, g.pointerY};
  }
  pw_stream_queue_buffer(g.stream, buffer);
}

void OnParamChanged(void*, uint32_t id, const spa_pod* param) {
  if (param == nullptr || id != SPA_PARAM_Format) return;
  uint8_t room[1024];
  spa_pod_builder builder{};
  spa_pod_builder_init(&builder, room, sizeof room);
  const spa_pod* params[2];
  spa_pod_frame frame{};
  spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
  spa_pod_builder_add(&builder, SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(4, 2, 8),
                      SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
                      SPA_POD_Int(g.width * g.height * 4), SPA_PARAM_BUFFERS_stride,
                      SPA_POD_Int(g.width * 4), SPA_PARAM_BUFFERS_dataType,
                      SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd), 0);
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
  spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
  const int cursorBytes =
      static_cast<int>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + 64 * 64 * 4);
  spa_pod_builder_add(
      &builder, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
      SPA_POD_CHOICE_RANGE_Int(cursorBytes, static_cast<int>(sizeof(spa_meta_cursor)), cursorBytes),
      0);
  params[1] = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
  pw_stream_update_params(g.stream, params, (g.cursorModes & 4) != 0 ? 2 : 1);
}

void OnTimer(void*, uint64_t) {
  if (g.stream != nullptr && pw_stream_get_state(g.stream, nullptr) == PW_STREAM_STATE_STREAMING)
    pw_stream_trigger_process(g.stream);
}

bool StartMonitor() {
  pw_init(nullptr, nullptr);
  g.loop = pw_thread_loop_new("standin", nullptr);
  pw_context* context = pw_context_new(pw_thread_loop_get_loop(g.loop), nullptr, 0);
  pw_thread_loop_start(g.loop);
  pw_thread_loop_lock(g.loop);
  pw_core* core = pw_context_connect(context, nullptr, 0);
  if (core == nullptr) {
    pw_thread_loop_unlock(g.loop);
    return false;
  }
  g.stream = pw_stream_new(core, "standin-monitor",
                           pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE,
                                             "Video", PW_KEY_MEDIA_CATEGORY, "Source", nullptr));
  static pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.param_changed = &OnParamChanged;
  events.process = &OnProcess;
  pw_stream_add_listener(g.stream, &g.listener, &events, nullptr);
  uint8_t room[1024];
  spa_pod_builder builder{};
  spa_pod_builder_init(&builder, room, sizeof room);
  spa_video_info_raw raw{};
  raw.format = g.redFirst ? SPA_VIDEO_FORMAT_RGBx : SPA_VIDEO_FORMAT_BGRx;
  raw.size = {static_cast<uint32_t>(g.width), static_cast<uint32_t>(g.height)};
  raw.framerate = {30, 1};
  const spa_pod* format = spa_format_video_raw_build(&builder, SPA_PARAM_EnumFormat, &raw);
  pw_stream_connect(
      g.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
      static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), &format, 1);
  g.timer = pw_loop_add_timer(pw_thread_loop_get_loop(g.loop), &OnTimer, nullptr);
  timespec every{0, 33 * 1000 * 1000};
  pw_loop_update_timer(pw_thread_loop_get_loop(g.loop), g.timer, &every, &every, false);
  pw_thread_loop_unlock(g.loop);
  // The node's id is known once the server has made it.
  for (int i = 0; i < 500; ++i) {
    pw_thread_loop_lock(g.loop);
    const uint32_t node = pw_stream_get_node_id(g.stream);
    pw_thread_loop_unlock(g.loop);
    if (node != SPA_ID_INVALID) return true;
    usleep(10000);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--refuse") == 0) g.refuse = true;
    if (std::strcmp(argv[i], "--never-answer") == 0) g.neverAnswer = true;
    if (std::strcmp(argv[i], "--rgbx") == 0) g.redFirst = true;
    if (std::strcmp(argv[i], "--mutter") == 0) g.mutter = true;
    if (std::strcmp(argv[i], "--cursor-modes") == 0 && i + 1 < argc)
      g.cursorModes = static_cast<uint32_t>(std::atoi(argv[++i]));
    if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc)
      std::sscanf(argv[++i], "%dx%d", &g.width, &g.height);
  }
  if (!g.mutter && !StartMonitor()) {
    std::fprintf(stderr, "standin: no PipeWire node\n");
    return 1;
  }
  g.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  g.xml = g_dbus_node_info_new_for_xml(kXml, nullptr);
  if (g.bus == nullptr || g.xml == nullptr) return 1;
  static const GDBusInterfaceVTable vtable{&OnScreenCastCall, &OnGetProperty, nullptr, {}};
  g_dbus_connection_register_object(
      g.bus, kObject, g_dbus_node_info_lookup_interface(g.xml, "org.freedesktop.portal.ScreenCast"),
      &vtable, nullptr, nullptr, nullptr);
  g_dbus_connection_register_object(
      g.bus, "/org/quillon/StandIn",
      g_dbus_node_info_lookup_interface(g.xml, "org.quillon.ScreenCastStandIn"), &vtable, nullptr,
      nullptr, nullptr);
  GMainLoop* main = g_main_loop_new(nullptr, FALSE);
  g_bus_own_name_on_connection(
      g.bus, "org.freedesktop.portal.Desktop", G_BUS_NAME_OWNER_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, gpointer) {
        std::printf("standin: ready\n");
        std::fflush(stdout);
      },
      [](GDBusConnection*, const gchar*, gpointer loop) {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
      },
      main, nullptr);
  g_unix_signal_add(
      SIGTERM,
      [](gpointer loop) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
      },
      main);
  g_main_loop_run(main);
  return 0;
}
