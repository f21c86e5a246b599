// The two length bars of the special I2C group: a bar's position (1 to 5) is how many fields of
// its row, counted from field 0, take part in a transfer.
#pragma once

#include <array>
#include <string>

namespace velmora {

inline constexpr int kLengthBarFields = 5;  // fields per row: edtI2Ccmd0-4, edtI2Cdat0-4

// Whether field `field` (0 to 4) takes part at bar position `position`.
constexpr bool FieldTakesPart(int field, int position) {
  return field < position;
}

// What a bar at `position` shows: the caption beside it (the position in decimal) and which
// fields of its row are enabled (exactly the first `position`).
struct LengthBarView {
  std::string caption;
  std::array<bool, kLengthBarFields> enabled{};
};
LengthBarView ViewOfLengthBar(int position);

}  // namespace velmora
