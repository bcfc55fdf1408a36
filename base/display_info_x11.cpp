// The primary display's size from the X server: the size of the default screen's root window.
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

#include "base/display_info.h"

namespace quillon {
namespace {

struct ConnectionCloser {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

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
