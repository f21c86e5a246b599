#include "registry_values.h"

#include <algorithm>

namespace velmora {

std::array<std::uint8_t, 4> RegDwordBytes(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> RegSzBytes(const std::string& text) {
  const auto end = std::find(text.begin(), text.end(), '\0');
  std::vector<std::uint8_t> bytes(text.begin(), end);
  bytes.push_back(0);
  return bytes;
}

std::optional<std::uint32_t> DwordFromRegValue(std::uint32_t type,
                                               std::span<const std::uint8_t> bytes) {
  if (type != kRegDword || bytes.size() != 4) return std::nullopt;
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::optional<std::string> TextFromRegValue(std::uint32_t type,
                                            std::span<const std::uint8_t> bytes) {
  if (type != kRegSz) return std::nullopt;
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return std::string(bytes.begin(), end);
}

}  // namespace velmora
