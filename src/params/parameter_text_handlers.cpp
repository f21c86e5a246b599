// The Parameter page's identifiers and descriptor strings: Enter in an edit writes its text to
// the device at once. Characters travel as one byte each (Latin-1; others become '?').
#include "key_codes.h"
#include "labeled_edit.h"
#include "parameter_commands.h"
#include "tform1.h"
#include "ui_tform1.h"

namespace {

constexpr const char* kStringTooLong = "String is longer than 31 characters !!    ";

}  // namespace

void TForm1::lbledSysVIDPIDKeyDown(QWidget* sender, int key, Qt::KeyboardModifiers) {
  if (key != velmora::kVkReturn) return;
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  const bool vid = sender == ui->lbledSysVID;
  const QLineEdit* edit = vid ? ui->lbledSysVID : ui->lbledSysPID;
  velmora::ChipLink link = ParameterLink();
  velmora::WriteIdentifier(
      link, vid ? velmora::parameter_item::kVendorId : velmora::parameter_item::kProductId,
      velmora::MakeIdentifierField(edit->text().toLatin1().toStdString()));
}

void TForm1::lbledSysStrKeyDown(QWidget* sender, int key, Qt::KeyboardModifiers) {
  if (key != velmora::kVkReturn) return;
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  namespace item = velmora::parameter_item;
  const QLineEdit* edit = ui->lbledSysStr3;
  std::uint8_t field = item::kString3;
  if (sender == ui->lbledSysStr1) {
    edit = ui->lbledSysStr1;
    field = item::kString1;
  } else if (sender == ui->lbledSysStr2) {
    edit = ui->lbledSysStr2;
    field = item::kString2;
  }
  const auto chunks = velmora::StringFieldChunks(edit->text().toLatin1().toStdString());
  if (!chunks) {
    // Cutting it would store another text than the one typed (a serial number, say).
    ShowMessage(kStringTooLong);
    return;
  }
  velmora::ChipLink link = ParameterLink();
  velmora::WriteStringChunks(link, field, *chunks);
}
