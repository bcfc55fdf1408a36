// The ScreenCast portal through GDBus, on a private connection to the session bus: the portal
// ends a session when the connection that made it closes, so the class's sharing lasts exactly as
// long as this object. Every request is answered by a Response signal on its Request object; the
// signals are received on a main context of this object's own while Share waits, which Cancel
// wakes from another thread. The session's Closed signal may come at any time later: a message
// filter, which runs on GDBus's own thread, notes it.
#include "capture/screencast_portal.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <system_error>

#include "base/log.h"

namespace quillon {
namespace {

constexpr char kService[] = "org.freedesktop.portal.Desktop";
constexpr char kObject[] = "/org/freedesktop/portal/desktop";
constexpr char kScreenCast[] = "org.freedesktop.portal.ScreenCast";
constexpr int kCallMilliseconds = 10000;
constexpr int kRequestSeconds = 30;  // answers that need no dialog
constexpr int kCloseMilliseconds = 2000;

constexpr uint32_t kSourceMonitor = 1;
constexpr uint32_t kCursorEmbedded = 2;
constexpr uint32_t kCursorMetadata = 4;
constexpr uint32_t kPersistUntilRevoked = 2;

struct ErrorText {
  GError* error = nullptr;
  ~ErrorText() {
    if (error != nullptr) g_error_free(error);
  }
  const char* what() const { return error != nullptr ? error->message : "no reason given"; }
};

struct VariantRef {
  GVariant* value = nullptr;
  ~VariantRef() {
    if (value != nullptr) g_variant_unref(value);
  }
};

// What a Request's Response carried, or that none came.
struct Answer {
  bool done = false;
  bool portalGone = false;
  uint32_t response = 2;  // 0 granted, 1 cancelled by the user, 2 ended otherwise
  VariantRef results;
};

std::string ReadToken(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string token;
  if (in) std::getline(in, token);
  return token;
}

void WriteToken(const std::filesystem::path& file, const std::string& token) {
  const std::filesystem::path part = file.string() + ".part";
  {
    std::ofstream out(part, std::ios::trunc);
    out << token << '\n';
    if (!out.flush()) {
      LogWarning("cannot keep the screen-sharing permission in %s; the next class asks again",
                 file.string().c_str());
      return;
    }
  }
  std::error_code error;
  std::filesystem::rename(part, file, error);
  if (error) LogWarning("cannot keep the screen-sharing permission: %s", error.message().c_str());
}

}  // namespace

// Whether the portal closed the session, as the message filter sees it on GDBus's thread.
struct SessionWatch {
  std::mutex mutex;
  std::string session;  // the session's object path, once known
  std::atomic<bool> closed{false};

  static GDBusMessage* Filter(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                              gpointer data) {
    auto& watch = **static_cast<std::shared_ptr<SessionWatch>*>(data);
    if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_SIGNAL ||
        g_strcmp0(g_dbus_message_get_interface(message), "org.freedesktop.portal.Session") != 0 ||
        g_strcmp0(g_dbus_message_get_member(message), "Closed") != 0) {
      return message;
    }
    const std::lock_guard<std::mutex> lock(watch.mutex);
    if (!watch.session.empty() && watch.session == g_dbus_message_get_path(message))
      watch.closed = true;
    return message;
  }
};

struct ScreenCastPortal::Bus {
  GDBusConnection* connection = nullptr;
  GMainContext* context = g_main_context_new();  // the waits' own, pushed while Share runs
  std::string sender;                            // the unique name as request paths spell it
  std::string session;
  int tokens = 0;
  std::shared_ptr<SessionWatch> watch = std::make_shared<SessionWatch>();
  guint filter = 0;
  GCancellable* cancellable = g_cancellable_new();  // the calls of a Share, which Cancel ends

  ~Bus() {
    if (connection != nullptr) {
      CloseSession();
      if (filter != 0) g_dbus_connection_remove_filter(connection, filter);
      g_dbus_connection_close_sync(connection, nullptr, nullptr);
      g_object_unref(connection);
    }
    g_main_context_unref(context);
    g_object_unref(cancellable);
  }

  void WatchSession() {
    filter = g_dbus_connection_add_filter(
        connection, &SessionWatch::Filter, new std::shared_ptr<SessionWatch>(watch),
        [](gpointer data) { delete static_cast<std::shared_ptr<SessionWatch>*>(data); });
  }

  void CloseSession() {
    if (session.empty()) return;
    CallClose(session, "org.freedesktop.portal.Session");
    session.clear();
  }

  void CallClose(const std::string& path, const char* interface) {
    GVariant* reply = g_dbus_connection_call_sync(connection, kService, path.c_str(), interface,
                                                  "Close", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE,
                                                  kCloseMilliseconds, nullptr, nullptr);
    if (reply != nullptr) g_variant_unref(reply);
  }

  std::string NewToken() {
    return "quillon" + std::to_string(getpid()) + "_" + std::to_string(++tokens);
  }

  GVariant* Call(const char* method, GVariant* parameters, const char* replyType,
                 ErrorText* error) {
    return g_dbus_connection_call_sync(
        connection, kService, kObject, kScreenCast, method, parameters, G_VARIANT_TYPE(replyType),
        G_DBUS_CALL_FLAGS_NONE, kCallMilliseconds, cancellable, &error->error);
  }

  // A ScreenCast property; fallback when the portal does not have it.
  uint32_t Property(const char* name, uint32_t fallback) {
    ErrorText error;
    GVariant* reply = g_dbus_connection_call_sync(
        connection, kService, kObject, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kScreenCast, name), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
        kCallMilliseconds, cancellable, &error.error);
    if (reply == nullptr) return fallback;
    VariantRef value;
    g_variant_get(reply, "(v)", &value.value);
    g_variant_unref(reply);
    return g_variant_is_of_type(value.value, G_VARIANT_TYPE_UINT32)
               ? g_variant_get_uint32(value.value)
               : fallback;
  }

  static void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer data) {
    auto* answer = static_cast<Answer*>(data);
    if (answer->done || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
    g_variant_get(parameters, "(u@a{sv})", &answer->response, &answer->results.value);
    answer->done = true;
  }
  static void OnOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                             const gchar*, GVariant* parameters, gpointer data) {
    auto* answer = static_cast<Answer*>(data);
    const gchar* newOwner = nullptr;
    g_variant_get(parameters, "(&s&s&s)", nullptr, nullptr, &newOwner);
    if (newOwner != nullptr && newOwner[0] == '\0') answer->portalGone = true;
  }
  static gboolean OnTimeout(gpointer data) {
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
  }

  // Calls a method whose last argument is the options vardict with handle_token = token, and
  // waits up to seconds for its Request's Response, or until cancelled is set (the Request is
  // closed then). The subscription is made before the call, on the Request path the portal
  // derives from the sender and the token, so that no answer can come before it.
  bool Request(const char* method, GVariant* parameters, const std::string& token, int seconds,
               const std::atomic<bool>& cancelled, Answer* answer) {
    const std::string path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
    const guint response = g_dbus_connection_signal_subscribe(
        connection, nullptr, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, &Bus::OnResponse, answer, nullptr);
    const guint owner = g_dbus_connection_signal_subscribe(
        connection, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
        "/org/freedesktop/DBus", kService, G_DBUS_SIGNAL_FLAGS_NONE, &Bus::OnOwnerChanged, answer,
        nullptr);
    ErrorText error;
    GVariant* reply = Call(method, parameters, "(o)", &error);
    bool timedOut = false;
    if (reply == nullptr && cancelled) {
      CallClose(path, "org.freedesktop.portal.Request");  // made, perhaps, before the call ended
    } else if (reply == nullptr) {
      LogWarning("the screen-sharing portal refused %s: %s", method, error.what());
    } else {
      g_variant_unref(reply);
      GSource* timeout = g_timeout_source_new_seconds(static_cast<guint>(seconds));
      g_source_set_callback(timeout, &Bus::OnTimeout, &timedOut, nullptr);
      g_source_attach(timeout, context);
      while (!answer->done && !answer->portalGone && !timedOut && !cancelled)
        g_main_context_iteration(context, TRUE);
      g_source_destroy(timeout);
      g_source_unref(timeout);
      if (!answer->done && !answer->portalGone && cancelled) {
        LogInfo("the screen-sharing request %s is called off", method);
        CallClose(path, "org.freedesktop.portal.Request");
      }
      if (answer->portalGone) LogWarning("the screen-sharing portal ended during %s", method);
      if (timedOut)
        LogWarning("the screen-sharing portal did not answer %s in %d s", method, seconds);
    }
    g_dbus_connection_signal_unsubscribe(connection, response);
    g_dbus_connection_signal_unsubscribe(connection, owner);
    return answer->done;
  }
};

ScreenCastPortal::ScreenCastPortal(std::filesystem::path tokenFile)
    : tokenFile_(std::move(tokenFile)), bus_(std::make_unique<Bus>()) {}

ScreenCastPortal::~ScreenCastPortal() = default;

void ScreenCastPortal::Cancel() {
  cancelled_ = true;
  g_cancellable_cancel(bus_->cancellable);
  g_main_context_wakeup(bus_->context);
}

bool ScreenCastPortal::SessionClosed() const {
  return bus_->watch->closed;
}

ScreenProblem ScreenCastPortal::Share(SharedMonitor* monitor, int dialogSeconds) {
  if (bus_->connection != nullptr) return ScreenProblem::kNotShared;  // one share per object
  ScreenProblem problem = ShareSteps(monitor, dialogSeconds);
  if (problem != ScreenProblem::kNone && bus_->connection != nullptr) bus_->CloseSession();
  if (problem != ScreenProblem::kNone && cancelled_) problem = ScreenProblem::kCancelled;
  return problem;
}

ScreenProblem ScreenCastPortal::ShareSteps(SharedMonitor* monitor, int dialogSeconds) {
  Bus& bus = *bus_;
  if (cancelled_) return ScreenProblem::kCancelled;
  ErrorText error;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error.error);
  if (address == nullptr) {
    LogWarning("no session bus for the screen-sharing portal: %s", error.what());
    return ScreenProblem::kNoScreenSharing;
  }
  bus.connection = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error.error);
  g_free(address);
  if (bus.connection == nullptr) {
    LogWarning("cannot connect to the session bus: %s", error.what());
    return ScreenProblem::kNoScreenSharing;
  }
  const gchar* unique = g_dbus_connection_get_unique_name(bus.connection);
  std::string sender = unique != nullptr ? unique + 1 : "";  // without ':'
  for (char& c : sender) c = c == '.' ? '_' : c;
  bus.sender = sender;
  bus.WatchSession();
  g_main_context_push_thread_default(bus.context);
  struct PopContext {
    GMainContext* context;
    ~PopContext() { g_main_context_pop_thread_default(context); }
  } pop{bus.context};

  const uint32_t version = bus.Property("version", 0);
  if (version == 0 && cancelled_) return ScreenProblem::kCancelled;
  if (version == 0) {
    LogWarning(
        "no screen-sharing portal on the session bus (%s with %s); install "
        "xdg-desktop-portal and the backend of this desktop, or set "
        "QUILLON_DESKTOP_SOURCE=x11",
        kService, kScreenCast);
    return ScreenProblem::kNoScreenSharing;
  }
  const uint32_t cursorModes = bus.Property("AvailableCursorModes", 0);
  const uint32_t cursorMode = (cursorModes & kCursorMetadata) != 0   ? kCursorMetadata
                              : (cursorModes & kCursorEmbedded) != 0 ? kCursorEmbedded
                                                                     : 0;

  // The session.
  {
    const std::string token = bus.NewToken();
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string(bus.NewToken().c_str()));
    Answer answer;
    if (!bus.Request("CreateSession", g_variant_new("(a{sv})", &options), token, kRequestSeconds,
                     cancelled_, &answer) ||
        answer.response != 0) {
      return ScreenProblem::kNotShared;
    }
    const gchar* handle = nullptr;
    if (!g_variant_lookup(answer.results.value, "session_handle", "&s", &handle) ||
        !g_variant_is_object_path(handle)) {
      LogWarning("the screen-sharing portal made a session without a handle");
      return ScreenProblem::kNotShared;
    }
    bus.session = handle;
    const std::lock_guard<std::mutex> lock(bus.watch->mutex);
    bus.watch->session = handle;
  }
  // One monitor, the pointer as metadata when the portal can, the permission kept until revoked.
  const std::string kept = version >= 4 && !tokenFile_.empty() ? ReadToken(tokenFile_) : "";
  {
    const std::string token = bus.NewToken();
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kSourceMonitor));
    g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(FALSE));
    if (cursorMode != 0)
      g_variant_builder_add(&options, "{sv}", "cursor_mode", g_variant_new_uint32(cursorMode));
    if (version >= 4) {
      g_variant_builder_add(&options, "{sv}", "persist_mode",
                            g_variant_new_uint32(kPersistUntilRevoked));
      if (!kept.empty())
        g_variant_builder_add(&options, "{sv}", "restore_token",
                              g_variant_new_string(kept.c_str()));
    }
    Answer answer;
    if (!bus.Request("SelectSources", g_variant_new("(oa{sv})", bus.session.c_str(), &options),
                     token, kRequestSeconds, cancelled_, &answer) ||
        answer.response != 0) {
      if (answer.done) LogWarning("the screen-sharing portal refused the monitor choice");
      return ScreenProblem::kNotShared;
    }
  }
  // The teacher's choice (no dialog when the kept token still holds).
  uint32_t node = 0;
  {
    const std::string token = bus.NewToken();
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    Answer answer;
    if (!bus.Request("Start", g_variant_new("(osa{sv})", bus.session.c_str(), "", &options), token,
                     dialogSeconds, cancelled_, &answer)) {
      return ScreenProblem::kNotShared;
    }
    if (answer.response != 0) {
      LogWarning(answer.response == 1 ? "the teacher did not share a screen"
                                      : "the screen-sharing portal ended the request");
      return ScreenProblem::kNotShared;
    }
    GVariant* streams =
        g_variant_lookup_value(answer.results.value, "streams", G_VARIANT_TYPE("a(ua{sv})"));
    if (streams == nullptr || g_variant_n_children(streams) == 0) {
      if (streams != nullptr) g_variant_unref(streams);
      LogWarning("the screen-sharing portal granted no monitor");
      return ScreenProblem::kNotShared;
    }
    VariantRef properties;
    g_variant_get_child(streams, 0, "(u@a{sv})", &node, &properties.value);
    g_variant_unref(streams);
    g_variant_lookup(properties.value, "size", "(ii)", &monitor->Width, &monitor->Height);
    const gchar* restore = nullptr;
    if (!tokenFile_.empty() &&
        g_variant_lookup(answer.results.value, "restore_token", "&s", &restore) &&
        restore[0] != '\0' && kept != restore) {
      WriteToken(tokenFile_, restore);
    }
  }
  // The PipeWire connection that may see the shared node.
  GUnixFDList* fds = nullptr;
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
      bus.connection, kService, kObject, kScreenCast, "OpenPipeWireRemote",
      g_variant_new("(oa{sv})", bus.session.c_str(), &options), G_VARIANT_TYPE("(h)"),
      G_DBUS_CALL_FLAGS_NONE, kCallMilliseconds, nullptr, &fds, bus.cancellable, &error.error);
  int fd = -1;
  if (reply != nullptr) {
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    g_variant_unref(reply);
    if (fds != nullptr) fd = g_unix_fd_list_get(fds, index, &error.error);
  }
  if (fds != nullptr) g_object_unref(fds);
  if (fd < 0) {
    LogWarning("the screen-sharing portal gave no PipeWire connection: %s", error.what());
    return ScreenProblem::kNoPicture;
  }
  monitor->RemoteFd = fd;
  monitor->Node = node;
  monitor->CursorMetadata = cursorMode == kCursorMetadata;
  return ScreenProblem::kNone;
}

}  // namespace quillon
