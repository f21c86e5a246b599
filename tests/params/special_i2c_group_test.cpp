// The "Special I2C access" group of the Information tab through the window over the virtual
// chip, asserted on the bus and at the virtual slaves' registers.
#include "i2c_bus.h"
#include "information_tab_fixture.h"

namespace velmora::test {
namespace {

using sim::I2cBusEvent;

class SpecialI2cGroupTest : public InformationTabTest {
 protected:
  sim::I2cBus& bus() { return chip.Registers().i2c_bus(); }
  sim::I2cSlave& slave() { return chip.Registers().default_slave(); }
  // Start, the address, the bytes written, stop.
  static std::vector<I2cBusEvent> Written(std::uint8_t address, std::vector<std::uint8_t> bytes) {
    std::vector<I2cBusEvent> events{I2cBusEvent::Start(), I2cBusEvent::Address(address)};
    for (std::uint8_t byte : bytes) events.push_back(I2cBusEvent::Write(byte));
    events.push_back(I2cBusEvent::Stop());
    return events;
  }
};

TEST_F(SpecialI2cGroupTest, WriteSendsTheFieldsTakingPartEachReadAsItsFirstTwoHexDigits) {
  Attach();
  Click(ui.btnUpdateStatus);  // leaves bank 0x00 selected, away from the I2C engine
  const struct {
    int command_len, data_len;
    QStringList command, data;
    std::vector<std::uint8_t> sent;
  } cases[] = {
      {1, 2, {"10", "77"}, {"AB", "5", "99"}, {0x10, 0xAB, 0x50}},
      {5, 1, {"5", "7F", "", "G1", "1234"}, {"a-"}, {0x50, 0x7F, 0x00, 0x01, 0x12, 0xA0}},
  };
  for (const auto& c : cases) {
    ui.srblen0->setValue(c.command_len);
    ui.srblen1->setValue(c.data_len);
    SetFields("edtI2Ccmd", c.command);
    SetFields("edtI2Cdat", c.data);
    bus().ClearEvents();
    Click(ui.btnWriteSpecI2C);
    EXPECT_EQ(bus().events(), Written(0x20, c.sent)) << c.command.join(' ').toStdString();
  }
  // The slave took the first byte as its register pointer and stored the rest from there on.
  EXPECT_EQ(slave().reg(0x50), 0x7F);
  EXPECT_EQ(slave().reg(0x54), 0xA0);
  EXPECT_EQ(slave().reg(0x10), 0xAB);
  EXPECT_EQ(slave().reg(0x11), 0x50);
  EXPECT_EQ(FieldTexts("edtI2Cdat"), (QStringList{"a-", "5", "99", "00", "00"}));
  EXPECT_EQ(dialogs.errors, QStringList{});
}

TEST_F(SpecialI2cGroupTest, ReadFillsOnlyTheDataFieldsTakingPartAndMarksThemWhenNothingCame) {
  Attach();
  for (int r = 2; r < 5; ++r)
    slave().SetReg(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(0x1A + r));
  ui.srblen0->setValue(2);
  ui.srblen1->setValue(3);
  SetFields("edtI2Ccmd", {"01", "02"});
  SetFields("edtI2Cdat", {"zz", "zz", "zz", "EE", "FF"});
  Click(ui.btnReadSpecI2C);
  // The second command byte lands in register 0x01, so the read starts at register 0x02.
  EXPECT_EQ(bus().events(),
            (std::vector<I2cBusEvent>{I2cBusEvent::Start(), I2cBusEvent::Address(0x20),
                                      I2cBusEvent::Write(0x01), I2cBusEvent::Write(0x02),
                                      I2cBusEvent::Start(), I2cBusEvent::Address(0x21),
                                      I2cBusEvent::Read(0x1C, true), I2cBusEvent::Read(0x1D, true),
                                      I2cBusEvent::Read(0x1E, false), I2cBusEvent::Stop()}));
  EXPECT_EQ(FieldTexts("edtI2Cdat"), (QStringList{"1C", "1D", "1E", "EE", "FF"}));

  slave().SetAcknowledges(false);
  ui.srblen1->setValue(2);
  Click(ui.btnReadSpecI2C);
  EXPECT_EQ(FieldTexts("edtI2Cdat"), (QStringList{"--", "--", "1E", "EE", "FF"}));
}

TEST_F(SpecialI2cGroupTest, EnterInTheAddressEditSetsTheSharedAddressAndTheI2cPagesEdit) {
  Attach();
  sim::I2cSlave& at60 = bus().Attach(0x60);
  Click(ui.btnWriteSpecI2C);  // until Enter: 0x20, although the group's edit shows 60
  EXPECT_EQ(bus().events(), Written(0x20, {0x00, 0x00}));

  const struct {
    const char* typed;
    std::uint8_t address;
    const char* page_edit;
  } cases[] = {{"1a0", 0xA0, "A0"}, {"zz", 0xA0, "A0"}, {"60", 0x60, "60"}};
  for (const auto& c : cases) {
    ui.edtMI2CAddr1->setText(c.typed);
    QTest::keyClick(ui.edtMI2CAddr1, Qt::Key_Return);
    EXPECT_EQ(form.I2cSlaveAddress, c.address) << c.typed;
    EXPECT_EQ(ui.edtMI2CAddr->text(), c.page_edit) << c.typed;
    EXPECT_EQ(ui.edtMI2CAddr1->text(), c.typed);
  }
  EXPECT_EQ(dialogs.errors, QStringList{"'0xzz' is not a valid integer value"});
  SetFields("edtI2Ccmd", {"33"});
  SetFields("edtI2Cdat", {"C4"});
  bus().ClearEvents();
  Click(ui.btnWriteSpecI2C);
  EXPECT_EQ(bus().events(), Written(0x60, {0x33, 0xC4}));
  EXPECT_EQ(at60.reg(0x33), 0xC4);
}

TEST_F(SpecialI2cGroupTest, WithoutAFoundDeviceBothButtonsDoNothing) {
  chip.PlugInto(platform);  // plugged in, but no search has found it
  Click(ui.btnWriteSpecI2C);
  Click(ui.btnReadSpecI2C);
  EXPECT_EQ(transcript.Count(sim::TranscriptEvent::Kind::Transfer), 0u);
  EXPECT_EQ(FieldTexts("edtI2Cdat")[0], "00");
}

}  // namespace
}  // namespace velmora::test
