// The primary display's size from the X server: the RandR primary monitor (or the first one),
// the whole root window only where the server has no RandR. With two monitors side by side the
// root window spans both, and a class would publish them both.
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "base/display_info.h"

namespace quillon {
namespace {

struct ConnectionCloser {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
struct ReplyFree {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, ReplyFree>;

// The monitors RandR 1.5 lists (active ones only), or none without RandR 1.5.
std::vector<MonitorArea> RandrMonitors(xcb_connection_t* connection, xcb_window_t root) {
  std::vector<MonitorArea> monitors;
  const xcb_query_extension_reply_t* extension =
      xcb_get_extension_data(connection, &xcb_randr_id);
  if (extension == nullptr || !extension->present) return monitors;
  Reply<xcb_randr_query_version_reply_t> version(xcb_randr_query_version_reply(
      connection, xcb_randr_query_version(connection, 1, 5), nullptr));
  if (!version || version->major_version < 1 ||
      (version->major_version == 1 && version->minor_version < 5)) {
    return monitors;
  }
  Reply<xcb_randr_get_monitors_reply_t> reply(xcb_randr_get_monitors_reply(
      connection, xcb_randr_get_monitors(connection, root, 1), nullptr));
  if (!reply) return monitors;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
       xcb_randr_monitor_info_next(&it)) {
    monitors.push_back({{it.data->width, it.data->height}, it.data->primary != 0});
  }
  return monitors;
}

class X11DisplayInfo : public DisplayInfo {
 public:
  std::optional<ScreenSize> PrimarySize() const override {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
      why_ = "DISPLAY is not set";
      return std::nullopt;
    }
    int screen_number = 0;
    std::unique_ptr<xcb_connection_t, ConnectionCloser> connection(
        xcb_connect(nullptr, &screen_number));
    if (xcb_connection_has_error(connection.get()) != 0) {
      why_ = std::string("cannot connect to the X server ") + name;
      return std::nullopt;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screen_number && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem <= 0) {
      why_ = std::string("the X server ") + name + " has no such screen";
      return std::nullopt;
    }
    if (auto primary = PrimaryOf(RandrMonitors(connection.get(), screens.data->root))) {
      return primary;
    }
    return ScreenSize{screens.data->width_in_pixels, screens.data->height_in_pixels};
  }
  std::string WhyUnavailable() const override { return why_; }

 private:
  mutable std::string why_ = "no display";
};

}  // namespace

std::unique_ptr<DisplayInfo> CreateSystemDisplayInfo() {
  return std::make_unique<X11DisplayInfo>();
}

}  // namespace quillon
