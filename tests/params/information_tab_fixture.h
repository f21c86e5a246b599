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
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "hooked_event_pump.h"
#include "i2c_bus.h"
#include "i2c_slave.h"
#include "scripted_dialogs.h"
#include "tform1.h"
#include "transcript.h"
#include "ui_tform1.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

// Failure messages show texts rather than bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace velmora::test {

using Kind = sim::TranscriptEvent::Kind;
using sim::I2cBusEvent;

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
    bus().ClearEvents();
  }

  void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  QLineEdit* Field(const char* prefix, int i) const {
    return form.FindFamilyMember<QLineEdit>(prefix, i);
  }
  // Sets the first texts.size() fields of a row ("edtI2Ccmd" or "edtI2Cdat").
  void SetFields(const char* prefix, const std::vector<QString>& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i)
      Field(prefix, static_cast<int>(i))->setText(texts[i]);
  }
  QStringList FieldTexts(const char* prefix) const {
    QStringList texts;
    for (int i = 0; i < 5; ++i) texts << Field(prefix, i)->text();
    return texts;
  }

  sim::I2cBus& bus() { return chip.Registers().i2c_bus(); }
  sim::I2cSlave& slave() { return chip.Registers().default_slave(); }

  // The transcript in short words: "open", "close", "p10" (a pause), "W91=01" (register write),
  // "R90" (register read).
  std::vector<std::string> Trace() const {
    std::vector<std::string> out;
    char word[16];
    for (const auto& e : transcript.Events()) {
      if (e.kind == Kind::Open) out.push_back("open");
      if (e.kind == Kind::Close) out.push_back("close");
      if (e.kind == Kind::Pause) out.push_back("p" + std::to_string(e.ms));
      if (e.kind != Kind::Transfer) continue;
      if (e.setup.request == 0x90) {
        std::snprintf(word, sizeof word, "W%02X=%02X", e.setup.index, e.data.at(0));
      } else {
        std::snprintf(word, sizeof word, "R%02X", e.setup.index);
      }
      out.push_back(word);
    }
    return out;
  }
  bool NothingSent() const { return transcript.Count(Kind::Transfer) == 0; }

  sim::Transcript transcript;
  sim::VirtualClock clock{&transcript};
  sim::VirtualUsbPlatform platform{&transcript};
  VelmoraUsb usb{platform};
  sim::VirtualChip chip{clock};
  ScriptedDialogs dialogs;
  HookedEventPump pump;
  TForm1 form{usb, clock, dialogs, pump};
  Ui::TForm1& ui = *form.ui;
};

}  // namespace velmora::test
