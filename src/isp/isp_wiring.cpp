// Connects the ISP page's controls to their handlers, each through the window's guard so that a
// conversion error ends the handler with its message.
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include "labeled_edit.h"
#include "tform1.h"
#include "ui_tform1.h"

void TForm1::WireIsp() {
  isp_progress_ = std::make_unique<velmora::FormFlashProgress>(
      ui->lblUSBProcessInfo, ui->lblUSBISPProcess, ui->lblUSBISPStatusReg, pump_);

  // The history holds the files that were loaded: a name typed into the box is not added by
  // pressing Enter, only by loading it.
  ui->cbxReadISPFile->setInsertPolicy(QComboBox::NoInsert);

  const auto click = [this](QPushButton* button, void (TForm1::*handler)()) {
    Wire(button, &QPushButton::clicked, [this, handler] { (this->*handler)(); });
  };
  click(ui->USBLoadFileBitBtn, &TForm1::USBLoadFileBitBtnClick);
  click(ui->btnUSBISPAuto, &TForm1::btnUSBISPAutoClick);
  click(ui->btnEnterISP, &TForm1::btnEnterISPClick);
  click(ui->btnUSBChipID, &TForm1::btnUSBChipIDClick);
  click(ui->btnUSBWriteEnable, &TForm1::btnUSBWriteEnableClick);
  click(ui->btnUSBWriteDisable, &TForm1::btnUSBWriteDisableClick);
  click(ui->btnUSBReadStatus, &TForm1::btnUSBReadStatusClick);
  click(ui->btnUSBErase, &TForm1::btnUSBEraseClick);
  click(ui->btnUSBBlank, &TForm1::btnUSBBlankClick);
  click(ui->btnUSBProgram, &TForm1::btnUSBProgramClick);
  click(ui->btnUSBVerify, &TForm1::btnUSBVerifyClick);
  click(ui->btnReadBack, &TForm1::btnReadBackClick);

  Wire(ui->rbnRange0, &QRadioButton::clicked, [this] { rbnRangeClick(); });
  Wire(ui->rbnRange1, &QRadioButton::clicked, [this] { rbnRangeClick(); });
  // The start and size edits take effect when a range button is clicked or Auto starts; a key
  // in them does nothing, so they are not connected.

  WireKeyDown(ui->lbledtUSBWriteStatus,
              [this](QWidget* sender, int key, Qt::KeyboardModifiers shift) {
                lbledtUSBWriteStatusKeyDown(sender, key, shift);
              });
}
