// The cameras as DirectShow's system device enumerator lists them (the video-input category), in
// the one order that both the camera list and camera capture count.
#pragma once

#include <dshow.h>

#include <functional>
#include <string>

namespace quillon {

// Calls visit once per camera moniker in enumeration order, with its position (counting every
// moniker) and its friendly name (nullptr when the name cannot be read), until visit returns
// false or the enumeration ends. Returns false when the category cannot be enumerated or is
// empty. COM must be initialised on the calling thread.
bool ForEachCamera(
    const std::function<bool(int position, IMoniker* moniker, const std::string* name)>& visit);

}  // namespace quillon
