// The window over the virtual chip for tests of the Information tab (status read-out, HID keys,
// length bars, special I2C group). The form is built here only; the tab is selected at the start.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <ostream>

#include "hooked_event_pump.h"
#include "i2c_slave.h"
#include "scripted_dialogs.h"
#include "test_startup.h"
#include "tform1.h"
#include "ui_tform1.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

// Failure messages show texts rather than bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace velmora::test {

class InformationTabTest : public ::testing::Test {
 protected:
  InformationTabTest() {
    form.Timer1->stop();  // the device is found by Attach, not by ticks racing the test
    form.show();
    ui.MainPageControl->setCurrentWidget(ui.Information);
  }

  // Plugs the chip in and lets the device link find it, as detection does.
  void Attach() {
    chip.PlugInto(platform);
    usb.SetMatchText("vid_6ccf&pid_6012");
    EXPECT_TRUE(usb.FindDevice());
    transcript.Clear();
  }

  void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  QLineEdit* Field(const char* row, int i) const {
    return form.FindFamilyMember<QLineEdit>(row, i);
  }
  // Sets the first fields of a row ("edtI2Ccmd" or "edtI2Cdat") and reads back all five.
  void SetFields(const char* row, const QStringList& texts) {
    for (int i = 0; i < texts.size(); ++i) Field(row, i)->setText(texts[i]);
  }
  QStringList FieldTexts(const char* row) const {
    QStringList texts;
    for (int i = 0; i < 5; ++i) texts << Field(row, i)->text();
    return texts;
  }

  sim::Transcript transcript;
  sim::VirtualClock clock{&transcript};
  sim::VirtualUsbPlatform platform{&transcript};
  VelmoraUsb usb{platform};
  sim::VirtualChip chip{clock};
  ScriptedDialogs dialogs;
  HookedEventPump pump;
  TForm1 form{usb, clock, dialogs, pump, AllPagesStartup()};
  Ui::TForm1& ui = *form.ui;
};

}  // namespace velmora::test
