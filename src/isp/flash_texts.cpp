#include "flash_texts.h"

#include <cstdio>

namespace velmora::texts {

std::string Hex(std::uint32_t value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, static_cast<unsigned>(value));
  return buffer;
}

std::string EraseAllProgress(int poll) {
  return kEraseAll + std::string(static_cast<std::size_t>((poll / 20) % 10), '.');
}

std::string SectorEraseProgress(std::uint32_t address) {
  return "Flash Sector Erase: 0x " + Hex(address, 6);
}

std::string StatusRegister(std::uint8_t status) {
  return "Status Register: 0x" + Hex(status, 2);
}

std::string PageAddress(std::uint32_t address) {
  return "0x" + Hex(address, 6);
}

std::string WithAddress(const char* prefix, std::uint32_t address) {
  return prefix + Hex(address, 6);
}

std::string SectorsToRewrite(std::size_t changed, std::size_t compared) {
  return "Sectors to rewrite: " + std::to_string(changed) + " of " + std::to_string(compared);
}

std::string RangeBeyondFlash(std::uint64_t flash_size) {
  return "Range beyond flash address 0x" + Hex(static_cast<std::uint32_t>(flash_size - 1), 6);
}

}  // namespace velmora::texts
