// What a key pressed in a register grid does to the entry of the current cell, and the rules in
// which the register page and the I2C Access page differ.
#pragma once

#include <cstdint>

namespace velmora {

// Enter commits the cell's text; Insert and Delete step the value up and down by one.
enum class GridKey { Commit, StepUp, StepDown, Other };

// From a Windows virtual-key code: 13 Enter, 45 Insert, 46 Delete; anything else is Other.
GridKey GridKeyOf(int virtual_key);

// Where Insert and Delete start: the entry stored for the register (the last value read or
// written), or the cell's text converted first (so a value typed without Enter is taken up).
enum class StepStart { StoredEntry, CellText };

// Whether `key` needs the cell's text converted before it can act. Enter always does.
bool KeyTakesCellText(GridKey key, StepStart step_start);

// The entry a key leaves and whether it goes to the device. `start` is the stored entry or the
// converted text, as KeyTakesCellText says. A step at its limit (Insert on 0xFF, Delete on 0x00)
// leaves `start` and sends nothing; Other leaves `start` and sends nothing.
struct KeyEdit {
  std::uint8_t entry = 0;
  bool write = false;
  bool operator==(const KeyEdit&) const = default;
};
KeyEdit EditForKey(GridKey key, std::uint8_t start);

// The differences between the two grid pages.
struct GridPageRules {
  const char* idle_caption;     // of the full-read button; "Stop" while it reads
  StepStart step_start;         // where Insert and Delete start
  unsigned key_write_pause_ms;  // between a key's write and its read-back
  unsigned bit_write_pause_ms;  // between a bit-box write and its read-back
  bool marks_failed_reads;      // a failed read shows "--", not the entry kept from before
};

inline constexpr GridPageRules kRegisterPageRules{"Read Bank", StepStart::StoredEntry, 1, 3, false};
inline constexpr GridPageRules kI2cPageRules{"Read", StepStart::CellText, 1, 30, true};
inline constexpr const char* kFullReadRunningCaption = "Stop";

}  // namespace velmora
