// Connects the "Gen. Bin File" tab's buttons to their handlers, each through the window's guard
// so that a conversion error ends the handler with its message.
#include <QPushButton>

#include "tform1.h"
#include "ui_tform1.h"

void TForm1::WireBinFile() {
  const auto click = [this](QPushButton* button, void (TForm1::*handler)()) {
    Wire(button, &QPushButton::clicked, [this, handler] { (this->*handler)(); });
  };
  click(ui->CurrentFileBitBtn, &TForm1::CurrentFileBitBtnClick);
  click(ui->btnCheck, &TForm1::btnCheckClick);
  click(ui->btnSaveBitBin, &TForm1::btnSaveBitBinClick);
  click(ui->btnSaveBin, &TForm1::btnSaveBinClick);
  // The edit boxes take effect when " Save" reads them; they are not connected.
}
