#include "user_table.h"

#include <algorithm>

namespace velmora {
namespace {

// How many of the marker's characters the bytes from `at` on match, stopping at the first
// difference, at the end of the image, or after the twelve characters the search looks at.
std::size_t MarkerCharactersAt(std::span<const std::uint8_t> image, std::size_t at) {
  const std::size_t limit = std::min(kUserTableMarker.size() - 1, image.size() - at);
  std::size_t matched = 0;
  while (matched < limit &&
         image[at + matched] == static_cast<std::uint8_t>(kUserTableMarker[matched])) {
    ++matched;
  }
  return matched;
}

bool TableFits(std::size_t image_size, std::uint32_t table_offset) {
  return table_offset <= image_size && image_size - table_offset >= kUserTableSize;
}

void WriteBigEndian16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace

UserTableFields DesignUserTableFields() {
  return {0x6CCF,
          0x6012,
          {"Velmora-inc", "Velmora-inc UAC22", "VLUA170405", "Primary Play Interface",
           "Record Interface"}};
}

UserTableSearch FindUserTable(std::span<const std::uint8_t> image) {
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (MarkerCharactersAt(image, i) < kUserTableMarkerMatch) continue;
    const auto offset = static_cast<std::uint32_t>(i);
    return {TableFits(image.size(), offset) ? UserTableSearch::Outcome::kFound
                                            : UserTableSearch::Outcome::kCutShort,
            offset};
  }
  return {};
}

bool WriteUserTableFields(std::span<std::uint8_t> image, std::uint32_t table_offset,
                          const UserTableFields& fields) {
  if (!TableFits(image.size(), table_offset)) return false;
  std::uint8_t* const table = image.data() + table_offset;
  WriteBigEndian16(table + kUserTableVidOffset, fields.vid);
  WriteBigEndian16(table + kUserTablePidOffset, fields.pid);
  for (std::size_t k = 0; k < kUserStringCount; ++k) {
    std::uint8_t* const field = table + kUserTableStringsOffset + k * kUserStringSize;
    const std::string& text = fields.strings[k];
    const std::size_t taken = std::min(text.size(), kUserStringSize);
    std::copy_n(text.begin(), taken, field);
    std::fill(field + taken, field + kUserStringSize, std::uint8_t{' '});
  }
  return true;
}

std::uint16_t ImageSum(std::span<const std::uint8_t> image) {
  std::uint16_t sum = 0;
  for (std::uint8_t byte : image) sum = static_cast<std::uint16_t>(sum + byte);
  return sum;
}

PatchResult PatchUserTable(std::span<std::uint8_t> image, std::uint32_t table_offset,
                           const UserTableFields& fields) {
  if (!WriteUserTableFields(image, table_offset, fields)) return {};
  return {true, ImageSum(image)};
}

}  // namespace velmora
