// A PipeWire video stream on a thread loop of its own. The loop's thread holds the loop lock
// while it runs the stream's callbacks; the frame tick takes the same lock only for the one
// conversion of the held picture, so neither waits for the other longer than that.
#include "capture/pipewire_desktop.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "base/log.h"
#include "capture/pixel_convert.h"

namespace quillon {
namespace {

// Room for the pointer's picture in the cursor metadata; the position is what is used.
constexpr uint32_t kCursorSide = 64;
constexpr size_t kCursorMetaBytes =
    sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + kCursorSide * kCursorSide * 4;

void InitPipeWireOnce() {
  static std::once_flag once;
  std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

}  // namespace

struct PipeWireDesktop::State {
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook coreListener{};
  spa_hook streamListener{};

  // Below: touched with the loop lock held.
  int32_t width = 0;
  int32_t height = 0;
  bool redFirst = false;  // RGBx/RGBA rather than BGRx/BGRA
  pw_buffer* held = nullptr;
  const uint8_t* heldPixels = nullptr;
  int32_t heldStride = 0;
  // The last picture, copied when the stream takes its buffers back (renegotiation, or the stream
  // going away) so that it stays on screen.
  std::vector<uint8_t> kept;
  int32_t keptStride = 0;
  bool havePointer = false;
  int32_t pointerX = 0;
  int32_t pointerY = 0;
  pw_stream_state streamState = PW_STREAM_STATE_UNCONNECTED;
  bool reportedEnd = false;
  bool frozen = false;

  const uint8_t* Pixels(int32_t* stride) const {
    if (heldPixels != nullptr) {
      *stride = heldStride;
      return heldPixels;
    }
    *stride = keptStride;
    return kept.empty() ? nullptr : kept.data();
  }

  void KeepHeldPicture() {
    if (held == nullptr) return;
    kept.assign(heldPixels, heldPixels + static_cast<size_t>(heldStride) * height);
    keptStride = heldStride;
    held = nullptr;
    heldPixels = nullptr;
  }

  void ReportEnd(const char* why) {
    if (reportedEnd) return;
    reportedEnd = true;
    LogWarning("the shared desktop's stream ended (%s); the class keeps its last picture", why);
  }

  static void OnCoreError(void* data, uint32_t id, int /*seq*/, int /*res*/, const char* message) {
    auto* self = static_cast<State*>(data);
    if (id == PW_ID_CORE) self->ReportEnd(message != nullptr ? message : "PipeWire error");
  }

  static void OnStateChanged(void* data, pw_stream_state /*old*/, pw_stream_state state,
                             const char* error) {
    auto* self = static_cast<State*>(data);
    self->streamState = state;
    if (state == PW_STREAM_STATE_ERROR) self->ReportEnd(error != nullptr ? error : "error");
    if (state == PW_STREAM_STATE_UNCONNECTED) self->ReportEnd("disconnected");
  }

  static void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* self = static_cast<State*>(data);
    if (param == nullptr || id != SPA_PARAM_Format) return;
    uint32_t mediaType = 0;
    uint32_t mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
      return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    self->KeepHeldPicture();  // its size may be about to change
    self->kept.clear();
    self->width = static_cast<int32_t>(info.size.width);
    self->height = static_cast<int32_t>(info.size.height);
    self->redFirst = info.format == SPA_VIDEO_FORMAT_RGBx || info.format == SPA_VIDEO_FORMAT_RGBA;

    // Shared memory only, one plane, and room for the pointer's position.
    uint8_t room[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, room, sizeof room);
    const spa_pod* params[2];
    spa_pod_frame frame{};
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
    spa_pod_builder_add(&builder, SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(4, 2, 16),
                        SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_dataType,
                        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr)),
                        0);
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
    spa_pod_builder_add(&builder, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
                        SPA_PARAM_META_size,
                        SPA_POD_CHOICE_RANGE_Int(static_cast<int>(kCursorMetaBytes),
                                                 static_cast<int>(sizeof(spa_meta_cursor)),
                                                 static_cast<int>(kCursorMetaBytes)),
                        0);
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
    pw_stream_update_params(self->stream, params, 2);
  }

  static void OnRemoveBuffer(void* data, pw_buffer* buffer) {
    auto* self = static_cast<State*>(data);
    if (buffer == self->held) self->KeepHeldPicture();
  }

  static void OnProcess(void* data) {
    auto* self = static_cast<State*>(data);
    if (self->frozen) {
      while (pw_buffer* next = pw_stream_dequeue_buffer(self->stream))
        pw_stream_queue_buffer(self->stream, next);
      return;
    }
    pw_buffer* newest = nullptr;
    while (pw_buffer* next = pw_stream_dequeue_buffer(self->stream)) {
      if (newest != nullptr) {
        self->TakeCursor(newest);
        pw_stream_queue_buffer(self->stream, newest);
      }
      newest = next;
    }
    if (newest == nullptr) return;
    self->TakeCursor(newest);
    // A buffer that carries only the pointer (the picture has not changed) goes straight back.
    const spa_data& plane = newest->buffer->datas[0];
    const int32_t stride = plane.chunk->stride != 0 ? plane.chunk->stride : self->width * 4;
    const size_t needed = static_cast<size_t>(stride) * static_cast<size_t>(self->height);
    if (plane.data == nullptr || plane.chunk->size == 0 || self->width <= 0 ||
        stride < self->width * 4 || (plane.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0 ||
        plane.chunk->offset + needed > plane.maxsize) {
      pw_stream_queue_buffer(self->stream, newest);
      return;
    }
    if (self->held != nullptr) pw_stream_queue_buffer(self->stream, self->held);
    self->held = newest;
    self->heldPixels = static_cast<const uint8_t*>(plane.data) + plane.chunk->offset;
    self->heldStride = stride;
    self->kept.clear();
  }

  void TakeCursor(pw_buffer* buffer) {
    const auto* cursor = static_cast<const spa_meta_cursor*>(
        spa_buffer_find_meta_data(buffer->buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
    if (cursor == nullptr) return;
    // Compositors mark the pointer invalid while it is on another monitor: no marker then.
    havePointer = spa_meta_cursor_is_valid(cursor);
    pointerX = cursor->position.x;
    pointerY = cursor->position.y;
  }
};

PipeWireDesktop::PipeWireDesktop() : state_(std::make_unique<State>()) {
  InitPipeWireOnce();
}

PipeWireDesktop::~PipeWireDesktop() {
  State& s = *state_;
  if (s.loop == nullptr) return;
  pw_thread_loop_lock(s.loop);
  if (s.stream != nullptr) {
    if (s.held != nullptr) pw_stream_queue_buffer(s.stream, s.held);
    s.held = nullptr;
    spa_hook_remove(&s.streamListener);
    pw_stream_destroy(s.stream);
  }
  if (s.core != nullptr) {
    spa_hook_remove(&s.coreListener);
    pw_core_disconnect(s.core);
  }
  pw_thread_loop_unlock(s.loop);
  pw_thread_loop_stop(s.loop);
  if (s.context != nullptr) pw_context_destroy(s.context);
  pw_thread_loop_destroy(s.loop);
}

bool PipeWireDesktop::Connect(int remoteFd, uint32_t node, int waitMilliseconds) {
  State& s = *state_;
  if (s.loop != nullptr) {
    close(remoteFd);
    return false;
  }
  s.loop = pw_thread_loop_new("quillon-desktop", nullptr);
  if (s.loop == nullptr) {
    close(remoteFd);
    return false;
  }
  s.context = pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0);
  if (s.context == nullptr || pw_thread_loop_start(s.loop) < 0) {
    close(remoteFd);
    return false;
  }
  static const pw_core_events coreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = &State::OnCoreError;
    return events;
  }();
  static const pw_stream_events streamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = &State::OnStateChanged;
    events.param_changed = &State::OnParamChanged;
    events.remove_buffer = &State::OnRemoveBuffer;
    events.process = &State::OnProcess;
    return events;
  }();

  pw_thread_loop_lock(s.loop);
  s.core = pw_context_connect_fd(s.context, remoteFd, nullptr, 0);  // owns the descriptor now
  if (s.core == nullptr) {
    pw_thread_loop_unlock(s.loop);
    LogWarning("cannot connect to PipeWire through the screen-sharing service");
    return false;
  }
  pw_core_add_listener(s.core, &s.coreListener, &coreEvents, &s);
  s.stream = pw_stream_new(s.core, "quillon-publisher desktop",
                           pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                             "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  bool connected = false;
  if (s.stream != nullptr) {
    pw_stream_add_listener(s.stream, &s.streamListener, &streamEvents, &s);
    // 32-bit pixels in any size and rate the monitor has; blue first is preferred.
    uint8_t room[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, room, sizeof room);
    spa_rectangle size{1920, 1080}, smallest{1, 1}, largest{16384, 16384};
    spa_fraction rate{30, 1}, slowest{0, 1}, fastest{1000, 1};
    spa_pod_frame frame{};
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(
        &builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &smallest, &largest),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &slowest, &fastest), 0);
    const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
    connected = pw_stream_connect(s.stream, PW_DIRECTION_INPUT, node,
                                  static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                               PW_STREAM_FLAG_MAP_BUFFERS),
                                  &format, 1) == 0;
  }
  pw_thread_loop_unlock(s.loop);
  if (!connected) {
    LogWarning("cannot open the shared desktop's PipeWire stream (node %u)", node);
    return false;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
  bool pictured = false;
  for (;;) {
    int32_t stride = 0;
    pw_thread_loop_lock(s.loop);
    pictured = s.Pixels(&stride) != nullptr;
    pw_thread_loop_unlock(s.loop);
    if (pictured || std::chrono::steady_clock::now() >= end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!pictured) LogWarning("no picture from the shared desktop in %d ms", waitMilliseconds);
  return pictured;
}

bool PipeWireDesktop::Read(uint8_t* buffer, int32_t width, int32_t height) {
  State& s = *state_;
  if (s.loop == nullptr || width <= 0 || height <= 0) return false;
  pw_thread_loop_lock(s.loop);
  int32_t stride = 0;
  const uint8_t* pixels = s.Pixels(&stride);
  if (pixels != nullptr) {
    PlaceScreenPicture(pixels, stride, std::min(width, s.width), std::min(height, s.height),
                       s.redFirst, buffer, width, height);
  }
  pw_thread_loop_unlock(s.loop);
  return pixels != nullptr;
}

std::optional<std::pair<int32_t, int32_t>> PipeWireDesktop::Pointer() {
  State& s = *state_;
  if (s.loop == nullptr) return std::nullopt;
  pw_thread_loop_lock(s.loop);
  std::optional<std::pair<int32_t, int32_t>> pointer;
  if (s.havePointer) pointer = std::pair{s.pointerX, s.pointerY};
  pw_thread_loop_unlock(s.loop);
  return pointer;
}

std::optional<std::pair<int32_t, int32_t>> PipeWireDesktop::Size() {
  State& s = *state_;
  if (s.loop == nullptr) return std::nullopt;
  pw_thread_loop_lock(s.loop);
  int32_t stride = 0;
  std::optional<std::pair<int32_t, int32_t>> size;
  if (s.Pixels(&stride) != nullptr) size = std::pair{s.width, s.height};
  pw_thread_loop_unlock(s.loop);
  return size;
}

void PipeWireDesktop::Freeze() {
  State& s = *state_;
  if (s.loop == nullptr) return;
  pw_thread_loop_lock(s.loop);
  if (!s.frozen) {
    s.frozen = true;
    pw_buffer* held = s.held;
    s.KeepHeldPicture();
    if (held != nullptr) pw_stream_queue_buffer(s.stream, held);
    s.ReportEnd("the sharing ended");
  }
  pw_thread_loop_unlock(s.loop);
}

bool PipeWireDesktop::Ended() {
  State& s = *state_;
  if (s.loop == nullptr) return false;
  pw_thread_loop_lock(s.loop);
  const bool ended = s.reportedEnd;
  pw_thread_loop_unlock(s.loop);
  return ended;
}

bool PipeWireDesktop::Streaming() {
  State& s = *state_;
  if (s.loop == nullptr) return false;
  pw_thread_loop_lock(s.loop);
  const bool streaming = s.streamState == PW_STREAM_STATE_STREAMING;
  pw_thread_loop_unlock(s.loop);
  return streaming;
}

}  // namespace quillon
