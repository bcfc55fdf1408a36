// The desktop of an X server, converted from the server's 32-bit pixels to 24-bit bottom-up rows.
#include "capture/screen_grabber_x11.h"

#include <sys/mman.h>
#include <unistd.h>
#include <xcb/shm.h>

#include <algorithm>
#include <cstdlib>

#include "base/log.h"
#include "capture/pixel_convert.h"

namespace quillon {
namespace {

// True when the server hands the root window's pixels as 32-bit little-endian BGRX.
bool RootIsBgrx32(xcb_connection_t* connection, const xcb_screen_t* screen) {
  const xcb_setup_t* setup = xcb_get_setup(connection);
  if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
  if (screen->root_depth != 24 && screen->root_depth != 32) return false;
  xcb_format_iterator_t format = xcb_setup_pixmap_formats_iterator(setup);
  for (; format.rem > 0; xcb_format_next(&format)) {
    if (format.data->depth == screen->root_depth) {
      return format.data->bits_per_pixel == 32 && format.data->scanline_pad == 32;
    }
  }
  return false;
}

}  // namespace

ScreenGrabberX11::ScreenGrabberX11(const std::string& displayName, bool useSharedMemory) {
  int screenNumber = 0;
  xcb_connection_t* connection =
      xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber);
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    const char* name = displayName.empty() ? std::getenv("DISPLAY") : displayName.c_str();
    LogWarning("cannot open the X display %s; the desktop stays black",
               name != nullptr ? name : "(DISPLAY is not set)");
    return;
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0) {
    xcb_disconnect(connection);
    return;
  }
  connection_ = connection;
  root_ = screens.data->root;
  screenWidth_ = screens.data->width_in_pixels;
  screenHeight_ = screens.data->height_in_pixels;
  if (!RootIsBgrx32(connection_, screens.data)) {
    LogWarning("the X screen's pixel format is not 32-bit; the desktop stays black");
    reportedFormat_ = true;
  }
  if (useSharedMemory) {
    xcb_shm_query_version_reply_t* version =
        xcb_shm_query_version_reply(connection_, xcb_shm_query_version(connection_), nullptr);
    // Descriptor passing came with MIT-SHM 1.2.
    sharedMemory_ =
        version != nullptr && (version->major_version > 1 ||
                               (version->major_version == 1 && version->minor_version >= 2));
    std::free(version);
  }
}

ScreenGrabberX11::~ScreenGrabberX11() {
  ReleaseSegment();
  std::free(plainReply_);
  if (connection_ != nullptr) xcb_disconnect(connection_);
}

bool ScreenGrabberX11::EnsureSegment(size_t bytes) {
  if (segment_.Id != 0 && segment_.Bytes >= bytes) return true;
  ReleaseSegment();
  int fd = memfd_create("quillon-screen", MFD_CLOEXEC);
  if (fd < 0) return false;
  if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
    close(fd);
    return false;
  }
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (memory == MAP_FAILED) {
    close(fd);
    return false;
  }
  uint32_t id = xcb_generate_id(connection_);
  // The server takes ownership of the descriptor it is sent: hand it a duplicate.
  xcb_void_cookie_t cookie = xcb_shm_attach_fd_checked(connection_, id, dup(fd), 0);
  close(fd);
  if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
    std::free(error);
    munmap(memory, bytes);
    return false;
  }
  segment_ = Segment{id, static_cast<uint8_t*>(memory), bytes};
  return true;
}

void ScreenGrabberX11::ReleaseSegment() {
  if (segment_.Id == 0) return;
  xcb_shm_detach(connection_, segment_.Id);
  xcb_flush(connection_);
  munmap(segment_.Memory, segment_.Bytes);
  segment_ = Segment{};
}

const uint8_t* ScreenGrabberX11::GetImage(int32_t width, int32_t height) {
  const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
  if (sharedMemory_ && EnsureSegment(bytes)) {
    xcb_shm_get_image_cookie_t cookie = xcb_shm_get_image(
        connection_, root_, 0, 0, static_cast<uint16_t>(width), static_cast<uint16_t>(height), ~0u,
        XCB_IMAGE_FORMAT_Z_PIXMAP, segment_.Id, 0);
    xcb_generic_error_t* error = nullptr;
    xcb_shm_get_image_reply_t* reply = xcb_shm_get_image_reply(connection_, cookie, &error);
    bool ok = reply != nullptr && error == nullptr;
    std::free(reply);
    std::free(error);
    if (ok) {
      usedSharedMemory_ = true;
      return segment_.Memory;
    }
    // A server that refuses shared images gets the plain request from now on.
    ReleaseSegment();
    sharedMemory_ = false;
  }
  std::free(plainReply_);
  plainReply_ = xcb_get_image_reply(
      connection_,
      xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, 0, 0,
                    static_cast<uint16_t>(width), static_cast<uint16_t>(height), ~0u),
      nullptr);
  if (plainReply_ == nullptr ||
      static_cast<size_t>(xcb_get_image_data_length(plainReply_)) < bytes) {
    return nullptr;
  }
  return xcb_get_image_data(plainReply_);
}

void ScreenGrabberX11::GrabScreen(uint8_t* buffer, int32_t width, int32_t height) {
  if (connection_ == nullptr || reportedFormat_ || width <= 0 || height <= 0) return;
  // Only the part that lies on the real screen is read; the rest is black.
  const int32_t grabWidth = std::min(width, screenWidth_);
  const int32_t grabHeight = std::min(height, screenHeight_);
  const uint8_t* pixels = GetImage(grabWidth, grabHeight);
  if (pixels == nullptr) return;
  PlaceScreenPicture(pixels, grabWidth * 4, grabWidth, grabHeight, false, buffer, width, height);
}

bool ScreenGrabberX11::DrawCursorMarker(uint8_t* buffer, int32_t width, int32_t height) {
  if (connection_ == nullptr) return false;
  xcb_query_pointer_reply_t* pointer =
      xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr);
  if (pointer == nullptr) return false;
  const bool onScreen = pointer->same_screen != 0;
  const int32_t x = pointer->root_x;
  const int32_t y = pointer->root_y;
  std::free(pointer);
  return onScreen && DrawMarkerAt(buffer, width, height, x, y);
}

}  // namespace quillon
