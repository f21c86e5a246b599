#include "i2c_slave.h"

namespace velmora::sim {

bool I2cSlave::Addressed(bool read) {
  if (!acknowledges_) return false;
  if (busy_attempts_ > 0) {
    --busy_attempts_;
    return false;
  }
  // Only a write transfer starts with the pointer; a read continues from where it stands, which
  // is what lets a repeated start read the register just selected.
  pointer_next_ = !read;
  return true;
}

bool I2cSlave::Receive(std::uint8_t byte) {
  if (!accepts_data_) return false;
  if (pointer_next_) {
    pointer_ = byte;
    pointer_next_ = false;
  } else {
    regs_[pointer_++] = byte;
  }
  return true;
}

std::uint8_t I2cSlave::Transmit() {
  return regs_[pointer_++];
}

}  // namespace velmora::sim
