// The one-register seam of the grid pages: the register page reaches the chip's own registers,
// the I2C Access page the registers of the slave behind the chip's I2C master. Both expect the
// caller to have opened the device link and to close it afterwards.
#pragma once

#include <cstdint>

#include "chip_commands.h"

namespace velmora {

class RegisterPort {
 public:
  virtual ~RegisterPort() = default;
  // Reads register `index` into `value`. False when the read failed; `value` may then be
  // anything and the caller keeps what it had.
  virtual bool Read(std::uint8_t index, std::uint8_t& value) = 0;
  // Writes `value` to register `index`. False when the write failed.
  virtual bool Write(std::uint8_t index, std::uint8_t value) = 0;
  // Readies the path to the registers at the start of each operation on an opened link.
  virtual void Prepare() {}
};

// The chip's registers: RegRead / RegWrite, in whatever bank register 0x00 selects.
class ChipRegisterPort final : public RegisterPort {
 public:
  explicit ChipRegisterPort(ChipLink& link) : link_(link) {}
  bool Read(std::uint8_t index, std::uint8_t& value) override;
  bool Write(std::uint8_t index, std::uint8_t value) override;

 private:
  ChipLink& link_;
};

// The registers of an I2C slave, one byte per transaction (I2cReadRegs / I2cWriteRegs, count 1).
// `address` is the 8-bit bus byte in write form, read at every transaction so that an address
// entered meanwhile takes effect at once. A slave that never acknowledges fails the call.
class I2cSlaveRegisterPort final : public RegisterPort {
 public:
  I2cSlaveRegisterPort(ChipLink& link, const std::uint8_t& address)
      : link_(link), address_(address) {}
  bool Read(std::uint8_t index, std::uint8_t& value) override;
  bool Write(std::uint8_t index, std::uint8_t value) override;
  // Sets up the chip's I2C master: the chip may have been reset, or found only after the page
  // was entered, and without it every transfer fails.
  void Prepare() override;

 private:
  ChipLink& link_;
  const std::uint8_t& address_;
};

}  // namespace velmora
