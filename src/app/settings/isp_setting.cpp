#include "isp_setting.h"

#include <algorithm>

namespace velmora {

namespace {

constexpr int kRangeBit = 7;
constexpr int kSizeShift = 8;
constexpr int kStartShift = 16;
constexpr int kKbPerUnit = 8;

std::uint32_t Units(int kilobytes) {
  return static_cast<std::uint32_t>(std::clamp(kilobytes, 0, kMaxStoredRangeKb) / kKbPerUnit);
}

}  // namespace

std::uint32_t EncodeIspSetting(const IspSetting& setting) {
  std::uint32_t value = 0;
  for (std::size_t bit = 0; bit < kIspStepCount; ++bit) {
    if (setting.steps[bit]) value |= 1u << bit;
  }
  if (setting.range_all) value |= 1u << kRangeBit;
  return value | Units(setting.size_kb) << kSizeShift | Units(setting.start_kb) << kStartShift;
}

IspSetting DecodeIspSetting(std::uint32_t value) {
  IspSetting setting;
  for (std::size_t bit = 0; bit < kIspStepCount; ++bit) setting.steps[bit] = (value >> bit) & 1u;
  setting.range_all = (value >> kRangeBit) & 1u;
  setting.size_kb = static_cast<int>((value >> kSizeShift) & 0xFFu) * kKbPerUnit;
  setting.start_kb = static_cast<int>((value >> kStartShift) & 0xFFu) * kKbPerUnit;
  return setting;
}

}  // namespace velmora
