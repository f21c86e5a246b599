// The serial flash parts the virtual chip can carry, kept as data the way a flash-chip database
// keeps them: identifier, size, page size, erase block, protect bits and cycle times. The flash
// model takes every property of a part from its row here, so a part behaves as its own datasheet
// says and not as a rule guessed from one identifier byte (memory type 0x22 is a 32-byte-page
// part from one maker and an ordinary 256-byte-page part from another).
//
// These are the model's facts. The tool keeps its own rules for what it reads from the
// identifier; a test that picks a part here checks the tool against the part.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace velmora::sim {

// Duration of each write cycle in clock microseconds (0 = done at once).
struct FlashTimes {
  std::uint64_t page_program_us = 1000;
  std::uint64_t sector_erase_us = 60000;
  std::uint64_t chip_erase_us = 2000000;
  std::uint64_t write_status_us = 10000;
};

using FlashId = std::array<std::uint8_t, 3>;  // manufacturer, memory type, capacity code

struct FlashPart {
  const char* maker;
  FlashId id;
  std::uint32_t size;         // bytes; 2^capacity code
  std::uint32_t page_size;    // bytes one page program reaches (the column wraps inside it)
  std::uint32_t sector_size;  // bytes one sector erase (0x20) clears
  // Block-protect bits the status register has: 0x0C (BP0-BP1) or 0x1C (BP0-BP2).
  std::uint8_t block_protect_bits;
  // Bytes at the top of the array that protect level 1 guards; each level above doubles it, and
  // all protect bits set guard the whole array.
  std::uint32_t protect_unit;
  FlashTimes times;  // typical cycle times
};

// Every part in the table, by maker and then by identifier.
std::span<const FlashPart> FlashParts();

// The part with identifier `id`, or nullptr when the table has none.
const FlashPart* FindFlashPart(const FlashId& id);

// The part with identifier `id`; throws std::invalid_argument naming the identifier when the
// table has none (a test or demo set-up that asks for a part nobody makes).
const FlashPart& FlashPartFor(const FlashId& id);

// "C2 20 13": an identifier as the tables and messages write it.
std::string FlashIdText(const FlashId& id);

}  // namespace velmora::sim
