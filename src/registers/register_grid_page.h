// The grid mechanism shared by the register page and the I2C Access page: a 16 x 16 grid of
// registers with highlighted headers, a read of the register whose cell is selected, writes by
// Enter / Insert / Delete in the grid and by eight bit boxes, each followed by a read-back that
// the page then shows, and a full read that a second click on its button stops. The pages differ
// only in their register port, their image and their GridPageRules.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "event_pump.h"
#include "grid_keys.h"
#include "register_grid.h"
#include "register_images.h"
#include "register_port.h"
#include "sleeper.h"
#include "string_grid.h"
#include "velmora_usb.h"

namespace velmora {

// The controls of one grid page.
struct GridPageControls {
  StringGrid* grid = nullptr;
  QLabel* address_label = nullptr;  // "Reg 0x" + index
  QLabel* data_label = nullptr;     // "= 0x" + value
  QPushButton* read_button = nullptr;
  std::array<QCheckBox*, 8> bit_boxes{};  // index N: the box of bit N
};

// What a page works on: the services below the window, its port and its image (looked up at
// each use, since the register page keeps one table per bank).
struct GridPageServices {
  VelmoraUsb& usb;
  Sleeper& sleeper;
  EventPump& pump;
  RegisterPort& port;
  std::function<RegisterTable&()> image;
};

class RegisterGridPage {
 public:
  RegisterGridPage(GridPageControls controls, const GridPageRules& rules,
                   GridPageServices services);

  // The header texts: column c "00".."0F", row r "00".."F0".
  void WriteHeaders();

  // The full-read button. A click while a read runs (it arrives nested, through the read's pump)
  // stops it before its next register and makes the button idle at once; otherwise, with a
  // device marked present, it reads all 256 registers into the image and the cells. The button's
  // "Tag" property is the running flag: 1 while reading, 0 when idle.
  void ReadAllClick();
  bool Reading() const;

  // The selection moved to data cell (col, row): highlight its row and column headers, show the
  // address, read the register and show it in the cell, the bit boxes and the data label.
  void SelectCell(int col, int row);

  // A key in the grid, as a Windows virtual-key code: Enter writes the cell's text (hexadecimal,
  // low 8 bits), Insert / Delete step the value by one (from the stored entry or the cell's
  // text, as the rules say) and write it unless it is at its limit. The cell and the bit boxes
  // then show the value read back; the labels stay. A text that does not convert raises the
  // conversion error before anything is stored or sent.
  void KeyDown(int virtual_key);

  // A bit box was released: writes the value the eight boxes form to the current cell's
  // register and shows the value read back in the cell, the bit boxes and both labels.
  void BitBoxMouseUp();

  // The bit boxes show the current cell's entry again (a click that was not sent is undone).
  void ShowEntryBits();

  // Two hex digits of what was read, or of the entry kept, or "--" for a failed read on a page
  // that marks it.
  QString ReadText(std::uint8_t index, std::optional<std::uint8_t> read) const;

 private:
  GridCell CurrentCell() const;
  void HighlightHeaders(GridCell cell);
  void ShowBits(std::uint8_t value);
  std::uint8_t BitsValue() const;
  std::uint8_t CellTextValue(GridCell cell) const;
  void SetRunning(bool running);

  GridPageControls controls_;
  GridPageRules rules_;
  GridPageServices services_;
};

}  // namespace velmora
