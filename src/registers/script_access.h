// One register of the chip, or of the slave behind its I2C master, read or written in one go:
// what a script asks for, where the pages work on a grid. Each call opens the device link,
// talks, and closes it again. A write sets a whole value as the page's bit boxes do, so it is read
// back after their pause (3 ms for the chip, 30 ms for the slave to store it); the value read back
// is what counts.
#pragma once

#include <cstdint>

#include "chip_commands.h"

namespace velmora {

// Selects `bank` (register 0x00), then reads register `reg` into `value`. False when a request
// failed; `value` is then untouched.
bool ReadBankRegister(ChipLink& link, std::uint8_t bank, std::uint8_t reg, std::uint8_t& value);

// Selects `bank`, writes `value` to `reg`, pauses 1 ms and reads the register back into
// `read_back`. False when a request failed (`read_back` untouched when the read-back did).
bool WriteBankRegister(ChipLink& link, std::uint8_t bank, std::uint8_t reg, std::uint8_t value,
                       std::uint8_t& read_back);

// Sets up the I2C master engine (as entering the I2C Access page does), then reads `count`
// registers of the slave at the 8-bit bus address `address` (write form: 0x20 is the 7-bit
// slave 0x10), from `reg` on, into `values`. False when the set-up failed or the slave never
// acknowledged its address; `values` is then untouched.
bool ReadSlaveRegisters(ChipLink& link, std::uint8_t address, std::uint8_t reg, std::uint8_t count,
                        std::uint8_t* values);

// Sets up the engine, writes `value` to register `reg` of the slave at `address`, pauses 1 ms and
// reads the register back into `read_back`. False as for ReadSlaveRegisters.
bool WriteSlaveRegister(ChipLink& link, std::uint8_t address, std::uint8_t reg, std::uint8_t value,
                        std::uint8_t& read_back);

}  // namespace velmora
