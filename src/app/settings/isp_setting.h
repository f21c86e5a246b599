// The ISPSetting value: the seven ISP step switches, the range choice and the range start and
// size, packed into 32 bits.
//
//   bit 0..6   "ISP Mode", "Flash Protect", "Reload File", "Erase", "Blank", "Program", "Verify"
//   bit 7      1: range "All", 0: "Assign Range"
//   bit 8..15  range size in units of 8 KB
//   bit 16..23 range start in units of 8 KB
//   bit 24..31 0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velmora {

inline constexpr std::size_t kIspStepCount = 7;
// The largest start or size a byte of the value holds: 255 units of 8 KB.
inline constexpr int kMaxStoredRangeKb = 255 * 8;

struct IspSetting {
  std::array<bool, kIspStepCount> steps{};  // in bit order: ISP Mode first, Verify last
  bool range_all = true;
  int size_kb = 0;
  int start_kb = 0;

  bool operator==(const IspSetting&) const = default;
};

// What the tool uses when settings exist but hold no ISPSetting: every step but "Flash Protect",
// range "All", start and size 64 KB.
inline constexpr IspSetting kIspSettingWhenAbsent{
    {true, false, true, true, true, true, true}, true, 64, 64};

// Start and size are stored in whole units of 8 KB, rounded down; values below 0 are stored as
// 0 and values of 2048 KB or more as 2040 KB, so neither spills into the next byte.
std::uint32_t EncodeIspSetting(const IspSetting& setting);

// Reads bits 0..23; bits 24..31 are ignored.
IspSetting DecodeIspSetting(std::uint32_t value);

}  // namespace velmora
