#include "script_access.h"

#include <algorithm>

#include "grid_keys.h"

namespace velmora {
namespace {

// Opens the link around `body` and closes it after, whatever the body returned.
template <typename Body>
bool Opened(ChipLink& link, Body body) {
  link.usb.Open();
  const bool ok = body();
  link.usb.Close();
  return ok;
}

}  // namespace

bool ReadBankRegister(ChipLink& link, std::uint8_t bank, std::uint8_t reg, std::uint8_t& value) {
  return Opened(link, [&] {
    std::uint8_t read = 0;
    if (!RegSelectBank(link, bank) || !RegRead(link, reg, read)) return false;
    value = read;
    return true;
  });
}

bool WriteBankRegister(ChipLink& link, std::uint8_t bank, std::uint8_t reg, std::uint8_t value,
                       std::uint8_t& read_back) {
  return Opened(link, [&] {
    if (!RegSelectBank(link, bank) || !RegWrite(link, reg, value)) return false;
    link.sleeper.SleepMs(kRegisterPageRules.bit_write_pause_ms);
    std::uint8_t read = 0;
    if (!RegRead(link, reg, read)) return false;
    read_back = read;
    return true;
  });
}

bool ReadSlaveRegisters(ChipLink& link, std::uint8_t address, std::uint8_t reg, std::uint8_t count,
                        std::uint8_t* values) {
  return Opened(link, [&] {
    std::uint8_t read[256];
    if (!I2cMasterSetup(link) || !I2cReadRegs(link, address, reg, count, read)) return false;
    std::copy_n(read, count, values);
    return true;
  });
}

bool WriteSlaveRegister(ChipLink& link, std::uint8_t address, std::uint8_t reg, std::uint8_t value,
                        std::uint8_t& read_back) {
  return Opened(link, [&] {
    if (!I2cMasterSetup(link) || !I2cWriteRegs(link, address, reg, 1, &value)) return false;
    link.sleeper.SleepMs(kI2cPageRules.bit_write_pause_ms);
    std::uint8_t read = 0;
    if (!I2cReadRegs(link, address, reg, 1, &read)) return false;
    read_back = read;
    return true;
  });
}

}  // namespace velmora
