#include "register_port.h"

namespace velmora {

bool ChipRegisterPort::Read(std::uint8_t index, std::uint8_t& value) {
  return RegRead(link_, index, value);
}

bool ChipRegisterPort::Write(std::uint8_t index, std::uint8_t value) {
  return RegWrite(link_, index, value);
}

void I2cSlaveRegisterPort::Prepare() {
  I2cMasterSetup(link_);
}

bool I2cSlaveRegisterPort::Read(std::uint8_t index, std::uint8_t& value) {
  return I2cReadRegs(link_, address_, index, 1, &value);
}

bool I2cSlaveRegisterPort::Write(std::uint8_t index, std::uint8_t value) {
  return I2cWriteRegs(link_, address_, index, 1, &value);
}

}  // namespace velmora
