// The "Register" tab: the chip's 256 registers of the bank register 0x00 selects, shown in
// RegisterImage's table of CurrentBank. The grid mechanism does the work (register_grid_page.h);
// the page reads and writes through RegRead / RegWrite.
#include "grid_keys.h"
#include "tform1.h"

void TForm1::btnReadAllClick() {
  // A click while the bank is being read stops the read, which holds the claim.
  if (register_page_->Reading()) {
    register_page_->ReadAllClick();
    return;
  }
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  register_page_->ReadAllClick();
}

void TForm1::RegStringGridSelectCell(int column, int row) {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  register_page_->SelectCell(column, row);
}

void TForm1::RegStringGridKeyDown(QWidget*, int key, Qt::KeyboardModifiers) {
  if (velmora::GridKeyOf(key) == velmora::GridKey::Other) return;
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  register_page_->KeyDown(key);
}

void TForm1::chkBit0MouseUp() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) {
    register_page_->ShowEntryBits();  // the box clicked shows the register again, not the click
    return;
  }
  register_page_->BitBoxMouseUp();
}
