// What the window does once it is built, before it is first shown, and when it closes: sizing
// by screen density, the settings, the grid headers, detection switched on, the parameter
// block, and (as shipped) every page but ISP's file, "Auto" and progress hidden.
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QScreen>
#include <QTabWidget>
#include <array>

#include "register_grid_page.h"
#include "settings_text.h"
#include "str_to_int.h"
#include "tform1.h"
#include "ui_tform1.h"
#include "window_place.h"

namespace {

constexpr const char* kWindowTitle = "KDN USB ISP ToolV1.0";
constexpr const char* kDefaultVid = "6ccf";
constexpr const char* kDefaultPid = "6012";

// Screens of 120 dpi or more get a window 140 pixels larger each way.
constexpr int kLargeScreenDpi = 120;
constexpr int kLargeScreenExtra = 140;
constexpr int kWindowWidth = 606;
constexpr int kWindowHeight = 618;
constexpr int kIspOnlyWindowHeight = 360;
constexpr int kIspOnlyPagesHeight = 220;
constexpr int kAllPagesHeight = 489;  // as designed
constexpr QPoint kDesignedPlace{664, 133};

}  // namespace

void TForm1::FormCreate() {
  const int dpi =
      startup_.screen_dpi > 0 ? startup_.screen_dpi : qRound(screen()->logicalDotsPerInchX());
  const int extra = dpi >= kLargeScreenDpi ? kLargeScreenExtra : 0;
  resize(kWindowWidth + extra, kWindowHeight + extra);
  setWindowTitle(kWindowTitle);

  LoadSettings();

  register_page_->WriteHeaders();
  i2c_page_->WriteHeaders();
  ui->MainPageControl->setCurrentWidget(ui->TabSheet1);

  presence_.SwitchOff();
  AutoBusy = false;
  ui->lbledtVID->setText(QString::fromStdString(presence_.VidText()));
  ui->lbledtPID->setText(QString::fromStdString(presence_.PidText()));
  presence_.RebuildUserMatchText();
  // Ticking runs chkDetectUSBClick as a click does: detection is on from here, searching for the
  // ids in the boxes, lower-cased.
  ui->chkDetectUSB->setChecked(true);

  ParameterBlock = velmora::kStartupParameterBlock;
  ShowParameterBlock();

  QTabWidget* pages = ui->MainPageControl;
  if (startup_.all_pages) {
    pages->resize(pages->width(), kAllPagesHeight + extra);
  } else {
    // The ISP page first: hiding the page on show would bring up the next one, and entering
    // "I2C Access" talks to the device.
    pages->setCurrentWidget(ui->PageISPCtrl);
    for (QWidget* sheet :
         {ui->TabSheet1, ui->PageMI2CCtrl, ui->Parameter, ui->Information, ui->BinFile}) {
      pages->setTabVisible(pages->indexOf(sheet), false);
    }
    pages->resize(pages->width(), kIspOnlyPagesHeight + extra);
    resize(kWindowWidth + extra, kIspOnlyWindowHeight + extra);
    ui->pnlISPFuncTest->hide();
    ui->gbxISPRange->hide();
  }

  // The boxes show these ids, while the search keeps the ones taken above until detection is
  // switched off and on again.
  ui->lbledtVID->setText("6ccf");
  ui->lbledtPID->setText("6013");

  if (!startup_.all_pages) {
    for (QCheckBox* step : IspStepBoxes()) step->hide();
  }

  // The designed place, unless the window would then reach past a small screen's edge.
  move(velmora::PlaceOnScreen(QRect(kDesignedPlace, size()), velmora::kTypicalFrame,
                              screen()->availableGeometry()));
}

void TForm1::LoadSettings() {
  const std::optional<velmora::StoredSettings> stored =
      startup_.settings != nullptr ? startup_.settings->Load() : std::nullopt;
  if (!stored) {
    // Nothing stored yet: the ISP controls keep their designed states.
    presence_.SetIds(kDefaultVid, kDefaultPid);
    return;
  }
  ShowIspSetting(stored->isp_setting ? velmora::DecodeIspSetting(*stored->isp_setting)
                                     : velmora::kIspSettingWhenAbsent);
  rbnRangeClick();

  // The file is only remembered here, not loaded; a file gone since is forgotten.
  ProgramFileName = velmora::SettingText(stored->isp_file_name);
  if (!ProgramFileName.isEmpty()) {
    QFile file(ProgramFileName);
    if (file.open(QIODevice::ReadOnly)) {
      file.close();
      AddToFileHistory();
    } else {
      ProgramFileName.clear();
    }
  }

  const QString vid = velmora::SettingText(stored->usb_vid);
  const QString pid = velmora::SettingText(stored->usb_pid);
  presence_.SetIds(vid.isEmpty() ? kDefaultVid : vid.toStdString(),
                   pid.isEmpty() ? kDefaultPid : pid.toStdString());
}

void TForm1::SaveSettings() {
  if (startup_.settings == nullptr) return;
  velmora::StoredSettings values;
  // The range edits hold loaded or default numbers unless an engineer typed into them: other
  // text leaves the stored ISPSetting as it was.
  const auto start_kb = velmora::StrToInt(ui->lbledISPStart->text().toStdString());
  const auto size_kb = velmora::StrToInt(ui->lbledISPRange->text().toStdString());
  if (start_kb && size_kb) {
    velmora::IspSetting setting;
    const auto boxes = IspStepBoxes();
    for (std::size_t bit = 0; bit < boxes.size(); ++bit)
      setting.steps[bit] = boxes[bit]->isChecked();
    setting.range_all = ui->rbnRange0->isChecked();
    setting.start_kb = *start_kb;
    setting.size_kb = *size_kb;
    values.isp_setting = velmora::EncodeIspSetting(setting);
  }
  values.isp_file_name = velmora::SettingBytes(ui->cbxReadISPFile->currentText());
  values.usb_vid = velmora::SettingBytes(QString::fromStdString(presence_.VidText()));
  values.usb_pid = velmora::SettingBytes(QString::fromStdString(presence_.PidText()));
  startup_.settings->Save(values);  // a store that cannot be written saves nothing, silently
}

void TForm1::FormClose() {
  if (usb_.IsFound()) usb_.Close();
  SaveSettings();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // Closing would close the link under the running operation: the window stays until it ends.
  const DeviceClaim claim = ClaimDevice(/*with_lock=*/false);
  if (!claim) {
    event->ignore();
    return;
  }
  Guard([this] { FormClose(); });
  event->accept();
}

void TForm1::ShowIspSetting(const velmora::IspSetting& setting) {
  const auto boxes = IspStepBoxes();
  for (std::size_t bit = 0; bit < boxes.size(); ++bit) boxes[bit]->setChecked(setting.steps[bit]);
  (setting.range_all ? ui->rbnRange0 : ui->rbnRange1)->setChecked(true);
  ui->lbledISPRange->setText(QString::number(setting.size_kb));
  ui->lbledISPStart->setText(QString::number(setting.start_kb));
}

std::array<QCheckBox*, velmora::kIspStepCount> TForm1::IspStepBoxes() const {
  // In the order of their bits in ISPSetting.
  return {ui->chkISPMode, ui->chkProtect, ui->chkReadFile, ui->chkErase,
          ui->chkBlank,   ui->chkProgram, ui->chkVerify};
}
