// The "I2C Access" tab: the 256 registers of the slave at I2cSlaveAddress behind the chip's I2C
// master, on the same grid mechanism as the register page (register_grid_page.h), plus the
// slave address edit and the engine set-up on entering the page.
#include <QLineEdit>
#include <QTabWidget>

#include "convert_error.h"
#include "grid_keys.h"
#include "key_codes.h"
#include "register_grid.h"
#include "tform1.h"
#include "ui_tform1.h"

void TForm1::SetI2cSlaveAddress(std::uint8_t address) {
  I2cSlaveAddress = address;
  ui->edtMI2CAddr->setText(QString::fromStdString(velmora::ByteText(address)));
}

void TForm1::MainPageControlChange() {
  if (ui->MainPageControl->currentWidget() != ui->PageMI2CCtrl) return;
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  // The engine is prepared whether or not a device was found; without one the requests fail.
  usb_.Open();
  velmora::I2cMasterSetup(register_link_);
  usb_.Close();
}

void TForm1::edtMI2CAddrKeyDown(QWidget*, int key, Qt::KeyboardModifiers) {
  if (key != velmora::kVkReturn) return;
  const int typed = velmora::StrToIntOrRaise("0x" + ui->edtMI2CAddr->text());
  SetI2cSlaveAddress(static_cast<std::uint8_t>(typed & 0xFF));
}

void TForm1::btnReadMI2CClick() {
  // A click while the slave is being read stops the read, which holds the claim.
  if (i2c_page_->Reading()) {
    i2c_page_->ReadAllClick();
    return;
  }
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  i2c_page_->ReadAllClick();
}

void TForm1::StringGridMIICSelectCell(int column, int row) {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  i2c_page_->SelectCell(column, row);
}

void TForm1::StringGridMIICKeyDown(QWidget*, int key, Qt::KeyboardModifiers) {
  if (velmora::GridKeyOf(key) == velmora::GridKey::Other) return;
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  i2c_page_->KeyDown(key);
}

void TForm1::chkMI2CBitMouseUp() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) {
    i2c_page_->ShowEntryBits();  // the box clicked shows the register again, not the click
    return;
  }
  i2c_page_->BitBoxMouseUp();
}
