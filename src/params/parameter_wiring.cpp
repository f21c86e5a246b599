// Connects the Parameter page's controls to their handlers, each through the window's guard.
// Option controls answer clicks only: ShowParameterBlock sets their states without running them.
#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>

#include "labeled_edit.h"
#include "parameter_block.h"
#include "tform1.h"
#include "ui_tform1.h"

void TForm1::WireParameter() {
  const auto click = [this](QAbstractButton* button, void (TForm1::*handler)()) {
    Wire(button, &QAbstractButton::clicked, [this, handler] { (this->*handler)(); });
  };
  click(ui->btnSetPara, &TForm1::btnSetParaClick);
  click(ui->btnReadPara, &TForm1::btnReadParaClick);
  // Both buttons of a pair share one handler.
  click(ui->rbnI2Slen0, &TForm1::rbnI2SlenClick);
  click(ui->rbnI2Slen1, &TForm1::rbnI2SlenClick);
  click(ui->rbnSPDIFlen0, &TForm1::rbnSPDIFlenClick);
  click(ui->rbnSPDIFlen1, &TForm1::rbnSPDIFlenClick);
  click(ui->rbnI2SFormat0, &TForm1::rbnI2SFormatClick);
  click(ui->rbnI2SFormat1, &TForm1::rbnI2SFormatClick);
  click(ui->rbnDSDOut0, &TForm1::rbnDSDOutClick);
  click(ui->rbnDSDOut1, &TForm1::rbnDSDOutClick);
  click(ui->chkI2SLRSwap, &TForm1::chkI2SLRSwapClick);
  click(ui->chkDSDLRSwap, &TForm1::chkDSDLRSwapClick);
  click(ui->chkMCLKOutOff, &TForm1::chkMCLKOutOffClick);
  click(ui->chkI2SOutOff, &TForm1::chkI2SOutOffClick);
  click(ui->chkSPDIFOutOff, &TForm1::chkSPDIFOutOffClick);
  for (int index = 0; index < velmora::kMclkFrequencyCount; ++index) {
    auto* button = FindFamilyMember<QRadioButton>("rbnMCLKOutFreq", index);
    Wire(button, &QRadioButton::clicked, [this, button] { rbnMCLKOutFreqClick(button); });
  }

  // An identifier is four characters: the edits take no more.
  ui->lbledSysVID->setMaxLength(static_cast<int>(velmora::kIdentifierFieldSize));
  ui->lbledSysPID->setMaxLength(static_cast<int>(velmora::kIdentifierFieldSize));
  const auto id_key = [this](QWidget* sender, int key, Qt::KeyboardModifiers shift) {
    lbledSysVIDPIDKeyDown(sender, key, shift);
  };
  WireKeyDown(ui->lbledSysVID, id_key);
  WireKeyDown(ui->lbledSysPID, id_key);
  const auto string_key = [this](QWidget* sender, int key, Qt::KeyboardModifiers shift) {
    lbledSysStrKeyDown(sender, key, shift);
  };
  for (QWidget* edit : {ui->lbledSysStr1, ui->lbledSysStr2, ui->lbledSysStr3}) {
    WireKeyDown(edit, string_key);
  }
}
