#include "mismatch_report.h"

#include <algorithm>
#include <array>

#include "flash_geometry.h"
#include "flash_texts.h"

namespace velmora {

MismatchReport FindMismatches(ChipLink& link, std::uint32_t start, std::uint32_t end,
                              const std::function<std::uint8_t(std::uint32_t)>& expected,
                              std::size_t limit) {
  MismatchReport report;
  std::array<std::uint8_t, kReadChunkSize> chunk{};
  for (std::uint32_t a = start; a < end && report.first.size() < limit; a += kReadChunkSize) {
    bool read = false;
    for (int attempt = 0; attempt < kChunkAttempts && !read; ++attempt) {
      read = FlashRead(link, a, kReadChunkSize, chunk.data());
    }
    if (!read) {
      report.complete = false;
      break;
    }
    const std::uint32_t count = std::min(kReadChunkSize, end - a);
    for (std::uint32_t p = 0; p < count && report.first.size() < limit; ++p) {
      const std::uint8_t want = expected(a + p);
      if (chunk[p] == want) continue;
      report.first.push_back({a + p, want, chunk[p]});
      report.zeros_where_ones |= static_cast<std::uint8_t>(want & ~chunk[p]);
      report.ones_where_zeros |= static_cast<std::uint8_t>(chunk[p] & ~want);
    }
  }
  return report;
}

std::vector<std::string> DescribeMismatches(const MismatchReport& report) {
  std::vector<std::string> lines;
  for (const ByteMismatch& m : report.first) {
    lines.push_back("0x" + texts::Hex(m.address, 6) + ": expected 0x" + texts::Hex(m.expected, 2) +
                    ", read 0x" + texts::Hex(m.actual, 2));
  }
  if (report.zeros_where_ones != 0) {
    lines.push_back("bits 0x" + texts::Hex(report.zeros_where_ones, 2) +
                    " read 0 where 1 was expected: not erased, or protected");
  }
  if (report.ones_where_zeros != 0) {
    lines.push_back("bits 0x" + texts::Hex(report.ones_where_zeros, 2) +
                    " read 1 where 0 was expected: not written");
  }
  if (!report.complete) lines.push_back("a chunk could not be read: the list ends there");
  return lines;
}

}  // namespace velmora
