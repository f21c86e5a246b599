// The fixed shape of the flash as the tool uses it: read chunks, pages, sectors, the 24-bit
// address space, and where the program image lies in the flash.
#pragma once

#include <algorithm>
#include <cstdint>

#include "chip_commands.h"

namespace velmora {

inline constexpr std::uint32_t kReadChunkSize = 64;  // bytes per FlashRead of a range pass
inline constexpr std::uint32_t kLongReadSize = 255;  // the most one FlashRead fetches
inline constexpr int kChunkAttempts = 3;             // reads of one chunk before a pass gives up
inline constexpr std::uint32_t kSectorSize = 4096;   // step of the sector erase
inline constexpr std::uint16_t kLargePageSize = 256;
inline constexpr std::uint16_t kSmallPageSize = 32;
// Every address travels as three bytes: anything at or above this would wrap to a low address.
inline constexpr std::uint64_t kFlashAddressLimit = 0x1000000;

// The read-back button covers the first 128 KiB and marks bytes it never read with 0x5A.
inline constexpr std::uint32_t kReadBackEnd = 0x20000;
inline constexpr std::uint8_t kReadBackFill = 0x5A;

// Manufacturer 0xC2 with memory type 0x22 are the small parts with 32-byte pages; every other
// identifier (including the all-zero one left by a failed read) programs 256-byte pages.
inline std::uint16_t PageSizeFor(const ChipIdBytes& id) {
  return id[0] == 0xC2 && id[1] == 0x22 ? kSmallPageSize : kLargePageSize;
}

// Bytes the part holds, from the capacity code (third identifier byte): 2^code for the codes
// 0x10 (64 KiB) to 0x19. Any other code, the zeros of a failed read included, is unknown, and
// then only the 24-bit address space limits the range. Never more than that space.
inline std::uint64_t FlashCapacityFor(const ChipIdBytes& id) {
  const std::uint8_t code = id[2];
  if (code < 0x10 || code > 0x19) return kFlashAddressLimit;
  return std::min(std::uint64_t{1} << code, kFlashAddressLimit);
}

// Status polls, 10 ms apart, that a chip erase may take: 1000 (10 s) for parts up to 512 KiB
// (code 0x13) and parts of unknown size, doubling with each doubling of the capacity above that
// (32000, about 5 minutes, for 16 MiB), since a large part erases for minutes.
inline constexpr int kStatusPolls = 1000;
inline int ChipErasePolls(const ChipIdBytes& id) {
  const std::uint8_t code = id[2];
  if (code <= 0x13 || code > 0x19) return kStatusPolls;
  return kStatusPolls << (code - 0x13);
}

// Block-protect bits of the status register: BP0-BP1 on the small parts (those with 32-byte
// pages), BP0-BP2 on the others. A protect write of 0xFF must leave them all set; the erase needs
// them all clear.
inline constexpr std::uint8_t kAllBlockProtectBits = 0x1C;
inline std::uint8_t BlockProtectBitsFor(const ChipIdBytes& id) {
  return PageSizeFor(id) == kSmallPageSize ? 0x0C : kAllBlockProtectBits;
}

// Kilobytes typed into a range edit, in bytes. A negative value or one past 32 bits becomes the
// highest address, which every flash operation refuses, instead of wrapping onto low flash.
inline std::uint32_t KilobytesToBytes(int kilobytes) {
  const std::int64_t bytes = std::int64_t{kilobytes} * 1024;
  return bytes < 0 || bytes > std::int64_t{UINT32_MAX} ? UINT32_MAX
                                                       : static_cast<std::uint32_t>(bytes);
}

// The two choices of the range radio buttons.
enum class RangeChoice { All, AssignRange };

// Where the image goes and how far the sector erase reaches, in bytes.
struct FlashRange {
  RangeChoice choice = RangeChoice::All;
  std::uint32_t range_start = 0;  // flash address of image byte 0 under AssignRange
  std::uint32_t range_size = 0;   // extent of the sector erase under AssignRange

  // Flash address of image byte 0: always 0 under All.
  std::uint32_t ImageBase() const { return choice == RangeChoice::All ? 0 : range_start; }
};

// A span of flash addresses, end exclusive. Kept 64-bit so that a start near the top of the
// 32-bit range cannot wrap its end below its start.
struct FlashExtent {
  std::uint64_t start = 0;
  std::uint64_t end = 0;

  // Within the first `limit` bytes of the flash.
  bool Within(std::uint64_t limit) const { return start <= end && end <= limit; }
  bool WithinFlash() const { return Within(kFlashAddressLimit); }
};

// The flash the image occupies: image_length bytes from the image base.
inline FlashExtent ImageExtent(const FlashRange& range, std::uint32_t image_length) {
  const std::uint64_t start = range.ImageBase();
  return {start, start + image_length};
}

// The flash the sector erase covers under AssignRange.
inline FlashExtent EraseExtent(const FlashRange& range) {
  return {range.range_start, std::uint64_t{range.range_start} + range.range_size};
}

// The end of the 4 KiB sector that holds the byte before `end`: where the sectors an image
// touches end.
inline std::uint64_t SectorEnd(std::uint64_t end) {
  return (end + kSectorSize - 1) / kSectorSize * kSectorSize;
}

// The sector erase works in whole 4 KiB sectors: a start or size off that grid would erase
// flash outside the range.
inline bool SectorAligned(const FlashRange& range) {
  return range.range_start % kSectorSize == 0 && range.range_size % kSectorSize == 0;
}

}  // namespace velmora
