// The Information tab through the window over the virtual chip: the status read-out ("Update"),
// the five HID keys and the two length bars of the special I2C group.
#include "information_tab_fixture.h"

namespace velmora::test {
namespace {

using Kind = sim::TranscriptEvent::Kind;

class StatusReadOutTest : public InformationTabTest {
 protected:
  // The status labels' texts, "(grey)" after a disabled one. The captions "Input Format:" and
  // "Input Freq:  " are enabled and disabled with the format label.
  QStringList Labels() const {
    EXPECT_EQ(ui.lblCurrentFormat0->isEnabled(), ui.lblCurrentFormat1->isEnabled());
    EXPECT_EQ(ui.lblCurrentFreq0->isEnabled(), ui.lblCurrentFormat1->isEnabled());
    QStringList texts;
    for (const QLabel* label :
         {ui.lblConnect, ui.lblMute, ui.lblCurrentFormat1, ui.lblCurrentFreq1}) {
      texts << label->text() + (label->isEnabled() ? "" : "(grey)");
    }
    return texts;
  }
};

TEST_F(StatusReadOutTest, EachUpdateShowsTheChipsStatusAndGreyedLabelsKeepTheirTexts) {
  Click(ui.btnUpdateStatus);  // no device, nothing read yet: flags 0
  EXPECT_EQ(Labels(),
            (QStringList{"USB Disconnected", "Unmute(grey)", "PCM(grey)", "176.4KHz(grey)"}));

  Attach();
  // The I2C Access page leaves the I2C engine's bank selected; the update selects bank 0x00.
  ui.MainPageControl->setCurrentWidget(ui.PageMI2CCtrl);
  ui.MainPageControl->setCurrentWidget(ui.Information);
  const struct {
    std::uint8_t rate_code, flags;
    QStringList shown;
  } steps[] = {
      {0x1A, 0x03, {"USB connected", "Playing", "DSD", " DSD 256"}},
      {0x05, 0x05, {"USB connected", "Mute", "DSD(grey)", " DSD 256(grey)"}},
      {0x05, 0x00, {"USB Disconnected", "Mute(grey)", "DSD(grey)", " DSD 256(grey)"}},
      {0x05, 0x01, {"USB connected", "Playing", "PCM", "  192KHz"}},
  };
  for (const auto& step : steps) {
    chip.Registers().SetStatus(step.rate_code, 0x5A, step.flags);
    Click(ui.btnUpdateStatus);
    EXPECT_EQ(Labels(), step.shown) << std::hex << "flags " << int{step.flags};
  }
  EXPECT_EQ(form.DeviceStatus, (DeviceStatus{0x05, 0x5A, 0x01}));

  // Reads that fail keep the last update's bytes, shown again.
  chip.Registers().SetStatus(0x00, 0x00, 0x00);
  chip.Unplug();
  Click(ui.btnUpdateStatus);
  EXPECT_EQ(Labels(), steps[3].shown);
}

TEST_F(InformationTabTest, HidButtonsHandTheirKeysToTheFirmwareAndWaitForItsAnswer) {
  Attach();
  // The firmware takes a key only in bank 0x00, with the code in 0x91 before 0x30 goes to 0x90.
  ui.MainPageControl->setCurrentWidget(ui.PageMI2CCtrl);
  ui.MainPageControl->setCurrentWidget(ui.Information);
  for (int i = 0; i < 5; ++i) Click(form.FindFamilyMember<QPushButton>("btnHID", i));
  EXPECT_EQ(chip.Registers().hid_keys_sent(),
            (std::vector<std::uint8_t>{0x40, 0x02, 0x10, 0x01, 0x20}));

  // The chip has answered by the first poll: one 10 ms wait, and 0x90 is not written back.
  transcript.Clear();
  Click(ui.btnHID3);
  EXPECT_EQ(transcript.TotalPauseMs(), 10u);
  EXPECT_EQ(transcript.Count(Kind::Transfer), 4u);
  EXPECT_EQ(chip.Registers().Peek(0x00, 0x90), 0x31);

  // A chip that never answers: ten polls, then the handler ends quietly with the link closed.
  chip.Registers().SetHidNeverAnswers(true);
  transcript.Clear();
  Click(ui.btnHID0);
  EXPECT_EQ(transcript.TotalPauseMs(), 100u);
  EXPECT_EQ(transcript.Count(Kind::Transfer), 13u);
  EXPECT_EQ(usb.Handle(), kNoHandle);
  EXPECT_EQ(dialogs.errors, QStringList{});
}

TEST_F(InformationTabTest, ALengthBarShowsItsPositionAndEnablesThatManyFieldsOfItsRow) {
  for (auto [bar, caption, row] : {std::tuple{ui.srblen0, ui.lbllencmd, "edtI2Ccmd"},
                                   std::tuple{ui.srblen1, ui.lbllendat, "edtI2Cdat"}}) {
    for (int position : {3, 1, 5}) {
      bar->setValue(position);
      EXPECT_EQ(caption->text(), QString::number(position)) << row;
      for (int i = 0; i < 5; ++i) EXPECT_EQ(Field(row, i)->isEnabled(), i < position) << row << i;
    }
  }
  ui.srblen1->setValue(2);  // each bar governs its own row only
  EXPECT_EQ(ui.lbllencmd->text(), "5");
  EXPECT_TRUE(Field("edtI2Ccmd", 4)->isEnabled());

  // A click in the trough steps the bar by one toward the click.
  const QPoint right(ui.srblen1->width() - 20, ui.srblen1->height() / 2);
  for (int expected : {3, 4}) {
    QTest::mouseClick(ui.srblen1, Qt::LeftButton, {}, right);
    EXPECT_EQ(ui.srblen1->value(), expected);
  }
  QTest::mouseClick(ui.srblen1, Qt::LeftButton, {}, QPoint(20, ui.srblen1->height() / 2));
  EXPECT_EQ(ui.lbllendat->text(), "3");
}

}  // namespace
}  // namespace velmora::test
