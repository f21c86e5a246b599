// The tool's copies of registers it shows: the chip's register bank (one table per bank number)
// and the registers of the slave behind the chip's I2C master. All zero at start; an entry holds
// the last value read from its register, or the value about to be written to it.
#pragma once

#include <array>
#include <cstdint>

namespace velmora {

inline constexpr int kRegistersPerTable = 256;
inline constexpr int kRegisterImageBanks = 10;  // bank numbers 0 to 9

using RegisterTable = std::array<std::uint8_t, kRegistersPerTable>;
using RegisterImageTables = std::array<RegisterTable, kRegisterImageBanks>;

}  // namespace velmora
