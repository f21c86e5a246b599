// The user table inside a firmware image: the USB identifiers and five descriptor strings that
// the firmware reports, found by the marker text "VLUSB_Table01". This is the whole job behind
// the "Gen. Bin File" tab, without the window: find the table in a loaded image, write the seven
// fields, and sum the image that is then saved.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace velmora {

// Layout, offsets from the marker's first byte.
inline constexpr std::string_view kUserTableMarker = "VLUSB_Table01";
// Firmware revisions change the marker's last characters ("...Table02"): only the first ten
// must match.
inline constexpr std::size_t kUserTableMarkerMatch = 10;
inline constexpr std::size_t kUserTableVidOffset = 13;  // 2 bytes, high byte first
inline constexpr std::size_t kUserTablePidOffset = 15;  // 2 bytes, high byte first
inline constexpr std::size_t kUserTableStringsOffset = 17;
inline constexpr std::size_t kUserStringCount = 5;
inline constexpr std::size_t kUserStringSize = 32;  // space-padded, no length byte, no terminator
inline constexpr std::size_t kUserTableSize =
    kUserTableStringsOffset + kUserStringCount * kUserStringSize;  // 177

// What the table holds. The strings are 8-bit characters (one byte each); in order:
// manufacturer, product name, serial number, play interface, record interface.
struct UserTableFields {
  std::uint16_t vid = 0;
  std::uint16_t pid = 0;
  std::array<std::string, kUserStringCount> strings;
};

// What the "Gen. Bin File" tab's boxes hold at start-up (VID 6CCF, PID 6012, "Velmora-inc",
// "Velmora-inc UAC22", "VLUA170405", "Primary Play Interface", "Record Interface"): a save
// writes these for every field the user leaves alone.
UserTableFields DesignUserTableFields();

struct UserTableSearch {
  enum class Outcome {
    kFound,
    kNoMarker,  // no marker anywhere in the image
    kCutShort,  // the first marker starts so near the end that the table runs past it
  };
  Outcome outcome = Outcome::kNoMarker;
  std::uint32_t offset = 0;  // the marker's first byte (kFound and kCutShort)

  bool Found() const { return outcome == Outcome::kFound; }
};

// Finds the first byte offset whose bytes match at least the first kUserTableMarkerMatch
// characters of the marker; only bytes inside `image` take part. The lowest such offset wins:
// when its table does not fit before the end of `image` the search says kCutShort (a later
// marker would fit even less).
UserTableSearch FindUserTable(std::span<const std::uint8_t> image);

// Writes the seven fields into the table whose marker starts at `table_offset`: the identifiers
// high byte first, each string's first 32 bytes padded with spaces (an empty string gives 32
// spaces). The marker is left as it is. Returns false and changes nothing when the table does not
// fit inside `image` at that offset.
bool WriteUserTableFields(std::span<std::uint8_t> image, std::uint32_t table_offset,
                          const UserTableFields& fields);

// 16-bit sum of all bytes of `image`, wrapping modulo 65536.
std::uint16_t ImageSum(std::span<const std::uint8_t> image);

struct PatchResult {
  bool ok = false;        // false: no table that fits at that offset; `image` is untouched
  std::uint16_t sum = 0;  // ImageSum of the patched image (when ok)
};

// The job of " Save" up to the file: the fields written into the table at `table_offset`, and
// the sum of the whole image as it will be written.
PatchResult PatchUserTable(std::span<std::uint8_t> image, std::uint32_t table_offset,
                           const UserTableFields& fields);

}  // namespace velmora
