// A TForm1 over the virtual platform and chip, with scripted dialogs and a hooked event pump.
// FormTest leaves detection running; PageTest is the base of the page tests, which find the
// device themselves and select their page.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QTabWidget>
#include <ostream>

#include "hooked_event_pump.h"
#include "scripted_dialogs.h"
#include "test_startup.h"
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

class FormTest : public ::testing::Test {
 protected:
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

class PageTest : public FormTest {
 protected:
  PageTest() {
    form.Timer1->stop();  // the device is found by Attach, not by ticks racing the test
    form.show();
  }

  void ShowPage(QWidget* page) { ui.MainPageControl->setCurrentWidget(page); }

  // Plugs the chip in and lets the device link find it, as detection does.
  void Attach() {
    chip.PlugInto(platform);
    usb.SetMatchText("vid_6ccf&pid_6012");
    EXPECT_TRUE(usb.FindDevice());
    transcript.Clear();
  }
};

}  // namespace velmora::test
