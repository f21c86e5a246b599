#include "hex_image_decoder.h"

#include <algorithm>
#include <cstddef>

#include "flash_texts.h"
#include "hex_digits.h"

namespace velmora {
namespace {

using texts::Hex;

constexpr std::uint8_t kData = 0x00;
constexpr std::uint8_t kEndOfFile = 0x01;
constexpr std::uint8_t kExtendedSegment = 0x02;
constexpr std::uint8_t kStartSegment = 0x03;
constexpr std::uint8_t kExtendedLinear = 0x04;
constexpr std::uint8_t kStartLinear = 0x05;

// Byte count, 16-bit address and type before the data; the checksum after it.
constexpr std::size_t kOverheadBytes = 5;

std::string DescribeCharacter(char c) {
  const auto code = static_cast<unsigned char>(c);
  if (code > 0x20 && code < 0x7F) return std::string("'") + c + "'";
  return "0x" + Hex(code, 2);
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Old editors end a text file with Ctrl-Z, also right after the last record on its line.
constexpr char kCtrlZ = 0x1A;

}  // namespace

bool HexImageDecoder::Fail(std::string why) {
  error_ = std::move(why);
  return false;
}

bool HexImageDecoder::DecodeLine(std::string_view line) {
  if (end_seen_) return true;
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    // A record that lost its colon would leave a hole of 0xFF that still programs and verifies.
    const bool blank = std::all_of(line.begin(), line.end(), IsBlank);
    return blank || Fail("the line holds text but no record (no ':')");
  }
  std::string_view record = line.substr(colon + 1);
  while (!record.empty() && (IsBlank(record.back()) || record.back() == kCtrlZ)) {
    record.remove_suffix(1);
  }
  if (!DecodeDigits(record)) return false;
  ++records_;
  return ApplyRecord();
}

bool HexImageDecoder::DecodeDigits(std::string_view record) {
  for (char c : record) {
    if (HexDigitValue(c) < 0) {
      return Fail("the record holds the character " + DescribeCharacter(c) +
                  ", which is not a hexadecimal digit");
    }
  }
  if (record.size() < 2 * kOverheadBytes) return Fail("the record is too short");
  bytes_.clear();
  for (std::size_t i = 0; i + 1 < record.size(); i += 2) {
    bytes_.push_back(static_cast<std::uint8_t>(HexDigitsValue(record.data() + i, 2)));
  }
  const std::size_t count = bytes_[0];
  const std::size_t expected_digits = 2 * (kOverheadBytes + count);
  if (record.size() < expected_digits) {
    return Fail("the record is shorter than its byte count (" + std::to_string(count) + ") says");
  }
  if (record.size() > expected_digits) {
    return Fail("the record is longer than its byte count (" + std::to_string(count) + ") says");
  }
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes_) sum = static_cast<std::uint8_t>(sum + b);
  if (sum != 0) {
    const auto expected = static_cast<std::uint8_t>(bytes_.back() - sum);
    return Fail("the record checksum is " + Hex(bytes_.back(), 2) + " where " + Hex(expected, 2) +
                " was expected");
  }
  return true;
}

bool HexImageDecoder::ApplyRecord() {
  const std::uint32_t count = bytes_[0];
  const std::uint32_t address = (std::uint32_t{bytes_[1]} << 8) | bytes_[2];
  const std::uint8_t type = bytes_[3];
  const std::uint8_t* data = bytes_.data() + 4;
  switch (type) {
    case kData: {
      // Data runs on past a 64 KiB boundary rather than wrapping, as it always has here. In 64
      // bits: a linear base near 4 GiB must not wrap the end below the image size.
      const std::uint64_t start = std::uint64_t{base_} + address;
      const std::uint64_t end = start + count;
      if (end > kProgramImageSize) {
        return Fail("the record's " + std::to_string(count) + " data bytes at 0x" +
                    Hex(static_cast<std::uint32_t>(start), 5) + " reach beyond the 256 KiB image");
      }
      std::copy_n(data, count, image_.bytes.begin() + static_cast<std::ptrdiff_t>(start));
      if (end > length_) length_ = static_cast<std::uint32_t>(end);
      return true;
    }
    case kEndOfFile:
      end_seen_ = true;
      return true;
    case kExtendedSegment:
    case kExtendedLinear: {
      if (count != 2) {
        return Fail("the extended address record carries " + std::to_string(count) +
                    " bytes instead of 2");
      }
      const std::uint32_t value = (std::uint32_t{data[0]} << 8) | data[1];
      base_ = type == kExtendedSegment ? value << 4 : value << 16;
      return true;
    }
    case kStartSegment:
    case kStartLinear:
      return true;  // an execution start address means nothing to the flash
    default:
      return Fail("the record type " + Hex(type, 2) + " is unknown");
  }
}

}  // namespace velmora
