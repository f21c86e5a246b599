// The single flash operations of the ISP page's "Function Test" group. Each handler opens the
// device link for its own requests and closes it again; the flash engine does the work and
// reports on the progress labels.
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "convert_error.h"
#include "flash_texts.h"
#include "key_codes.h"
#include "labeled_edit.h"
#include "tform1.h"
#include "ui_tform1.h"

namespace {

QString HexText(std::uint32_t value, int digits) {
  return QString::fromStdString(velmora::texts::Hex(value, digits));
}

}  // namespace

velmora::FlashRange TForm1::CurrentFlashRange() const {
  const auto choice =
      ui->rbnRange0->isChecked() ? velmora::RangeChoice::All : velmora::RangeChoice::AssignRange;
  return {choice, RangeStart, RangeSize};
}

void TForm1::btnEnterISPClick() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  if (!usb_.IsFound()) return;
  velmora::ChipLink link = IspLink();
  usb_.Open();
  // The requests' results are not examined: flag and caption toggle with every click.
  if (InIspMode) {
    velmora::IspExit(link);
    InIspMode = false;
    ui->btnEnterISP->setText("Enter ISP");
  } else {
    velmora::RegWrite(link, 0x00, 0x0D);
    velmora::RegWrite(link, 0x01, 0x03);
    velmora::IspEnter(link);
    InIspMode = true;
    ui->btnEnterISP->setText("Exit ISP");
  }
  usb_.Close();
}

void TForm1::btnUSBChipIDClick() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  velmora::ChipLink link = IspLink();
  usb_.Open();
  velmora::FlashReadId(link, ChipId);  // a failed read keeps the bytes read before
  usb_.Close();
  QString text;
  for (std::uint8_t byte : ChipId) text += "0x" + HexText(byte, 2) + ",  ";
  ui->lblUSBChipID->setText(text);
}

void TForm1::btnUSBWriteEnableClick() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  velmora::ChipLink link = IspLink();
  usb_.Open();
  velmora::FlashWriteEnable(link);
  usb_.Close();
}

void TForm1::btnUSBWriteDisableClick() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  velmora::ChipLink link = IspLink();
  usb_.Open();
  velmora::FlashWriteDisable(link);
  usb_.Close();
}

void TForm1::btnUSBReadStatusClick() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  velmora::ChipLink link = IspLink();
  usb_.Open();
  const std::uint8_t status = velmora::FlashReadStatus(link);  // 0xFF when the read failed
  usb_.Close();
  ui->lblUSBStatus->setText("0x" + HexText(status, 2));
}

void TForm1::lbledtUSBWriteStatusKeyDown(QWidget*, int key, Qt::KeyboardModifiers) {
  if (key != velmora::kVkReturn) return;
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  // The edit holds hexadecimal digits; a text that does not convert ends here, before the link
  // is opened. No write enable goes first: the user sends it with its own button.
  const auto value = static_cast<std::uint8_t>(
      velmora::StrToIntOrRaise("0x" + ui->lbledtUSBWriteStatus->text()) & 0xFF);
  velmora::ChipLink link = IspLink();
  usb_.Open();
  velmora::FlashWriteStatus(link, value);
  usb_.Close();
}

void TForm1::btnUSBEraseClick() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  velmora::ChipLink link = IspLink();
  velmora::FlashContext ctx{link, *isp_progress_};
  // The identifier read last bounds the sectors: past the part's end they would wrap.
  if (!velmora::EraseFlash(ctx, CurrentFlashRange(), ChipId)) StepFailed = true;
}

void TForm1::RunRangeButton(velmora::RangeOperation operation) {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  velmora::ChipLink link = IspLink();
  velmora::FlashContext ctx{link, *isp_progress_};
  // Programming takes its page size from the identifier read last (Chip ID or an Auto run).
  velmora::RunRangeOperation(ctx, operation, ProgramImage, CurrentFlashRange(), ChipId);
}

void TForm1::btnUSBBlankClick() {
  RunRangeButton(velmora::RangeOperation::BlankCheck);
}

void TForm1::btnUSBProgramClick() {
  RunRangeButton(velmora::RangeOperation::Program);
}

void TForm1::btnUSBVerifyClick() {
  RunRangeButton(velmora::RangeOperation::Verify);
}
