// The in-memory program image that every flash operation works from.
#pragma once

#include <cstdint>
#include <vector>

namespace velmora {

inline constexpr std::uint32_t kProgramImageSize = 0x40000;  // 256 KiB

struct ProgramImage {
  // Image byte i belongs at flash address RangeStart + i; 0xFF wherever the file supplied nothing.
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kProgramImageSize, 0xFF);
  // Number of image bytes the last load covered (never above kProgramImageSize).
  std::uint32_t length = 0;

  void Clear() {
    bytes.assign(kProgramImageSize, 0xFF);
    length = 0;
  }
  // 16-bit wrapping sum of bytes 0 .. length - 1.
  std::uint16_t Checksum() const;
};

// What flash byte `address` should hold with the image placed at `image_base`: the image byte
// there, or 0xFF outside the image's storage (the fill of a never-loaded byte).
inline std::uint8_t ImageByteAt(const ProgramImage& image, std::uint32_t image_base,
                                std::uint32_t address) {
  const std::uint32_t index = address - image_base;
  return address >= image_base && index < image.bytes.size() ? image.bytes[index] : 0xFF;
}

}  // namespace velmora
