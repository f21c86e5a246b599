// Device detection as the user meets it: the "Detect Device" switch, the id boxes, Timer1's ticks,
// the indicator panel and the label, over the virtual chip.
#include <QTest>

#include "form_fixture.h"

namespace velmora::test {
namespace {

using Kind = sim::TranscriptEvent::Kind;

struct Detection : FormRig {
  Detection() { form.Timer1->stop(); }  // ticks are given by the test
  void Tick() { ASSERT_TRUE(QMetaObject::invokeMethod(form.Timer1, "timeout")); }
  // The label and the panel's colour: lime, grey, or the button face while searching.
  std::string Shown() const {
    const QColor panel = form.ui->pnlUSBExist->palette().color(QPalette::Window);
    const char* colour = panel == QColor(0, 255, 0)                        ? "lime"
                         : panel == QColor(128, 128, 128)                  ? "grey"
                         : panel == form.palette().color(QPalette::Button) ? "face"
                                                                           : "?";
    return form.ui->lblDetectDevice->text().toStdString() + ", " + colour;
  }
};

TEST(DetectionTest, TicksAlternateTheSearchesAnnounceWhatIsFoundAndStandStillWhenBusyOrOff) {
  // The ids as typed into the boxes: searched in lower case, the PID announced as typed.
  const std::string user = "vid_6ccf&pid_60ab", l6ccf = "vid_6ccf&pid_6000",
                    l1d7a = "vid_1d7a&pid_6000", none = "No device is available, face",
                    found = "Device 60AB is exist, lime";
  const struct {
    std::string act;  // a tick, a device path plugged in, or what the user does
    std::string match_text;
    int interval;
    std::string shown;
    unsigned searches;
  } steps[] = {
      {"tick", user, 1000, none, 1},  // the first tick keeps the timer's 1000 ms
      {"tick", l6ccf, 300, none, 1},
      {"tick", user, 300, none, 1},
      {"tick", l1d7a, 300, none, 1},
      {"usb:vid_6ccf&pid_60ab:bus1-port1", l1d7a, 300, none, 0},
      {"tick", user, 300, found, 1},
      {"tick", user, 1000, found, 1},  // present: checked every second
      {"unplug", user, 1000, found, 0},
      {"tick while Auto runs", user, 1000, found, 0},
      {"tick while the device is claimed", user, 1000, found, 0},
      {"tick", user, 1000, none, 1},
      {"tick", l6ccf, 300, none, 1},  // the other back-end than the one in use
      {sim::kLoaderPath1d7a, l6ccf, 300, none, 0},
      {"tick", user, 300, none, 1},
      {"tick", l1d7a, 300, "Firmware update device 1D7A is exist, lime", 1},
      {"tick", l1d7a, 1000, "Firmware update device 1D7A is exist, lime", 1},
      {"unplug", l1d7a, 1000, "Firmware update device 1D7A is exist, lime", 0},
      {sim::kLoaderPath6ccf, l1d7a, 1000, "Firmware update device 1D7A is exist, lime", 0},
      {"tick", l1d7a, 1000, none, 1},
      {"tick", user, 1000, none, 1},
      {"tick", l6ccf, 300, "Firmware update device 6CCF is exist, lime", 1},
      {"switch off", l6ccf, 300, "Firmware update device 6CCF is exist, grey", 0},  // label kept
      {"tick", l6ccf, 300, "Firmware update device 6CCF is exist, grey", 0},
      {"switch on", l6ccf, 300, "Firmware update device 6CCF is exist, grey", 0},
      {"tick", user, 300, none, 1},  // found was cleared: the search goes on where it was
      {"tick", l1d7a, 300, none, 1},
  };
  Detection d;
  d.form.ui->chkDetectUSB->click();
  d.form.ui->lbledtVID->setText("6CCF");
  d.form.ui->lbledtPID->setText("60AB");
  d.form.ui->chkDetectUSB->click();
  d.chip.SetProbeFails(true);  // found all the same
  for (const auto& step : steps) {
    const std::size_t searched = d.transcript.Count(Kind::Enumerate);
    if (step.act.starts_with("tick")) {
      d.form.AutoBusy = step.act == "tick while Auto runs";
      const auto claim =
          step.act.ends_with("claimed") ? d.form.ClaimDevice(false) : TForm1::DeviceClaim(nullptr);
      d.Tick();
      d.form.AutoBusy = false;
    } else if (step.act.starts_with("switch")) {
      d.form.ui->chkDetectUSB->click();
      EXPECT_EQ(d.form.ui->lbledtPID->isEnabled(), step.act == "switch off");
    } else if (step.act == "unplug") {
      d.chip.Unplug();
    } else {
      d.chip.PlugInto(d.platform, step.act);
    }
    EXPECT_EQ(d.usb.MatchText(), step.match_text) << step.act << " at " << &step - steps;
    EXPECT_EQ(d.form.Timer1->interval(), step.interval) << step.act << " at " << &step - steps;
    EXPECT_EQ(d.Shown(), step.shown) << step.act << " at " << &step - steps;
    EXPECT_EQ(d.transcript.Count(Kind::Enumerate) - searched, step.searches)
        << step.act << " at " << &step - steps;
  }
}

}  // namespace
}  // namespace velmora::test
