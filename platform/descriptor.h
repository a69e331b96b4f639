// A descriptor of the platform (platform::Os), closed when it goes.
#pragma once

#include "platform/os.h"

namespace platform {

class Descriptor {
 public:
  // `fd` may be a failure (-errno): then there is nothing to close.
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) os().closeFile(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace platform
