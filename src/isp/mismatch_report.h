// Why a verify or blank check failed, in terms a technician can act on: the first bytes that
// read differently from what was expected, and which way their bits are wrong. Bits that read 0
// where 1 was expected were not erased (or sit in a protected area); bits that read 1 where 0
// was expected were not written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "chip_commands.h"

namespace velmora {

inline constexpr std::size_t kMismatchesShown = 8;

struct ByteMismatch {
  std::uint32_t address = 0;
  std::uint8_t expected = 0;
  std::uint8_t actual = 0;
  bool operator==(const ByteMismatch&) const = default;
};

struct MismatchReport {
  std::vector<ByteMismatch> first;  // in address order, at most the limit asked for
  bool complete = true;             // false when a chunk could not be read: the search ended there
  std::uint8_t zeros_where_ones = 0;  // OR of (expected AND NOT actual) over the listed bytes
  std::uint8_t ones_where_zeros = 0;  // OR of (actual AND NOT expected) over the listed bytes
};

// Reads [start, end) once, in 64-byte chunks, and lists the first `limit` bytes that differ from
// expected(address). The link must be open with the flash reachable (ISP mode). A chunk that
// cannot be read in three attempts ends the search with `complete` false.
MismatchReport FindMismatches(ChipLink& link, std::uint32_t start, std::uint32_t end,
                              const std::function<std::uint8_t(std::uint32_t)>& expected,
                              std::size_t limit = kMismatchesShown);

// The report in lines: one per byte ("0x000045: expected 0x5A, read 0x1A"), then one per
// direction of wrong bits that occurs ("bits 0x40 read 0 where 1 was expected: not erased, or
// protected" / "bits 0x01 read 1 where 0 was expected: not written"), and a line when a chunk
// could not be read.
std::vector<std::string> DescribeMismatches(const MismatchReport& report);

}  // namespace velmora
