#include "register_grid.h"

#include <cstdio>

namespace velmora {

std::uint8_t RegisterOfCell(int col, int row) {
  return static_cast<std::uint8_t>((row - 1) * kGridSide + (col - 1));
}

GridCell CellOfRegister(std::uint8_t index) {
  return {index % kGridSide + 1, index / kGridSide + 1};
}

std::string ColumnHeaderText(int col) {
  return ByteText(static_cast<std::uint8_t>(col - 1));
}

std::string RowHeaderText(int row) {
  return ByteText(static_cast<std::uint8_t>((row - 1) * kGridSide));
}

std::string ByteText(std::uint8_t value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

std::string RegisterLabelText(std::uint8_t index) {
  return "Reg 0x" + ByteText(index);
}

std::string ValueLabelText(std::uint8_t value) {
  return "= 0x" + ByteText(value);
}

}  // namespace velmora
