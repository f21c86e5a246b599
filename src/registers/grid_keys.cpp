#include "grid_keys.h"

namespace velmora {

GridKey GridKeyOf(int virtual_key) {
  switch (virtual_key) {
    case 13:
      return GridKey::Commit;
    case 45:
      return GridKey::StepUp;
    case 46:
      return GridKey::StepDown;
    default:
      return GridKey::Other;
  }
}

bool KeyTakesCellText(GridKey key, StepStart step_start) {
  switch (key) {
    case GridKey::Commit:
      return true;
    case GridKey::StepUp:
    case GridKey::StepDown:
      return step_start == StepStart::CellText;
    case GridKey::Other:
      break;
  }
  return false;
}

KeyEdit EditForKey(GridKey key, std::uint8_t start) {
  switch (key) {
    case GridKey::Commit:
      return {start, true};
    case GridKey::StepUp:
      if (start == 0xFF) return {start, false};
      return {static_cast<std::uint8_t>(start + 1), true};
    case GridKey::StepDown:
      if (start == 0x00) return {start, false};
      return {static_cast<std::uint8_t>(start - 1), true};
    case GridKey::Other:
      break;
  }
  return {start, false};
}

}  // namespace velmora
