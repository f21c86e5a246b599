#include "program_image.h"

namespace velmora {

std::uint16_t ProgramImage::Checksum() const {
  std::uint16_t sum = 0;
  for (std::uint32_t i = 0; i < length; ++i) sum = static_cast<std::uint16_t>(sum + bytes[i]);
  return sum;
}

}  // namespace velmora
