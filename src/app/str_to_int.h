// The toolkit's conversion of an edit's text to a 32-bit integer: leading spaces are skipped, an
// optional sign follows, then decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or
// "0X". Anything else (no digits, trailing characters, a value beyond 32 bits) is no integer.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmora {

// Decimal values must fit a signed 32-bit integer; hexadecimal ones may use all 32 bits, so
// "$FFFFFFFF" is -1 as the toolkit has it.
std::optional<std::int32_t> StrToInt(std::string_view text);

}  // namespace velmora
