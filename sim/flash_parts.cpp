#include "flash_parts.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace velmora::sim {
namespace {

constexpr std::uint32_t KiB = 1024;
constexpr std::uint32_t MiB = 1024 * KiB;
constexpr std::uint32_t kSector = 4 * KiB;
constexpr std::uint32_t kBlock = 64 * KiB;

// Typical times: 1 ms a page, 60 ms a 4 KiB sector, 10 ms a status write; the chip erase grows
// with the array, from about a second for the small parts to most of a minute for 16 MiB.
constexpr FlashTimes Times(std::uint64_t chip_erase_ms) {
  return {.page_program_us = 1000,
          .sector_erase_us = 60000,
          .chip_erase_us = chip_erase_ms * 1000,
          .write_status_us = 10000};
}

// A part with 256-byte pages and BP0-BP2 guarding 64 KiB blocks from the top.
constexpr FlashPart Common(const char* maker, FlashId id, std::uint32_t size,
                           std::uint64_t chip_erase_ms) {
  return {maker, id, size, 256, kSector, 0x1C, kBlock, Times(chip_erase_ms)};
}

// A small part with 32-byte pages and BP0-BP1 guarding quarters of the array from the top.
constexpr FlashPart Small(const char* maker, FlashId id, std::uint32_t size,
                          std::uint64_t chip_erase_ms) {
  return {maker, id, size, 32, kSector, 0x0C, size / 4, Times(chip_erase_ms)};
}

constexpr FlashPart kParts[] = {
    Common("Macronix", {0xC2, 0x20, 0x10}, 64 * KiB, 1000),
    Common("Macronix", {0xC2, 0x20, 0x11}, 128 * KiB, 1000),
    Common("Macronix", {0xC2, 0x20, 0x12}, 256 * KiB, 1500),
    Common("Macronix", {0xC2, 0x20, 0x13}, 512 * KiB, 2000),
    Common("Macronix", {0xC2, 0x20, 0x14}, 1 * MiB, 4000),
    Common("Macronix", {0xC2, 0x20, 0x15}, 2 * MiB, 8000),
    Common("Macronix", {0xC2, 0x20, 0x16}, 4 * MiB, 15000),
    Common("Macronix", {0xC2, 0x20, 0x17}, 8 * MiB, 30000),
    Common("Macronix", {0xC2, 0x20, 0x18}, 16 * MiB, 50000),
    Small("Macronix", {0xC2, 0x22, 0x10}, 64 * KiB, 1000),
    Small("Macronix", {0xC2, 0x22, 0x11}, 128 * KiB, 1000),
    // Memory type 0x22 from this maker is an ordinary part: 256-byte pages.
    Common("Winbond", {0xEF, 0x22, 0x13}, 512 * KiB, 2000),
    Common("Winbond", {0xEF, 0x30, 0x11}, 128 * KiB, 1000),
    Common("Winbond", {0xEF, 0x30, 0x12}, 256 * KiB, 1500),
    Common("Winbond", {0xEF, 0x30, 0x13}, 512 * KiB, 2000),
    Common("Winbond", {0xEF, 0x30, 0x14}, 1 * MiB, 4000),
    Common("Winbond", {0xEF, 0x40, 0x13}, 512 * KiB, 2000),
    Common("Winbond", {0xEF, 0x40, 0x14}, 1 * MiB, 4000),
    Common("Winbond", {0xEF, 0x40, 0x15}, 2 * MiB, 8000),
    Common("Winbond", {0xEF, 0x40, 0x16}, 4 * MiB, 15000),
    Common("Winbond", {0xEF, 0x40, 0x17}, 8 * MiB, 30000),
    Common("Winbond", {0xEF, 0x40, 0x18}, 16 * MiB, 50000),
};

}  // namespace

std::span<const FlashPart> FlashParts() {
  return kParts;
}

const FlashPart* FindFlashPart(const FlashId& id) {
  const auto it = std::find_if(std::begin(kParts), std::end(kParts),
                               [&](const FlashPart& p) { return p.id == id; });
  return it == std::end(kParts) ? nullptr : &*it;
}

const FlashPart& FlashPartFor(const FlashId& id) {
  const FlashPart* part = FindFlashPart(id);
  if (part == nullptr) {
    throw std::invalid_argument("no flash part " + FlashIdText(id) + " in the part table");
  }
  return *part;
}

std::string FlashIdText(const FlashId& id) {
  char text[9];
  std::snprintf(text, sizeof text, "%02X %02X %02X", id[0], id[1], id[2]);
  return text;
}

}  // namespace velmora::sim
