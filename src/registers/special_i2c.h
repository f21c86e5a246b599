// Free-form I2C transfers through the chip's I2C master, for slaves that do not follow the
// one-byte-register model: command bytes then data bytes written, or command bytes written and
// data bytes read after a repeated start. Plain C++; the Information tab's special I2C group and
// a command-line front end use it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "chip_commands.h"

namespace velmora {

// The byte a two-digit field stands for: its first two characters read as hexadecimal digits,
// where any other character, and a character missing from a shorter text, counts as 0. Characters
// after the second are ignored. "5" is 0x50, "7F" 0x7F, "" 0x00, "G1" 0x01, "1234" 0x12.
std::uint8_t FieldByte(std::string_view text);

// Both transfers take the slave's 8-bit bus address in write form (the read phase sets bit 0),
// open the link, select and set up the I2C master engine, run the transaction and close the link.
// They fail when the slave never acknowledges its address (10 attempts per address phase) and,
// with nothing sent, when a part is longer than 255 bytes. Unacknowledged data bytes pass.

// Start, address, the command bytes, the data bytes, stop.
bool SpecialI2cWrite(ChipLink& link, std::uint8_t address, std::span<const std::uint8_t> command,
                     std::span<const std::uint8_t> data);

// Start, address, the command bytes, repeated start, address | 1, dst.size() bytes read (the last
// one not acknowledged), stop. `dst` is filled only when the transfer succeeded.
bool SpecialI2cRead(ChipLink& link, std::uint8_t address, std::span<const std::uint8_t> command,
                    std::span<std::uint8_t> dst);

}  // namespace velmora
