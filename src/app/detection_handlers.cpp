// Device detection on the panel above the pages: the "Detect Device" switch, the two id boxes
// and the timer tick that keeps the device link's found flag current.
#include <QCheckBox>
#include <QColor>
#include <QPalette>

#include "key_codes.h"
#include "labeled_edit.h"
#include "tform1.h"
#include "ui_tform1.h"

void TForm1::WireDetection() {
  // A program change of the tick runs the handler exactly as a click does.
  Wire(ui->chkDetectUSB, &QCheckBox::toggled, [this] { chkDetectUSBClick(); });
  const auto key_down = [this](QWidget* sender, int key, Qt::KeyboardModifiers shift) {
    lbledtVIDPIDKeyDown(sender, key, shift);
  };
  WireKeyDown(ui->lbledtVID, key_down);
  WireKeyDown(ui->lbledtPID, key_down);
  Wire(Timer1, &QTimer::timeout, [this] { Timer1Timer(); });
}

void TForm1::chkDetectUSBClick() {
  const bool on = ui->chkDetectUSB->isChecked();
  ui->lbledtVID->setEnabled(!on);
  ui->lbledtPID->setEnabled(!on);
  if (on) {
    presence_.SwitchOn(ui->lbledtVID->text().toStdString(), ui->lbledtPID->text().toStdString());
  } else {
    presence_.SwitchOff();
    ShowIndicator(velmora::IndicatorColour::Grey);
  }
}

void TForm1::lbledtVIDPIDKeyDown(QWidget* sender, int key, Qt::KeyboardModifiers) {
  if (key != velmora::kVkReturn) return;
  if (sender == ui->lbledtVID) presence_.TakeVid(ui->lbledtVID->text().toStdString());
  if (sender == ui->lbledtPID) presence_.TakePid(ui->lbledtPID->text().toStdString());
}

void TForm1::Timer1Timer() {
  // The search would close a held link when detection is off: it waits for the operation.
  if (DeviceBusy()) return;
  const velmora::TickOutcome outcome = presence_.Tick(AutoBusy);
  // A timer restarts when its interval is set: only a change is passed on.
  if (outcome.interval_ms && Timer1->interval() != static_cast<int>(*outcome.interval_ms)) {
    Timer1->setInterval(static_cast<int>(*outcome.interval_ms));
  }
  if (!outcome.display) return;
  ShowIndicator(outcome.display->colour);
  ui->lblDetectDevice->setText(QString::fromStdString(outcome.display->label));
}

void TForm1::ShowIndicator(velmora::IndicatorColour colour) {
  QColor fill;
  switch (colour) {
    case velmora::IndicatorColour::Grey:
      fill = QColor(128, 128, 128);
      break;
    case velmora::IndicatorColour::Lime:
      fill = QColor(0, 255, 0);
      break;
    case velmora::IndicatorColour::ButtonFace:
      fill = palette().color(QPalette::Button);
      break;
  }
  QPalette palette = ui->pnlUSBExist->palette();
  palette.setColor(QPalette::Window, fill);
  ui->pnlUSBExist->setPalette(palette);
}
