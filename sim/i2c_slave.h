// A virtual I2C slave with 256 one-byte registers behind a register pointer: the first byte
// written after its address sets the pointer, later bytes are stored at the pointer, reads
// answer from the pointer, and both move it on by one (wrapping at 0xFF).
#pragma once

#include <array>
#include <cstdint>

namespace velmora::sim {

class I2cSlave {
 public:
  // --- the bus side, called by I2cBus ---
  // The master sent this slave's address byte; `read` is its bit 0. Returns the acknowledge.
  bool Addressed(bool read);
  // A data byte from the master. Returns the acknowledge.
  bool Receive(std::uint8_t byte);
  // The next byte for the master.
  std::uint8_t Transmit();

  // --- inspection and set-up ---
  std::uint8_t reg(std::uint8_t index) const { return regs_[index]; }
  void SetReg(std::uint8_t index, std::uint8_t value) { regs_[index] = value; }
  const std::array<std::uint8_t, 256>& regs() const { return regs_; }
  std::uint8_t pointer() const { return pointer_; }

  // Faults. A slave that does not acknowledge ignores its address (as if absent); a busy slave
  // refuses the next `attempts` address bytes and then answers again; a slave that refuses data
  // neither acknowledges nor stores written bytes.
  void SetAcknowledges(bool acknowledges) { acknowledges_ = acknowledges; }
  void SetBusyForAddressAttempts(int attempts) { busy_attempts_ = attempts; }
  void SetAcceptsData(bool accepts) { accepts_data_ = accepts; }

 private:
  std::array<std::uint8_t, 256> regs_{};
  std::uint8_t pointer_ = 0;
  bool pointer_next_ = false;  // the next written byte is the register pointer
  bool acknowledges_ = true;
  int busy_attempts_ = 0;
  bool accepts_data_ = true;
};

}  // namespace velmora::sim
