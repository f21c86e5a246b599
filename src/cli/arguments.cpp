#include "arguments.h"

#include "str_to_int.h"
#include "user_table.h"

namespace velmora::cli {
namespace {

std::optional<unsigned> HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

}  // namespace

std::optional<std::uint32_t> ParseHex(std::string_view text, unsigned bits) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    const std::optional<unsigned> digit = HexDigit(c);
    if (!digit) return std::nullopt;
    value = value * 16 + *digit;
  }
  if (bits < 32 && value >> bits != 0) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::optional<ChipIdBytes> ParseJedecId(std::string_view text) {
  if (text.size() != 6) return std::nullopt;
  const std::optional<std::uint32_t> value = ParseHex(text, 24);
  if (!value) return std::nullopt;
  return ChipIdBytes{static_cast<std::uint8_t>(*value >> 16),
                     static_cast<std::uint8_t>(*value >> 8), static_cast<std::uint8_t>(*value)};
}

std::optional<FlashRange> ParseRange(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::optional<std::int32_t> start_kb = StrToInt(text.substr(0, colon));
  const std::optional<std::int32_t> size_kb = StrToInt(text.substr(colon + 1));
  if (!start_kb || !size_kb || *start_kb < 0 || *size_kb < 0) return std::nullopt;
  return FlashRange{RangeChoice::AssignRange, KilobytesToBytes(*start_kb),
                    KilobytesToBytes(*size_kb)};
}

bool IsPrintableAscii(std::string_view text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

bool IsTableText(std::string_view text) {
  return text.size() <= kUserStringSize && IsPrintableAscii(text);
}

}  // namespace velmora::cli
