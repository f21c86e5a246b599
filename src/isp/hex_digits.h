// Reading runs of hexadecimal digits, as the loaders and the I2C command edits need them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

// Value of one hexadecimal digit ("0"-"9", "A"-"F", "a"-"f"), or -1 for any other character.
int HexDigitValue(char c);

// Value of `count` characters read as hexadecimal digits, most significant first; any character
// that is not a hexadecimal digit counts as digit 0. More than 8 digits wrap modulo 2^32.
std::uint32_t HexDigitsValue(const char* chars, std::size_t count);

}  // namespace velmora
