// The device's parameter block and the fields the Parameter tab writes through the mailbox:
// the four option bytes with their bit layout, the 4-character vendor and product identifiers,
// and the descriptor strings (a length byte and up to 31 characters, sent in chunks of 8).
// Plain C++: the tab's handlers read controls, call these, and show the result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace velmora {

// ---- Option bytes ----

// Four bytes in the order they travel to and from the device. Bits the tool does not interpret
// (byte 1 bits 0-4, byte 2, byte 3 bits 0-6) are carried unchanged.
inline constexpr std::size_t kParameterBlockSize = 4;
using ParameterBlock = std::array<std::uint8_t, kParameterBlockSize>;

// I2S 32 bit, S/PDIF 24 bit, no swaps, MCLK 512 Fs, Standard, DSD, all outputs on, no EEPROM.
inline constexpr ParameterBlock kStartupParameterBlock{0xA1, 0x00, 0x00, 0x00};

// One switch of the block: bit `bit` of byte `byte`.
struct ParameterBit {
  std::uint8_t byte;
  std::uint8_t bit;
};

namespace parameter_bit {
inline constexpr ParameterBit kI2sWord32{0, 0};       // I2S output word length: 1 32 bit, 0 24 bit
inline constexpr ParameterBit kSpdifWord32{0, 1};     // S/PDIF output word length, the same way
inline constexpr ParameterBit kI2sChannelSwap{0, 2};  // I2S output channel swap
inline constexpr ParameterBit kDsdChannelSwap{0, 3};  // DSD output channel swap
inline constexpr ParameterBit kI2sLeftJustify{0, 6};  // I2S format: 1 Left Justify, 0 Standard
inline constexpr ParameterBit kDsdOutNative{0, 7};    // output when DSD comes in: 1 DSD, 0 DoP
inline constexpr ParameterBit kMclkOutputOff{1, 7};
inline constexpr ParameterBit kI2sOutputOff{1, 6};
inline constexpr ParameterBit kSpdifOutputOff{1, 5};
inline constexpr ParameterBit kEepromPresent{3, 7};  // shown only; the tool never changes it
}  // namespace parameter_bit

bool ParameterBitIsSet(const ParameterBlock& block, ParameterBit which);
// Sets or clears that one bit; every other bit stays.
void SetParameterBit(ParameterBlock& block, ParameterBit which, bool on);

// I2S MCLK output frequency, byte 0 bits 4-5: 0 = 128 Fs, 1 = 256 Fs, 2 = 512 Fs, 3 = 1024 Fs.
inline constexpr int kMclkFrequencyCount = 4;
int MclkFrequencyIndex(const ParameterBlock& block);
// Writes the low two bits of `index` into bits 4-5; every other bit stays.
void SetMclkFrequencyIndex(ParameterBlock& block, int index);

// ---- Vendor and product identifier ----

// Four bytes: the first four characters of the text as typed (not read as a number, not
// checked), zero bytes after a shorter text.
inline constexpr std::size_t kIdentifierFieldSize = 4;
using IdentifierField = std::array<std::uint8_t, kIdentifierFieldSize>;
IdentifierField MakeIdentifierField(std::string_view text);

// ---- Descriptor strings ----

// The 32-byte string field: a length byte N, then the N characters (one byte each, no
// terminator). It is written in chunks of up to 8 bytes, chunk k covering field bytes 8k on.
inline constexpr std::size_t kStringFieldSize = 32;
inline constexpr std::size_t kMaxStringChars = kStringFieldSize - 1;
inline constexpr std::size_t kStringChunkSize = 8;

struct StringChunk {
  std::uint8_t number;              // 0..3
  std::vector<std::uint8_t> bytes;  // 1..8 bytes of the field

  bool operator==(const StringChunk&) const = default;
};

// The chunks that carry the N + 1 valid bytes of the field for `text`: 8 bytes each, the last
// one what remains (an empty text gives one chunk of the single byte 0). Nullopt when the text
// has more than 31 characters and does not fit.
std::optional<std::vector<StringChunk>> StringFieldChunks(std::string_view text);

}  // namespace velmora
