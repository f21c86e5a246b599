// The Information tab through the window over the virtual chip: the status read-out, the five
// HID keys, and the special I2C group with its two length bars, asserted at the chip and on the
// I2C bus.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "form_fixture.h"
#include "i2c_bus.h"
#include "i2c_slave.h"

namespace velmora::test {
namespace {

using Kind = sim::TranscriptEvent::Kind;
using sim::I2cBusEvent;

class InformationTabTest : public PageTest {
 protected:
  InformationTabTest() { ShowPage(ui.Information); }
  sim::I2cBus& bus() { return chip.Registers().i2c_bus(); }
  QLineEdit* Field(const char* row, int i) const {
    return form.FindFamilyMember<QLineEdit>(row, i);
  }
  QStringList Texts(const char* row) const {
    QStringList texts;
    for (int i = 0; i < 5; ++i) texts << Field(row, i)->text();
    return texts;
  }
  // The status labels' texts, "(grey)" after a disabled one.
  QStringList Status() const {
    QStringList texts;
    for (const QLabel* label : {ui.lblConnect, ui.lblMute, ui.lblCurrentFormat1, ui.lblCurrentFreq1,
                                ui.lblCurrentFormat0, ui.lblCurrentFreq0})
      texts << label->text() + (label->isEnabled() ? "" : "(grey)");
    return texts;
  }
};

TEST_F(InformationTabTest, UpdateReadsTheStatusInBank0AndGreyedLabelsKeepTheirTexts) {
  Attach();
  ShowPage(ui.PageMI2CCtrl);  // leaves the I2C engine's bank selected
  ShowPage(ui.Information);
  chip.Registers().SetStatus(0x1A, 0x5A, 0x03);
  ui.btnUpdateStatus->click();
  EXPECT_EQ(Status(), (QStringList{"USB connected", "Playing", "DSD", " DSD 256",
                                   "Input Format:", "Input Freq:  "}));
  chip.Registers().SetStatus(0x05, 0x00, 0x05);
  ui.btnUpdateStatus->click();
  EXPECT_EQ(Status(), (QStringList{"USB connected", "Mute", "DSD(grey)", " DSD 256(grey)",
                                   "Input Format:(grey)", "Input Freq:  (grey)"}));
  chip.Unplug();  // reads that fail keep the last update's bytes
  ui.btnUpdateStatus->click();
  EXPECT_EQ(Status()[1], "Mute");
  EXPECT_EQ(form.DeviceStatus, (DeviceStatus{0x05, 0x00, 0x05}));
}

TEST_F(InformationTabTest, HidButtonsHandTheirKeysToTheFirmwareAndPollTenTimesAtMost) {
  Attach();
  for (int i = 0; i < 5; ++i) form.FindFamilyMember<QPushButton>("btnHID", i)->click();
  EXPECT_EQ(chip.Registers().hid_keys_sent(),
            (std::vector<std::uint8_t>{0x40, 0x02, 0x10, 0x01, 0x20}));
  EXPECT_EQ(transcript.TotalPauseMs(), 50u);           // each answered at its first poll
  EXPECT_EQ(chip.Registers().Peek(0x00, 0x90), 0x31);  // not written back

  chip.Registers().SetHidNeverAnswers(true);
  transcript.Clear();
  ui.btnHID0->click();
  EXPECT_EQ(transcript.TotalPauseMs(), 100u);
  EXPECT_EQ(transcript.Count(Kind::Transfer), 13u);  // bank, key, command, ten polls
  EXPECT_EQ(usb.Handle(), kNoHandle);
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
}

TEST_F(InformationTabTest, SpecialI2cSendsTheFieldsTakingPartToTheSharedAddress) {
  // No device found: both buttons do nothing.
  ui.btnWriteSpecI2C->click();
  ui.btnReadSpecI2C->click();
  EXPECT_EQ(transcript.Count(Kind::Transfer), 0u);
  Attach();
  ui.btnUpdateStatus->click();  // leaves bank 0x00 selected, away from the I2C engine
  bus().ClearEvents();

  // Until Enter, 0x20, although the group's edit shows 60. Each field is its first two hex
  // digits, any other character 0.
  ui.srblen0->setValue(5);
  ui.srblen1->setValue(2);
  for (int i = 0; i < 5; ++i)
    Field("edtI2Ccmd", i)->setText(QStringList{"5", "7F", "", "G1", "1234"}[i]);
  Field("edtI2Cdat", 0)->setText("a-");
  ui.btnWriteSpecI2C->click();
  std::vector<I2cBusEvent> sent{I2cBusEvent::Start(), I2cBusEvent::Address(0x20)};
  for (int byte : {0x50, 0x7F, 0x00, 0x01, 0x12, 0xA0, 0x00})
    sent.push_back(I2cBusEvent::Write(byte));
  sent.push_back(I2cBusEvent::Stop());
  EXPECT_EQ(bus().events(), sent);

  ui.edtMI2CAddr1->setText("zz");
  QTest::keyClick(ui.edtMI2CAddr1, Qt::Key_Return);
  EXPECT_EQ(dialogs.errors, QStringList{"'0xzz' is not a valid integer value"});
  ui.edtMI2CAddr1->setText("60");
  QTest::keyClick(ui.edtMI2CAddr1, Qt::Key_Return);
  EXPECT_EQ(ui.edtMI2CAddr->text(), "60");  // the I2C Access page's edit follows
  sim::I2cSlave& at60 = bus().Attach(0x60);
  for (int r = 2; r < 5; ++r) at60.SetReg(r, static_cast<std::uint8_t>(0x1A + r));
  ui.srblen0->setValue(2);
  ui.srblen1->setValue(3);
  Field("edtI2Ccmd", 0)->setText("01");
  Field("edtI2Ccmd", 1)->setText("02");
  for (int i = 0; i < 5; ++i) Field("edtI2Cdat", i)->setText("EE");
  ui.btnReadSpecI2C->click();  // the second command byte is the register pointer
  EXPECT_EQ(Texts("edtI2Cdat"), (QStringList{"1C", "1D", "1E", "EE", "EE"}));
  at60.SetAcknowledges(false);
  ui.btnReadSpecI2C->click();
  EXPECT_EQ(Texts("edtI2Cdat"), (QStringList{"--", "--", "--", "EE", "EE"}));
}

}  // namespace
}  // namespace velmora::test
