// Key handlers speak Windows virtual-key codes (Enter is 13): the mapping from Qt's keys.
#pragma once

namespace velmora {

inline constexpr int kVkReturn = 13;
inline constexpr int kVkInsert = 45;
inline constexpr int kVkDelete = 46;

// The virtual-key code of a Qt key (Qt::Key), or 0 for a key without one.
int VirtualKeyOf(int qt_key);

}  // namespace velmora
