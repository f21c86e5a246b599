// How the settings travel as registry values: REG_DWORD as 4 little-endian bytes, REG_SZ as the
// text's bytes and a terminating zero. Portable, so the encodings are tested on every platform;
// the registry store only moves these bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmora {

// The registry's type codes (winnt.h), for the values the settings use.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;

std::array<std::uint8_t, 4> RegDwordBytes(std::uint32_t value);

// The text up to its first zero byte (a REG_SZ cannot hold more), then the terminating zero.
std::vector<std::uint8_t> RegSzBytes(const std::string& text);

// A REG_DWORD of exactly 4 bytes; anything else is no ISPSetting.
std::optional<std::uint32_t> DwordFromRegValue(std::uint32_t type,
                                               std::span<const std::uint8_t> bytes);

// A REG_SZ up to its first zero byte; a value stored without its terminator is taken whole.
std::optional<std::string> TextFromRegValue(std::uint32_t type,
                                            std::span<const std::uint8_t> bytes);

}  // namespace velmora
