// Device detection as the user meets it: the "Detect Device" switch, the id boxes, Timer1's ticks,
// the indicator panel and the label, over the virtual chip.
#include <QLabel>
#include <QTest>

#include "form_fixture.h"
#include "labeled_edit.h"

namespace velmora::test {
namespace {

using Kind = sim::TranscriptEvent::Kind;

struct Detection : FormRig {
  Detection() { form.Timer1->stop(); }  // ticks are given by the test
  // The label and the panel's colour: lime, grey, or the button face while searching.
  std::string Shown() const {
    const QColor panel = form.ui->pnlUSBExist->palette().color(QPalette::Window);
    const char* colour = panel == QColor(0, 255, 0)                        ? "lime"
                         : panel == QColor(128, 128, 128)                  ? "grey"
                         : panel == form.palette().color(QPalette::Button) ? "face"
                                                                           : "?";
    return form.ui->lblDetectDevice->text().toStdString() + ", " + colour;
  }
  void Tick() { ASSERT_TRUE(QMetaObject::invokeMethod(form.Timer1, "timeout")); }
  void Enter(LabeledEdit* box, const QString& text) {
    box->setText(text);
    QTest::keyClick(box, Qt::Key_Return);
  }
  void SwitchOnWith(const QString& vid, const QString& pid) {
    if (form.ui->chkDetectUSB->isChecked()) form.ui->chkDetectUSB->click();
    form.ui->lbledtVID->setText(vid);
    form.ui->lbledtPID->setText(pid);
    form.ui->chkDetectUSB->click();
  }
};

TEST(DetectionTest, NothingAttachedAlternatesUserDeviceAndLoadersEvery300Ms) {
  Detection d;
  EXPECT_FALSE(d.form.ui->lbledtVID->isEnabled() || d.form.ui->lbledtPID->isEnabled());
  int tick = 0;  // the first tick keeps the timer's 1000 ms
  for (const char* match_text : {"vid_6ccf&pid_6012", "vid_6ccf&pid_6000", "vid_6ccf&pid_6012",
                                 "vid_1d7a&pid_6000", "vid_6ccf&pid_6012", "vid_6ccf&pid_6000"}) {
    d.Tick();
    EXPECT_EQ(d.usb.MatchText(), match_text) << tick;
    EXPECT_EQ(d.usb.GetBackend(),
              tick % 2 ? VelmoraUsb::kGenericBackend : VelmoraUsb::kPropertyBackend);
    EXPECT_EQ(d.form.Timer1->interval(), tick++ == 0 ? 1000 : 300) << tick;
    EXPECT_EQ(d.Shown(), "No device is available, face");
  }
  EXPECT_EQ(d.transcript.Count(Kind::Enumerate), 6u);
}

TEST(DetectionTest, EachIdentityIsAnnouncedCheckedEverySecondAndItsUnplugSeen) {
  const struct {
    const char* path;
    QString vid, pid;  // typed into the boxes before detection is switched on again
    int ticks;
    const char* label;
    const char* after_unplug;  // the search resumes with the other back-end
  } rows[] = {
      {sim::kAudioPath, "6ccf", "6012", 1, "Device 6012 is exist", "vid_6ccf&pid_6000"},
      {sim::kLoaderPath6ccf, "6ccf", "6012", 2, "Firmware update device 6CCF is exist",
       "vid_6ccf&pid_6012"},
      {sim::kLoaderPath1d7a, "6ccf", "6012", 4, "Firmware update device 1D7A is exist",
       "vid_6ccf&pid_6012"},
      // Searched in lower case, announced as typed; a failing probe still counts as found.
      {"usb:vid_6ccf&pid_60ab:bus1-port2", "6CCF", "60AB", 1, "Device 60AB is exist",
       "vid_6ccf&pid_6000"},
  };
  for (const auto& row : rows) {
    Detection d;
    d.chip.PlugInto(d.platform, row.path);
    d.chip.SetProbeFails(row.pid == "60AB");
    d.SwitchOnWith(row.vid, row.pid);
    EXPECT_EQ(d.form.Presence().VidText(), row.vid.toStdString());
    int ticks = 0;
    for (; !d.usb.IsFound() && ticks < 6; ++ticks) d.Tick();
    EXPECT_EQ(ticks, row.ticks) << row.label;
    EXPECT_EQ(d.Shown(), row.label + std::string(", lime"));
    EXPECT_EQ(d.usb.DevicePath(), row.path);
    d.transcript.Clear();
    d.Tick();  // present: a presence check at 1000 ms, no probe
    EXPECT_EQ(d.form.Timer1->interval(), 1000) << row.label;
    EXPECT_EQ(d.Shown(), row.label + std::string(", lime"));
    EXPECT_EQ(d.transcript.Count(Kind::Probe), 0u) << row.label;
    d.chip.Unplug();
    d.Tick();
    EXPECT_EQ(d.Shown(), "No device is available, face") << row.label;
    d.Tick();
    EXPECT_EQ(d.usb.MatchText(), row.after_unplug) << row.label;
  }
}

TEST(DetectionTest, TicksStandStillWhileTheAutomaticSequenceOrAnOperationRuns) {
  Detection d;
  d.chip.PlugInto(d.platform);
  d.Tick();
  d.chip.Unplug();
  d.transcript.Clear();
  d.form.AutoBusy = true;
  d.Tick();
  d.form.AutoBusy = false;
  if (const auto claim = d.form.ClaimDevice(false)) d.Tick();
  EXPECT_EQ(d.transcript.Count(Kind::Enumerate), 0u);
  EXPECT_EQ(d.Shown(), "Device 6012 is exist, lime");
  d.Tick();
  EXPECT_EQ(d.Shown(), "No device is available, face");
}

TEST(DetectionTest, OffGreysThePanelAndEnterTakesAnIdAsTypedUntilSwitchedOnAgain) {
  Detection d;
  Ui::TForm1& ui = *d.form.ui;
  d.chip.PlugInto(d.platform, sim::kLoaderPath1d7a);
  d.Tick();
  d.Tick();  // the user's device, then the 6CCF loader: nothing yet
  ui.chkDetectUSB->click();
  EXPECT_EQ(d.Shown(), "No device is available, grey");  // the label stays
  EXPECT_TRUE(ui.lbledtVID->isEnabled() && ui.lbledtPID->isEnabled());

  d.Enter(ui.lbledtVID, "6CCF");
  ui.lbledtPID->setText("7001");
  QTest::keyClick(ui.lbledtPID, Qt::Key_Tab);  // only Enter takes an id
  EXPECT_EQ(d.form.Presence().UserMatchText(), "vid_6CCF&pid_6012");
  d.Enter(ui.lbledtPID, QString(19, '1'));  // cut to the 31 characters of its area
  EXPECT_EQ(d.form.Presence().UserMatchText(), "vid_6CCF&pid_" + std::string(18, '1'));
  d.Enter(ui.lbledtPID, "6012");

  // Off, a tick only closes the handle of a device found meanwhile.
  d.usb.SetMatchText("vid_1d7a&pid_6000");
  ASSERT_TRUE(d.usb.FindDevice() && d.usb.Open());
  d.transcript.Clear();
  d.Tick();
  EXPECT_EQ(d.transcript.Count(Kind::Enumerate), 0u);
  EXPECT_EQ(d.transcript.Count(Kind::Close), 1u);
  EXPECT_EQ(d.Shown(), "No device is available, grey");
  d.usb.ClearFound();

  ui.chkDetectUSB->click();  // on: lower case, from the boxes; the search goes on
  EXPECT_EQ(d.form.Presence().UserMatchText(), "vid_6ccf&pid_6012");
  d.Tick();
  EXPECT_EQ(d.usb.MatchText(), "vid_6ccf&pid_6012");
  d.Tick();
  EXPECT_EQ(d.Shown(), "Firmware update device 1D7A is exist, lime");
}

}  // namespace
}  // namespace velmora::test
