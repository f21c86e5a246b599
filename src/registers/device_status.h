// The device status read-out: three status registers of the running chip (bank 0x00) and what
// the Information tab shows of them. Plain C++: the window paints the result, and a command-line
// front end can print the same words.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "chip_commands.h"

namespace velmora {

// The chip's status registers as last read. All 0 before the first read.
struct DeviceStatus {
  std::uint8_t rate_code = 0;  // register 0xA4: low nibble indexes the rate texts
  std::uint8_t second = 0;     // register 0xA5: kept, shown nowhere
  std::uint8_t flags = 0;      // register 0xA6: bit 0 connected, bit 1 DSD, bit 2 muted
  bool operator==(const DeviceStatus&) const = default;
};

namespace status_register {
inline constexpr std::uint16_t kRateCode = 0xA4, kSecond = 0xA5, kFlags = 0xA6;
}  // namespace status_register

// The sample rate or DSD rate texts, each exactly 8 characters, right-aligned with spaces: PCM
// rates at 0-9, DoP rates at 16-19, native DSD rates at 24-27, eight blanks elsewhere.
extern const std::array<std::string_view, 32> RateTextTable;

// Selects bank 0x00 and reads registers 0xA4, 0xA5 and 0xA6 into `status`, on a link it opens
// before the first request and closes after the last. A read that fails leaves its byte as it
// was, so the status keeps the last update's values. Result: true when all three reads went
// through (the window does not look at it; the found flag is not consulted either).
bool ReadDeviceStatus(ChipLink& link, DeviceStatus& status);

// What the status labels show. A text left empty (nullopt) leaves the label's text as it was;
// the enabled states are always set. lblConnect stays enabled throughout.
struct StatusDisplay {
  std::string connect;                // lblConnect: "USB connected" or "USB Disconnected"
  bool mute_enabled = false;          // lblMute
  std::optional<std::string> mute;    // "Playing" or "Mute"
  bool format_enabled = false;        // lblCurrentFormat0/1 and lblCurrentFreq0/1 alike
  std::optional<std::string> format;  // lblCurrentFormat1: "PCM" or "DSD"
  std::optional<std::string> rate;    // lblCurrentFreq1: an entry of RateTextTable
  bool operator==(const StatusDisplay&) const = default;
};

// The display of `status`: disconnected (flags bit 0 clear) greys everything but lblConnect;
// muted (bit 2) shows "Mute" and greys the format and rate; playing shows "PCM" with the rate
// text of the rate code's low nibble, or (bit 1) "DSD" with the text 16 entries further on.
StatusDisplay DescribeStatus(const DeviceStatus& status);

}  // namespace velmora
