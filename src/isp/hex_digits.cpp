#include "hex_digits.h"

namespace velmora {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::uint32_t HexDigitsValue(const char* chars, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const int digit = HexDigitValue(chars[i]);
    value = value * 16u + static_cast<std::uint32_t>(digit < 0 ? 0 : digit);
  }
  return value;
}

}  // namespace velmora
