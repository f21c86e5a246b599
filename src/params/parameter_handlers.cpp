// The Parameter page's option bytes: the option controls edit the block in memory, "Set" sends
// it, "Read back" fetches and shows it.
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>

#include "parameter_commands.h"
#include "tform1.h"
#include "ui_tform1.h"

namespace bit = velmora::parameter_bit;

// Each option handler changes only its own bits of the block; nothing is sent.
void TForm1::rbnI2SlenClick() {
  velmora::SetParameterBit(ParameterBlock, bit::kI2sWord32, ui->rbnI2Slen0->isChecked());
}

void TForm1::rbnSPDIFlenClick() {
  velmora::SetParameterBit(ParameterBlock, bit::kSpdifWord32, ui->rbnSPDIFlen0->isChecked());
}

void TForm1::chkI2SLRSwapClick() {
  velmora::SetParameterBit(ParameterBlock, bit::kI2sChannelSwap, ui->chkI2SLRSwap->isChecked());
}

void TForm1::chkDSDLRSwapClick() {
  velmora::SetParameterBit(ParameterBlock, bit::kDsdChannelSwap, ui->chkDSDLRSwap->isChecked());
}

void TForm1::rbnMCLKOutFreqClick(QObject* sender) {
  for (int index = 0; index < velmora::kMclkFrequencyCount; ++index) {
    if (FindFamilyMember<QRadioButton>("rbnMCLKOutFreq", index) == sender) {
      velmora::SetMclkFrequencyIndex(ParameterBlock, index);
      return;
    }
  }
}

void TForm1::rbnI2SFormatClick() {
  velmora::SetParameterBit(ParameterBlock, bit::kI2sLeftJustify, !ui->rbnI2SFormat0->isChecked());
}

void TForm1::rbnDSDOutClick() {
  velmora::SetParameterBit(ParameterBlock, bit::kDsdOutNative, ui->rbnDSDOut0->isChecked());
}

void TForm1::chkMCLKOutOffClick() {
  velmora::SetParameterBit(ParameterBlock, bit::kMclkOutputOff, ui->chkMCLKOutOff->isChecked());
}

void TForm1::chkI2SOutOffClick() {
  velmora::SetParameterBit(ParameterBlock, bit::kI2sOutputOff, ui->chkI2SOutOff->isChecked());
}

void TForm1::chkSPDIFOutOffClick() {
  velmora::SetParameterBit(ParameterBlock, bit::kSpdifOutputOff, ui->chkSPDIFOutOff->isChecked());
}

void TForm1::ShowParameterBlock() {
  const auto on = [this](velmora::ParameterBit which) {
    return velmora::ParameterBitIsSet(ParameterBlock, which);
  };
  ui->lblEepAvail->setText(on(bit::kEepromPresent) ? "EEPROM Exist" : "EEPROM not Available");
  ui->lblEepAvail->adjustSize();  // the label grows with its text, as the design's labels do
  (on(bit::kI2sWord32) ? ui->rbnI2Slen0 : ui->rbnI2Slen1)->setChecked(true);
  (on(bit::kSpdifWord32) ? ui->rbnSPDIFlen0 : ui->rbnSPDIFlen1)->setChecked(true);
  ui->chkI2SLRSwap->setChecked(on(bit::kI2sChannelSwap));
  ui->chkDSDLRSwap->setChecked(on(bit::kDsdChannelSwap));
  (on(bit::kI2sLeftJustify) ? ui->rbnI2SFormat1 : ui->rbnI2SFormat0)->setChecked(true);
  (on(bit::kDsdOutNative) ? ui->rbnDSDOut0 : ui->rbnDSDOut1)->setChecked(true);
  FindFamilyMember<QRadioButton>("rbnMCLKOutFreq", velmora::MclkFrequencyIndex(ParameterBlock))
      ->setChecked(true);
  ui->chkMCLKOutOff->setChecked(on(bit::kMclkOutputOff));
  ui->chkI2SOutOff->setChecked(on(bit::kI2sOutputOff));
  ui->chkSPDIFOutOff->setChecked(on(bit::kSpdifOutputOff));
}

void TForm1::btnSetParaClick() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  velmora::ChipLink link = ParameterLink();
  velmora::WriteParameterBlock(link, ParameterBlock);
}

void TForm1::btnReadParaClick() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  // With no device present the block stays as it was and is shown again.
  velmora::ChipLink link = ParameterLink();
  velmora::ReadParameterBlock(link, ParameterBlock);
  ShowParameterBlock();
}
