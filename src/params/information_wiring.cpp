// Connects the Information tab's controls to their handlers, each through the window's guard so
// that a conversion error ends the handler with its message.
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include "hid_keys.h"
#include "tform1.h"
#include "ui_tform1.h"

void TForm1::WireInformationTab() {
  Wire(ui->btnUpdateStatus, &QPushButton::clicked, [this] { btnUpdateStatusClick(); });
  for (int i = 0; i < static_cast<int>(velmora::HidKeyCode.size()); ++i) {
    auto* button = FindFamilyMember<QPushButton>("btnHID", i);
    Wire(button, &QPushButton::clicked, [this, button] { btnHIDClick(button); });
  }
  Wire(ui->srblen0, &QScrollBar::valueChanged, [this] { srblen0Change(); });
  Wire(ui->srblen1, &QScrollBar::valueChanged, [this] { srblen1Change(); });
  WireKeyDown(ui->edtMI2CAddr1, [this](QWidget* sender, int key, Qt::KeyboardModifiers shift) {
    edtMI2CAddr1KeyDown(sender, key, shift);
  });
  Wire(ui->btnWriteSpecI2C, &QPushButton::clicked, [this] { btnWriteSpecI2CClick(); });
  Wire(ui->btnReadSpecI2C, &QPushButton::clicked, [this] { btnReadSpecI2CClick(); });
}
