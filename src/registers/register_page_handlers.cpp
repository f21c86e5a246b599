// The "Register" tab: the chip's 256 registers of the bank register 0x00 selects, shown in
// RegisterImage's table of CurrentBank. The grid mechanism does the work (register_grid_page.h);
// the page reads and writes through RegRead / RegWrite.
#include "tform1.h"

void TForm1::btnReadAllClick() {
  register_page_->ReadAllClick();
}

void TForm1::RegStringGridSelectCell(int column, int row) {
  register_page_->SelectCell(column, row);
}

void TForm1::RegStringGridKeyDown(QWidget*, int key, Qt::KeyboardModifiers) {
  register_page_->KeyDown(key);
}

void TForm1::chkBit0MouseUp() {
  register_page_->BitBoxMouseUp();
}
