// The "Auto" button: the whole programming job in one click, and a stop on the next click.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "auto_sequence.h"
#include "convert_error.h"
#include "flash_texts.h"
#include "labeled_edit.h"
#include "tform1.h"
#include "ui_tform1.h"

namespace {

constexpr const char* kNoDevice = "USB device is NOT available !!    ";
constexpr const char* kNoProgramFile = "Program File Not Ready !!    ";
constexpr const char* kProgramFileEmpty = "Program File is empty !!    ";

}  // namespace

void TForm1::btnUSBISPAutoClick() {
  // A click during a run arrives nested, through one of the run's pumps: it asks the run to stop
  // at its next chunk, page or poll. The run restores the caption and AutoBusy when it has
  // ended, so detection keeps still while protect and the ISP exit still go out.
  if (auto_running_) {
    isp_progress_->RequestStop();
    return;
  }
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  StepFailed = false;
  if (!usb_.IsFound()) {
    ShowMessage(kNoDevice);
    return;
  }
  // Without a good load the image in memory belongs to no file the user chose (or is empty, and
  // the run would erase the chip and report success): only a run that reloads may go on.
  if (!FileReady &&
      (ui->cbxReadISPFile->currentText().isEmpty() || !ui->chkReadFile->isChecked())) {
    ShowMessage(kNoProgramFile);
    return;
  }
  // The range edits are converted before the window turns busy: a text that is no number ends
  // the click with the conversion error, the window idle and nothing sent.
  velmora::FlashRange range = CurrentFlashRange();
  if (range.choice == velmora::RangeChoice::AssignRange) {
    const int start_kb = velmora::StrToIntOrRaise(ui->lbledISPStart->text());
    const int size_kb = velmora::StrToIntOrRaise(ui->lbledISPRange->text());
    RangeStart = range.range_start = velmora::KilobytesToBytes(start_kb);
    RangeSize = range.range_size = velmora::KilobytesToBytes(size_kb);
  }
  RunAutoPass(range);
}

void TForm1::RunAutoPass(const velmora::FlashRange& range) {
  // Busy from here until the run has ended, however it ends.
  struct BusyWhileRunning {
    TForm1& form;
    explicit BusyWhileRunning(TForm1& f) : form(f) {
      form.AutoBusy = form.auto_running_ = true;
      form.isp_progress_->ClearStop();
      form.ui->btnUSBISPAuto->setText("Stop");
    }
    ~BusyWhileRunning() {
      form.ui->btnUSBISPAuto->setText("Auto");
      form.isp_progress_->ClearStop();
      form.AutoBusy = form.auto_running_ = false;
    }
  } busy(*this);

  if (ui->chkReadFile->isChecked()) {
    const QString typed = ui->cbxReadISPFile->currentText();
    if (typed != ProgramFileName) ProgramFileName = typed;
    ReadProgramFile();
    // The loader has said why in its box. Going on with the image still in memory would erase
    // the chip for a file the user did not ask for: the device is not touched.
    if (!FileReady) return;
  }
  // An empty file is a good load, but a run would erase the chip for it and report success.
  if (ProgramImage.length == 0) {
    ShowMessage(kProgramFileEmpty);
    StepFailed = true;
    return;
  }

  const velmora::AutoSteps steps{
      .reload_file = ui->chkReadFile->isChecked(),
      .isp_mode = ui->chkISPMode->isChecked(),
      .erase = ui->chkErase->isChecked(),
      .blank = ui->chkBlank->isChecked(),
      .program = ui->chkProgram->isChecked(),
      .verify = ui->chkVerify->isChecked(),
      .protect = ui->chkProtect->isChecked(),
  };
  // A file loaded by a click during the run must not change what this run writes and verifies.
  const velmora::ProgramImage image = ProgramImage;
  velmora::ChipLink link = IspLink();
  velmora::FlashContext ctx{link, *isp_progress_};
  // A run stopped before its first address must not show the last run's.
  ui->lblUSBISPProcess->setText("Process Addr: 0x000000");
  const velmora::AutoOutcome outcome = velmora::RunAutoSequence(ctx, steps, range, image, ChipId);
  StepFailed = outcome.step_failed;
  PageSize = outcome.page_size;
  // The register as the run last read it (the protect bits after a protected run), not the 0x00
  // of the erase polls.
  if (outcome.last_status) {
    ui->lblUSBISPStatusReg->setText(
        QString::fromStdString(velmora::texts::StatusRegister(*outcome.last_status)));
  }
}
