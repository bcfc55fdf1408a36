// A zero-filled buffer of bytes from calloc: the system maps its pages as they are first used, so
// making one costs next to nothing however large it is. A class's picture buffers start black
// without the start of the class waiting for megabytes of zeros to be written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

namespace quillon {

class ZeroedBuffer {
 public:
  // Throws std::bad_alloc when the memory cannot be had.
  explicit ZeroedBuffer(size_t size) : bytes_(static_cast<uint8_t*>(std::calloc(size + 1, 1))) {
    if (!bytes_) throw std::bad_alloc();
  }
  uint8_t* data() { return bytes_.get(); }

 private:
  struct Free {
    void operator()(uint8_t* bytes) const { std::free(bytes); }
  };
  std::unique_ptr<uint8_t, Free> bytes_;
};

}  // namespace quillon
