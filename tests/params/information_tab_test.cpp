// The Information tab through the window over the virtual chip: the status read-out ("Update"),
// the five HID keys and the two length bars of the special I2C group.
#include "information_tab_fixture.h"

namespace velmora::test {
namespace {

// The status labels: texts and enabled states, in one line for a failure message.
struct StatusLabels {
  QString connect, mute, format, freq;
  bool mute_enabled, format_enabled;
  bool operator==(const StatusLabels&) const = default;
};
void PrintTo(const StatusLabels& l, std::ostream* out) {
  *out << l.connect.toStdString() << " | " << l.mute.toStdString()
       << (l.mute_enabled ? "" : " (grey)") << " | " << l.format.toStdString() << " \""
       << l.freq.toStdString() << '"' << (l.format_enabled ? "" : " (grey)");
}

class StatusReadOutTest : public InformationTabTest {
 protected:
  StatusLabels Labels() const {
    // The four format and rate labels are enabled and disabled together.
    const bool format_enabled = ui.lblCurrentFormat1->isEnabled();
    EXPECT_EQ(ui.lblCurrentFormat0->isEnabled(), format_enabled);
    EXPECT_EQ(ui.lblCurrentFreq0->isEnabled(), format_enabled);
    EXPECT_EQ(ui.lblCurrentFreq1->isEnabled(), format_enabled);
    EXPECT_EQ(ui.lblCurrentFormat0->text(), "Input Format:");
    EXPECT_EQ(ui.lblCurrentFreq0->text(), "Input Freq:  ");
    return {ui.lblConnect->text(),      ui.lblMute->text(),      ui.lblCurrentFormat1->text(),
            ui.lblCurrentFreq1->text(), ui.lblMute->isEnabled(), format_enabled};
  }
};

TEST_F(StatusReadOutTest, EachUpdateShowsTheChipsStatusAndGreyedLabelsKeepTheirTexts) {
  Attach();
  // The I2C Access page leaves the I2C engine's bank selected; the update selects bank 0x00.
  ui.MainPageControl->setCurrentWidget(ui.PageMI2CCtrl);
  ui.MainPageControl->setCurrentWidget(ui.Information);
  const struct {
    std::uint8_t rate_code, flags;
    StatusLabels shown;
  } steps[] = {
      {0x05, 0x01, {"USB connected", "Playing", "PCM", "  192KHz", true, true}},
      {0x09, 0x03, {"USB connected", "Playing", "DSD", " DSD 128", true, true}},
      {0x02, 0x03, {"USB connected", "Playing", "DSD", " DoP 256", true, true}},
      {0x0C, 0x01, {"USB connected", "Playing", "PCM", "        ", true, true}},
      {0x05, 0x05, {"USB connected", "Mute", "PCM", "        ", true, false}},
      {0x05, 0x00, {"USB Disconnected", "Mute", "PCM", "        ", false, false}},
  };
  for (const auto& step : steps) {
    chip.Registers().SetStatus(step.rate_code, 0x5A, step.flags);
    Click(ui.btnUpdateStatus);
    EXPECT_EQ(Labels(), step.shown) << std::hex << "flags " << int{step.flags};
  }
  EXPECT_EQ(form.DeviceStatus, (DeviceStatus{0x05, 0x5A, 0x00}));
}

TEST_F(StatusReadOutTest, WithoutADeviceTheUpdateShowsTheLastBytesRead) {
  Click(ui.btnUpdateStatus);  // nothing read yet: flags 0
  EXPECT_EQ(Labels(),
            (StatusLabels{"USB Disconnected", "Unmute", "PCM", "176.4KHz", false, false}));

  Attach();
  chip.Registers().SetStatus(0x1A, 0x00, 0x03);
  Click(ui.btnUpdateStatus);
  const StatusLabels playing{"USB connected", "Playing", "DSD", " DSD 256", true, true};
  EXPECT_EQ(Labels(), playing);

  chip.Registers().SetStatus(0x00, 0x00, 0x00);
  chip.Unplug();
  Click(ui.btnUpdateStatus);
  EXPECT_EQ(Labels(), playing);
  EXPECT_EQ(dialogs.errors, QStringList{});
}

TEST_F(InformationTabTest, EachHidButtonHandsItsKeyToTheFirmwareThroughTheMailboxRegisters) {
  Attach();
  const std::vector<std::uint8_t> codes = {0x40, 0x02, 0x10, 0x01, 0x20};
  for (int i = 0; i < 5; ++i) Click(form.FindFamilyMember<QPushButton>("btnHID", i));
  EXPECT_EQ(chip.Registers().hid_keys_sent(), codes);

  // "HID Vol +" on a chip that has answered by the first poll: one 10 ms wait.
  transcript.Clear();
  Click(ui.btnHID3);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"open", "W00=00", "W91=01", "W90=30", "p10", "R90",
                                               "close"}));
  EXPECT_EQ(chip.Registers().Peek(0x00, 0x90), 0x31);  // not written back to 0
}

TEST_F(InformationTabTest, AnHidKeyWithoutAnAnswerEndsQuietlyAfterTenPolls) {
  Attach();
  chip.Registers().SetHidNeverAnswers(true);
  Click(ui.btnHID0);
  EXPECT_EQ(transcript.TotalPauseMs(), 100u);
  EXPECT_EQ(transcript.Count(Kind::Transfer), 13u);  // three writes, ten reads
  EXPECT_EQ(usb.Handle(), kNoHandle);

  // No device: the same ten polls, on requests that fail.
  chip.Unplug();
  transcript.Clear();
  Click(ui.btnHID4);
  EXPECT_EQ(transcript.TotalPauseMs(), 100u);
  EXPECT_EQ(dialogs.errors, QStringList{});
}

TEST_F(InformationTabTest, ALengthBarShowsItsPositionAndEnablesThatManyFieldsOfItsRow) {
  const struct {
    QScrollBar* bar;
    QLabel* caption;
    const char* row;
  } bars[] = {{ui.srblen0, ui.lbllencmd, "edtI2Ccmd"}, {ui.srblen1, ui.lbllendat, "edtI2Cdat"}};
  for (const auto& b : bars) {
    for (int position : {3, 1, 5}) {
      b.bar->setValue(position);
      EXPECT_EQ(b.caption->text(), QString::number(position)) << b.row;
      for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Field(b.row, i)->isEnabled(), i < position) << b.row << i;
    }
  }
  // Each bar governs its own row only.
  ui.srblen1->setValue(2);
  EXPECT_EQ(ui.lbllencmd->text(), "5");
  EXPECT_TRUE(Field("edtI2Ccmd", 4)->isEnabled());
}

}  // namespace
}  // namespace velmora::test
