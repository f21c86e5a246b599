// How a 16 x 16 register grid shows 256 registers: data cell (column c, row r), both 1 to 16,
// stands for register (r - 1) * 16 + (c - 1), so the row gives the high nibble and the column the
// low one. Row 0 and column 0 are headers. Every value is two upper-case hexadecimal digits.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

inline constexpr int kGridSide = 16;  // data rows and columns

struct GridCell {
  int col = 1;
  int row = 1;
  bool operator==(const GridCell&) const = default;
};

// The register of data cell (col, row); col and row from 1 to 16.
std::uint8_t RegisterOfCell(int col, int row);
GridCell CellOfRegister(std::uint8_t index);

// Header of column c (1..16): c - 1, "00" to "0F". Header of row r (1..16): (r - 1) * 16, "00"
// to "F0".
std::string ColumnHeaderText(int col);
std::string RowHeaderText(int row);

// "0A" for 0x0A.
std::string ByteText(std::uint8_t value);
// "Reg 0x0A": the address label of a page.
std::string RegisterLabelText(std::uint8_t index);
// "= 0x0A": the data label of a page.
std::string ValueLabelText(std::uint8_t value);

}  // namespace velmora
