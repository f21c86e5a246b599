#include "special_i2c.h"

#include <array>
#include <limits>

#include "hex_digits.h"

namespace velmora {
namespace {

constexpr std::size_t kMaxPart = std::numeric_limits<std::uint8_t>::max();

}  // namespace

std::uint8_t FieldByte(std::string_view text) {
  // A missing character is a NUL, which is no digit and so counts as 0 like any other.
  std::array<char, 2> digits{};
  for (std::size_t i = 0; i < digits.size() && i < text.size(); ++i) digits[i] = text[i];
  return static_cast<std::uint8_t>(HexDigitsValue(digits.data(), digits.size()));
}

bool SpecialI2cWrite(ChipLink& link, std::uint8_t address, std::span<const std::uint8_t> command,
                     std::span<const std::uint8_t> data) {
  if (command.size() > kMaxPart || data.size() > kMaxPart) return false;
  link.usb.Open();
  // Other pages leave another bank selected (the status read-out and the HID keys select bank
  // 0x00), and the engine's registers answer only in their own bank.
  I2cMasterSetup(link);
  const bool ok = I2cWriteRaw(link, address, static_cast<std::uint8_t>(command.size()),
                              command.data(), static_cast<std::uint8_t>(data.size()), data.data());
  link.usb.Close();
  return ok;
}

bool SpecialI2cRead(ChipLink& link, std::uint8_t address, std::span<const std::uint8_t> command,
                    std::span<std::uint8_t> dst) {
  if (command.size() > kMaxPart || dst.size() > kMaxPart) return false;
  link.usb.Open();
  I2cMasterSetup(link);
  const bool ok = I2cReadRaw(link, address, static_cast<std::uint8_t>(command.size()),
                             command.data(), static_cast<std::uint8_t>(dst.size()), dst.data());
  link.usb.Close();
  return ok;
}

}  // namespace velmora
