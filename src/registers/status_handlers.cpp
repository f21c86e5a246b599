// The "Update" button of the Information tab: read the chip's status registers and show whether
// its USB audio side is connected, playing or muted, and the input format and rate.
#include <QLabel>

#include "device_status.h"
#include "tform1.h"
#include "ui_tform1.h"

namespace {

void ShowText(QLabel* label, const std::optional<std::string>& text) {
  if (text) label->setText(QString::fromStdString(*text));
}

}  // namespace

void TForm1::btnUpdateStatusClick() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  // The requests go out whether or not a device was found; failed reads keep the last update's
  // bytes, which are then shown again.
  velmora::ChipLink link{usb_, sleeper_};
  velmora::ReadDeviceStatus(link, DeviceStatus);

  const velmora::StatusDisplay shown = velmora::DescribeStatus(DeviceStatus);
  ui->lblConnect->setText(QString::fromStdString(shown.connect));
  ui->lblMute->setEnabled(shown.mute_enabled);
  ShowText(ui->lblMute, shown.mute);
  for (QLabel* label :
       {ui->lblCurrentFormat0, ui->lblCurrentFormat1, ui->lblCurrentFreq0, ui->lblCurrentFreq1}) {
    label->setEnabled(shown.format_enabled);
  }
  ShowText(ui->lblCurrentFormat1, shown.format);
  ShowText(ui->lblCurrentFreq1, shown.rate);
}
