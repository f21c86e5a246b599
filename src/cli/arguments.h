// The command line's own value formats: hexadecimal numbers as technicians type them (6ccf,
// 0x6CCF), the JEDEC id of the virtual part, the flash range in kilobytes, and descriptor texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "chip_commands.h"
#include "flash_geometry.h"

namespace velmora::cli {

// 1 to 8 hexadecimal digits, with or without a "0x" prefix, whose value fits `bits` bits.
std::optional<std::uint32_t> ParseHex(std::string_view text, unsigned bits);

// Exactly six hexadecimal digits: manufacturer, memory type, capacity code ("C22013").
std::optional<ChipIdBytes> ParseJedecId(std::string_view text);

// "START_KB:SIZE_KB", each converted as the window converts its range edits (decimal, or
// hexadecimal after "$" or "0x"), neither negative: the Assign Range choice in bytes.
std::optional<FlashRange> ParseRange(std::string_view text);

// Printable ASCII only: the device's fields hold one byte per character.
bool IsPrintableAscii(std::string_view text);

// The texts a user table string may hold: at most 32 printable ASCII characters. The field has
// one byte per character and no room for more; the window cuts longer texts, a script is told.
bool IsTableText(std::string_view text);

}  // namespace velmora::cli
