// DirectShow camera capture, and the same graph fed from a media file for machines without a
// camera (tests): file source -> sample grabber -> video renderer (the preview).
#pragma once

#include <memory>
#include <string>

#include "devices/capture_video.h"

namespace quillon {

// A capture whose source is the media file at path instead of a camera. Open ignores the device
// index, size and rate: the frames come at the file's own size and pace.
std::unique_ptr<CCaptureVideo> CreateFileCaptureVideo(const std::wstring& path);

}  // namespace quillon
