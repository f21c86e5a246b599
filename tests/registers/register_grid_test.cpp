// The grid mapping and the key rules of the register grids.
#include "register_grid.h"

#include <gtest/gtest.h>

#include "grid_keys.h"

namespace velmora {
namespace {

TEST(RegisterGrid, RowIsTheHighNibbleColumnTheLowOneAndEveryRegisterHasOneCell) {
  const struct {
    int col, row;
    std::uint8_t index;
  } cells[] = {{1, 1, 0x00}, {16, 16, 0xFF}, {3, 2, 0x12}, {1, 16, 0xF0}, {16, 1, 0x0F}};
  for (const auto& c : cells) {
    EXPECT_EQ(RegisterOfCell(c.col, c.row), c.index) << c.col << "," << c.row;
  }
  for (int index = 0; index < 256; ++index) {
    const GridCell cell = CellOfRegister(static_cast<std::uint8_t>(index));
    EXPECT_EQ(RegisterOfCell(cell.col, cell.row), index);
  }
}

TEST(RegisterGrid, TextsAreTwoUpperCaseHexDigitsBehindTheirPrefix) {
  EXPECT_EQ(ColumnHeaderText(1), "00");
  EXPECT_EQ(ColumnHeaderText(16), "0F");
  EXPECT_EQ(RowHeaderText(2), "10");
  EXPECT_EQ(RowHeaderText(16), "F0");
  EXPECT_EQ(ByteText(0x0A), "0A");
  EXPECT_EQ(RegisterLabelText(0xAB), "Reg 0xAB");
  EXPECT_EQ(ValueLabelText(0x07), "= 0x07");
}

TEST(GridKeys, EnterWritesTheTextAndStepsStopAtTheirLimitsWithoutWriting) {
  const struct {
    int virtual_key;
    std::uint8_t start;
    KeyEdit edit;
  } keys[] = {
      {13, 0x07, {0x07, true}},  {45, 0x7F, {0x80, true}},  {45, 0xFF, {0xFF, false}},
      {46, 0x10, {0x0F, true}},  {46, 0x00, {0x00, false}}, {13, 0x00, {0x00, true}},
      {40, 0x10, {0x10, false}},  // Down arrow: nothing
  };
  for (const auto& k : keys) {
    EXPECT_EQ(EditForKey(GridKeyOf(k.virtual_key), k.start), k.edit)
        << k.virtual_key << " from " << int{k.start};
  }
}

TEST(GridKeys, OnlyTheI2cPageStepsFromTheCellText) {
  for (const GridKey key : {GridKey::Commit, GridKey::StepUp, GridKey::StepDown, GridKey::Other}) {
    const bool commit = key == GridKey::Commit;
    const bool step = key == GridKey::StepUp || key == GridKey::StepDown;
    EXPECT_EQ(KeyTakesCellText(key, kRegisterPageRules.step_start), commit);
    EXPECT_EQ(KeyTakesCellText(key, kI2cPageRules.step_start), commit || step);
  }
}

}  // namespace
}  // namespace velmora
