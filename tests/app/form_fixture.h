// A TForm1 over the virtual platform and chip, with scripted dialogs and a hooked event pump.
#pragma once

#include <gtest/gtest.h>

#include "hooked_event_pump.h"
#include "scripted_dialogs.h"
#include "test_startup.h"
#include "tform1.h"
#include "transcript.h"
#include "ui_tform1.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

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

}  // namespace velmora::test
