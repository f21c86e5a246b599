// The "Special I2C access" group of the Information tab through the window over the virtual
// chip, asserted on the bus and at the virtual slave's registers.
#include "information_tab_fixture.h"

namespace velmora::test {
namespace {

class SpecialI2cGroupTest : public InformationTabTest {
 protected:
  std::vector<I2cBusEvent> WriteEvents(std::uint8_t address, std::vector<std::uint8_t> bytes) {
    std::vector<I2cBusEvent> events{I2cBusEvent::Start(), I2cBusEvent::Address(address)};
    for (std::uint8_t byte : bytes) events.push_back(I2cBusEvent::Write(byte));
    events.push_back(I2cBusEvent::Stop());
    return events;
  }
};

TEST_F(SpecialI2cGroupTest, WriteSendsTheCommandThenTheDataFieldsTheBarsLetTakePart) {
  Attach();
  Click(ui.btnUpdateStatus);  // leaves bank 0x00 selected, away from the I2C engine
  bus().ClearEvents();
  SetFields("edtI2Ccmd", {"10", "77"});
  SetFields("edtI2Cdat", {"AB", "5", "99"});
  ui.srblen1->setValue(2);
  Click(ui.btnWriteSpecI2C);
  EXPECT_EQ(bus().events(), WriteEvents(0x20, {0x10, 0xAB, 0x50}));
  EXPECT_EQ(slave().reg(0x10), 0xAB);
  EXPECT_EQ(slave().reg(0x11), 0x50);
  EXPECT_EQ(slave().reg(0x12), 0x00);
  EXPECT_EQ(FieldTexts("edtI2Cdat"), (QStringList{"AB", "5", "99", "00", "00"}));
  EXPECT_EQ(usb.Handle(), kNoHandle);
}

TEST_F(SpecialI2cGroupTest, FieldsReadTheirFirstTwoCharactersAsHexDigits) {
  Attach();
  ui.srblen0->setValue(5);
  SetFields("edtI2Ccmd", {"5", "7F", "", "G1", "1234"});
  SetFields("edtI2Cdat", {"a-"});
  Click(ui.btnWriteSpecI2C);
  EXPECT_EQ(bus().events(), WriteEvents(0x20, {0x50, 0x7F, 0x00, 0x01, 0x12, 0xA0}));
  EXPECT_EQ(dialogs.errors, QStringList{});
}

TEST_F(SpecialI2cGroupTest, ReadWritesTheCommandAndFillsOnlyTheDataFieldsTakingPart) {
  Attach();
  for (int r = 0; r < 5; ++r)
    slave().SetReg(static_cast<std::uint8_t>(2 + r), static_cast<std::uint8_t>(0x1C + r));
  ui.srblen0->setValue(2);
  ui.srblen1->setValue(3);
  SetFields("edtI2Ccmd", {"01", "02"});
  SetFields("edtI2Cdat", {"zz", "zz", "zz", "EE", "FF"});
  Click(ui.btnReadSpecI2C);
  // The slave takes the first command byte as its register pointer and stores the second there.
  EXPECT_EQ(bus().events(),
            (std::vector<I2cBusEvent>{I2cBusEvent::Start(), I2cBusEvent::Address(0x20),
                                      I2cBusEvent::Write(0x01), I2cBusEvent::Write(0x02),
                                      I2cBusEvent::Start(), I2cBusEvent::Address(0x21),
                                      I2cBusEvent::Read(0x1C, true), I2cBusEvent::Read(0x1D, true),
                                      I2cBusEvent::Read(0x1E, false), I2cBusEvent::Stop()}));
  EXPECT_EQ(FieldTexts("edtI2Cdat"), (QStringList{"1C", "1D", "1E", "EE", "FF"}));

  // A slave that never answers its address: the fields taking part show that nothing was read.
  slave().SetAcknowledges(false);
  ui.srblen1->setValue(2);
  Click(ui.btnReadSpecI2C);
  EXPECT_EQ(FieldTexts("edtI2Cdat"), (QStringList{"--", "--", "1E", "EE", "FF"}));
}

TEST_F(SpecialI2cGroupTest, EnterInTheAddressEditSetsTheSharedAddressAndTheI2cPagesEdit) {
  Attach();
  sim::I2cSlave& at60 = bus().Attach(0x60);
  // Until Enter the group talks to 0x20, whatever its own edit shows.
  EXPECT_EQ(ui.edtMI2CAddr1->text(), "60");
  Click(ui.btnWriteSpecI2C);
  EXPECT_EQ(bus().events(), WriteEvents(0x20, {0x00, 0x00}));

  const struct {
    const char* typed;
    std::uint8_t address;
    const char* page_edit;
  } cases[] = {{"60", 0x60, "60"}, {"zz", 0x60, "60"}, {"1a0", 0xA0, "A0"}, {"60", 0x60, "60"}};
  for (const auto& c : cases) {
    ui.edtMI2CAddr1->setText(c.typed);
    QTest::keyClick(ui.edtMI2CAddr1, Qt::Key_Return);
    EXPECT_EQ(form.I2cSlaveAddress, c.address) << c.typed;
    EXPECT_EQ(ui.edtMI2CAddr->text(), c.page_edit) << c.typed;
    EXPECT_EQ(ui.edtMI2CAddr1->text(), c.typed);
  }
  EXPECT_EQ(dialogs.errors, QStringList{"'0xzz' is not a valid integer value"});
  ui.edtMI2CAddr1->setText("20");
  QTest::keyClick(ui.edtMI2CAddr1, Qt::Key_Tab);  // only Enter takes the address
  EXPECT_EQ(form.I2cSlaveAddress, 0x60);

  SetFields("edtI2Ccmd", {"33"});
  SetFields("edtI2Cdat", {"C4"});
  bus().ClearEvents();
  Click(ui.btnWriteSpecI2C);
  EXPECT_EQ(bus().events(), WriteEvents(0x60, {0x33, 0xC4}));
  EXPECT_EQ(at60.reg(0x33), 0xC4);
}

TEST_F(SpecialI2cGroupTest, WithoutAFoundDeviceBothButtonsDoNothing) {
  chip.PlugInto(platform);  // plugged in, but no search has found it
  Click(ui.btnWriteSpecI2C);
  Click(ui.btnReadSpecI2C);
  EXPECT_TRUE(NothingSent());
  EXPECT_EQ(FieldTexts("edtI2Cdat")[0], "00");
}

}  // namespace
}  // namespace velmora::test
