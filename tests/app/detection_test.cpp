// Device detection in the window against the virtual chip: the "Detect Device" switch, the id
// boxes, Timer1's ticks, the indicator panel and the label.
#include <QCheckBox>
#include <QLabel>
#include <QPalette>
#include <QTest>

#include "form_fixture.h"
#include "labeled_edit.h"

namespace velmora::test {
namespace {

using Kind = sim::TranscriptEvent::Kind;

class DetectionTest : public FormTest {
 protected:
  QColor Indicator() const { return ui.pnlUSBExist->palette().color(QPalette::Window); }
  QColor ButtonFace() const { return form.palette().color(QPalette::Button); }
  QString Label() const { return ui.lblDetectDevice->text(); }
  // One expiry of Timer1, delivered through its timeout signal like a real one.
  void Tick() { ASSERT_TRUE(QMetaObject::invokeMethod(form.Timer1, "timeout")); }
};

TEST_F(DetectionTest, CreationSwitchesDetectionOnAndDisablesTheIdBoxes) {
  EXPECT_TRUE(ui.chkDetectUSB->isChecked());
  EXPECT_TRUE(form.Presence().IsOn());
  EXPECT_FALSE(ui.lbledtVID->isEnabled());
  EXPECT_FALSE(ui.lbledtPID->isEnabled());
  EXPECT_EQ(form.Presence().UserMatchText(), "vid_6ccf&pid_6012");
  EXPECT_TRUE(form.Timer1->isActive());
  EXPECT_EQ(form.Timer1->interval(), 1000);
}

TEST_F(DetectionTest, NothingAttachedKeepsSearchingEvery300MsInButtonFace) {
  const char* expected[] = {"vid_6ccf&pid_6012", "vid_6ccf&pid_6000", "vid_6ccf&pid_6012",
                            "vid_1d7a&pid_6000"};
  for (const char* match_text : expected) {
    Tick();
    EXPECT_EQ(usb.MatchText(), match_text);
    EXPECT_EQ(Label(), "No device is available");
    EXPECT_EQ(Indicator(), ButtonFace());
  }
  EXPECT_EQ(form.Timer1->interval(), 300);
}

TEST_F(DetectionTest, UserDeviceIsAnnouncedWithALimePanel) {
  chip.PlugInto(platform);
  Tick();
  EXPECT_EQ(Label(), "Device 6012 is exist");
  EXPECT_EQ(Indicator(), QColor(0, 255, 0));
  EXPECT_TRUE(usb.IsFound());
  EXPECT_EQ(usb.DevicePath(), sim::kAudioPath);
}

TEST_F(DetectionTest, LoaderIsAnnouncedAndTheIntervalReturnsTo1000Ms) {
  chip.PlugInto(platform, sim::kLoaderPath6ccf);
  Tick();  // the user's device: nothing
  Tick();  // the 6CCF loader
  EXPECT_EQ(Label(), "Firmware update device 6CCF is exist");
  EXPECT_EQ(Indicator(), QColor(0, 255, 0));
  EXPECT_EQ(form.Timer1->interval(), 300);
  Tick();
  EXPECT_EQ(form.Timer1->interval(), 1000);
  EXPECT_EQ(Label(), "Firmware update device 6CCF is exist");
}

TEST_F(DetectionTest, UnplugIsSeenWithinOneSecondTick) {
  chip.PlugInto(platform);
  Tick();
  ASSERT_EQ(Label(), "Device 6012 is exist");
  Tick();
  ASSERT_EQ(form.Timer1->interval(), 1000);
  chip.Unplug();
  Tick();
  EXPECT_EQ(Label(), "No device is available");
  EXPECT_EQ(Indicator(), ButtonFace());
  EXPECT_FALSE(usb.IsFound());
}

TEST_F(DetectionTest, NothingChangesWhileTheAutomaticSequenceRuns) {
  chip.PlugInto(platform);
  Tick();
  form.AutoBusy = true;
  chip.Unplug();
  transcript.Clear();
  Tick();
  Tick();
  EXPECT_EQ(Label(), "Device 6012 is exist");
  EXPECT_EQ(Indicator(), QColor(0, 255, 0));
  EXPECT_EQ(transcript.Count(Kind::Enumerate), 0u);
  form.AutoBusy = false;
  Tick();
  EXPECT_EQ(Label(), "No device is available");
}

TEST_F(DetectionTest, UntickingTurnsThePanelGreyKeepsTheLabelAndFreesTheBoxes) {
  chip.PlugInto(platform);
  Tick();
  ui.chkDetectUSB->click();
  EXPECT_FALSE(form.Presence().IsOn());
  EXPECT_EQ(Indicator(), QColor(128, 128, 128));
  EXPECT_EQ(Label(), "Device 6012 is exist");
  EXPECT_FALSE(usb.IsFound());
  EXPECT_TRUE(ui.lbledtVID->isEnabled());
  EXPECT_TRUE(ui.lbledtPID->isEnabled());

  transcript.Clear();
  Tick();  // detection off: no search, display frozen
  EXPECT_EQ(transcript.Count(Kind::Enumerate), 0u);
  EXPECT_EQ(Indicator(), QColor(128, 128, 128));
}

TEST_F(DetectionTest, UpperCaseVidIsSearchedAsLowerCaseAndKeptAsTyped) {
  chip.PlugInto(platform);
  ui.chkDetectUSB->click();
  ui.lbledtVID->setText("6CCF");
  ui.lbledtPID->setText("6012");  // start-up leaves 6013 in the box
  ui.chkDetectUSB->click();
  EXPECT_EQ(form.Presence().UserMatchText(), "vid_6ccf&pid_6012");
  EXPECT_EQ(form.Presence().VidText(), "6CCF");
  EXPECT_EQ(ui.lbledtVID->text(), "6CCF");
  Tick();
  EXPECT_EQ(Label(), "Device 6012 is exist");
}

TEST_F(DetectionTest, EnterTakesTheTypedIdWithoutLoweringAndOtherKeysDoNothing) {
  ui.chkDetectUSB->click();
  ui.lbledtVID->setText("6CCF");
  ui.lbledtPID->setText("6013");
  QTest::keyClick(ui.lbledtVID, Qt::Key_Tab);
  EXPECT_EQ(form.Presence().VidText(), "6ccf");
  QTest::keyClick(ui.lbledtVID, Qt::Key_Return);
  EXPECT_EQ(form.Presence().VidText(), "6CCF");
  EXPECT_EQ(form.Presence().PidText(), "6012");  // the other box was not taken
  EXPECT_EQ(form.Presence().UserMatchText(), "vid_6CCF&pid_6012");
  QTest::keyClick(ui.lbledtPID, Qt::Key_Return);
  EXPECT_EQ(form.Presence().UserMatchText(), "vid_6CCF&pid_6013");

  // Switching on again rebuilds it in lower case from the boxes.
  ui.chkDetectUSB->click();
  EXPECT_EQ(form.Presence().UserMatchText(), "vid_6ccf&pid_6013");
}

TEST_F(DetectionTest, SwitchingBackOnResumesFromTheLinksCurrentSearch) {
  chip.PlugInto(platform, sim::kLoaderPath1d7a);
  for (int i = 0; i < 2; ++i) Tick();  // user's device, 6CCF loader
  ui.chkDetectUSB->click();
  ui.lbledtPID->setText("6012");  // start-up leaves 6013 in the box
  ui.chkDetectUSB->click();
  Tick();  // generic was in use: the user's device next
  EXPECT_EQ(usb.MatchText(), "vid_6ccf&pid_6012");
  Tick();
  EXPECT_EQ(Label(), "Firmware update device 1D7A is exist");
}

}  // namespace
}  // namespace velmora::test
