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

// The window's test bench: a TForm1 over a virtual platform and chip (not yet plugged in), with
// scripted dialogs and a hooked event pump, every USB call and pause in `transcript`.
struct FormRig {
  explicit FormRig(const FormStartup& startup = AllPagesStartup())
      : form{usb, clock, dialogs, pump, startup} {}

  // Plugs the chip in and lets the device link find it, as detection does; forgets what that
  // sent. Returns whether the link found the device.
  bool PlugAndFind() {
    chip.PlugInto(platform);
    usb.SetMatchText("vid_6ccf&pid_6012");
    const bool found = usb.FindDevice();
    transcript.Clear();
    return found;
  }

  sim::Transcript transcript;
  sim::VirtualClock clock{&transcript};
  sim::VirtualUsbPlatform platform{&transcript};
  VelmoraUsb usb{platform};
  sim::VirtualChip chip{clock};
  ScriptedDialogs dialogs;
  HookedEventPump pump;
  TForm1 form;
};

class FormTest : public ::testing::Test, protected FormRig {
 protected:
  Ui::TForm1& ui = *form.ui;
};

class PageTest : public FormTest {
 protected:
  PageTest() {
    form.Timer1->stop();  // the device is found by Attach, not by ticks racing the test
    form.show();
  }

  void ShowPage(QWidget* page) { ui.MainPageControl->setCurrentWidget(page); }

  void Attach() { EXPECT_TRUE(PlugAndFind()); }
};

}  // namespace velmora::test
