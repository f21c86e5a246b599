// The "Flash Access Range" group and the "Read Flash" button of the ISP page.
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <initializer_list>
#include <span>

#include "atomic_file.h"
#include "convert_error.h"
#include "labeled_edit.h"
#include "tform1.h"
#include "ui_tform1.h"

void TForm1::rbnRangeClick() {
  const bool assign = !ui->rbnRange0->isChecked();
  const std::initializer_list<QWidget*> range_controls{ui->lbledISPStart, ui->lbledISPRange,
                                                       ui->Label20, ui->Label21};
  for (QWidget* control : range_controls) control->setEnabled(assign);
  if (!assign) {
    RangeStart = 0;
    return;
  }
  // Kilobytes; the start is taken before the size is converted, so a bad size alone leaves the
  // new start and the old size. Values are not bounded here: the flash engine refuses a range
  // beyond the flash's 24-bit addresses.
  RangeStart = velmora::KilobytesToBytes(velmora::StrToIntOrRaise(ui->lbledISPStart->text()));
  RangeSize = velmora::KilobytesToBytes(velmora::StrToIntOrRaise(ui->lbledISPRange->text()));
}

void TForm1::btnReadBackClick() {
  {
    const DeviceClaim claim = ClaimDevice();
    if (!claim) return;
    velmora::ChipLink link = IspLink();
    velmora::FlashContext ctx{link, *isp_progress_};
    velmora::ReadFlashBack(ctx, ReadBackBuffer);
  }
  // The buffer is offered whatever the reading found: a failed chunk and everything after it
  // hold the 0x5A fill.
  const std::optional<QString> target = Execute(SaveBinFIleDialog);
  if (!target) return;
  const velmora::FileWriteResult written = velmora::WriteFileAtomically(
      QFile::encodeName(*target).toStdString(),
      std::span<const std::uint8_t>(ReadBackBuffer).first(velmora::kReadBackEnd));
  if (!written.ok) ui->lblUSBProcessInfo->setText(QString::fromLocal8Bit(written.error));
}
