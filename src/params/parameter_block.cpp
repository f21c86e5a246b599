#include "parameter_block.h"

#include <algorithm>

namespace velmora {

namespace {
constexpr int kMclkShift = 4;
constexpr std::uint8_t kMclkMask = 0x03;
}  // namespace

bool ParameterBitIsSet(const ParameterBlock& block, ParameterBit which) {
  return (block[which.byte] >> which.bit) & 1u;
}

void SetParameterBit(ParameterBlock& block, ParameterBit which, bool on) {
  const auto mask = static_cast<std::uint8_t>(1u << which.bit);
  block[which.byte] =
      static_cast<std::uint8_t>(on ? block[which.byte] | mask : block[which.byte] & ~mask);
}

int MclkFrequencyIndex(const ParameterBlock& block) {
  return (block[0] >> kMclkShift) & kMclkMask;
}

void SetMclkFrequencyIndex(ParameterBlock& block, int index) {
  const auto cleared = static_cast<std::uint8_t>(block[0] & ~(kMclkMask << kMclkShift));
  block[0] = static_cast<std::uint8_t>(cleared | (index & kMclkMask) << kMclkShift);
}

IdentifierField MakeIdentifierField(std::string_view text) {
  IdentifierField field{};
  std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
  return field;
}

std::optional<std::vector<StringChunk>> StringFieldChunks(std::string_view text) {
  if (text.size() > kMaxStringChars) return std::nullopt;
  std::array<std::uint8_t, kStringFieldSize> field{};
  field[0] = static_cast<std::uint8_t>(text.size());
  std::copy(text.begin(), text.end(), field.begin() + 1);
  const std::size_t valid = text.size() + 1;

  std::vector<StringChunk> chunks;
  for (std::size_t start = 0; start < valid; start += kStringChunkSize) {
    const std::size_t count = std::min(kStringChunkSize, valid - start);
    chunks.push_back({static_cast<std::uint8_t>(start / kStringChunkSize),
                      {field.begin() + static_cast<std::ptrdiff_t>(start),
                       field.begin() + static_cast<std::ptrdiff_t>(start + count)}});
  }
  return chunks;
}

}  // namespace velmora
