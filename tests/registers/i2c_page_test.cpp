// The "I2C Access" tab through the window over the virtual chip and its I2C slave at 0x20:
// engine set-up on entering the page, the slave address, keys, bit boxes and the full read,
// asserted at the slave's registers and on the bus.
#include "i2c_slave.h"
#include "register_pages_fixture.h"

namespace velmora::test {
namespace {

using sim::I2cBusEvent;

class I2cPageTest : public RegisterPagesTest {
 protected:
  StringGrid* grid() const { return ui.StringGridMIIC; }
  sim::I2cSlave& slave() { return chip.Registers().default_slave(); }
  const std::vector<I2cBusEvent>& bus() { return chip.Registers().i2c_bus().events(); }
  // Attaches the chip and shows the page, which prepares the I2C engine.
  void AttachAndShow() {
    Attach();
    ShowPage(ui.PageMI2CCtrl);
    transcript.Clear();
    chip.Registers().i2c_bus().ClearEvents();
  }
};

TEST_F(I2cPageTest, EnteringThePageSetsUpTheEngineEvenWithoutADevice) {
  ShowPage(ui.PageMI2CCtrl);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"open", "W00=0E", "W11=04", "close"}));

  Attach();
  ShowPage(ui.PageISPCtrl);
  EXPECT_TRUE(NothingSent());
  ShowPage(ui.PageMI2CCtrl);
  EXPECT_EQ(chip.Registers().bank(), 0x0E);
  EXPECT_EQ(chip.Registers().i2c_engine().setup(), 0x04);
}

TEST_F(I2cPageTest, EnterInTheAddressEditTakesTheLowByteForLaterTransfersOnly) {
  AttachAndShow();
  chip.Registers().i2c_bus().Attach(0xA0).SetReg(0x12, 0x6D);
  const struct {
    const char* typed;
    const char* shown;
    std::uint8_t address;
    const char* error;
  } cases[] = {
      {"a0", "A0", 0xA0, nullptr},
      {"1FF", "FF", 0xFF, nullptr},
      {"zz", "zz", 0xFF, "'0xzz' is not a valid integer value"},
      {"a0", "A0", 0xA0, nullptr},
  };
  for (const auto& c : cases) {
    dialogs.errors.clear();
    ui.edtMI2CAddr->setText(c.typed);
    QTest::keyClick(ui.edtMI2CAddr, Qt::Key_Return);
    EXPECT_EQ(ui.edtMI2CAddr->text(), c.shown) << c.typed;
    EXPECT_EQ(form.I2cSlaveAddress, c.address) << c.typed;
    EXPECT_EQ(dialogs.errors, c.error ? QStringList{c.error} : QStringList{}) << c.typed;
  }
  EXPECT_TRUE(NothingSent());

  Select(grid(), 3, 2);  // register 0x12 of the slave at 0xA0
  EXPECT_EQ(grid()->Cell(3, 2), "6D");
  EXPECT_EQ(ui.lblMI2CRegAddr->text(), "Reg 0x12");
  EXPECT_EQ(ui.lblMI2CRegData->text(), "= 0x6D");
  EXPECT_EQ(BoxesValue("chkMI2CBit"), 0x6D);
  const std::vector<I2cBusEvent> read{I2cBusEvent::Start(),       I2cBusEvent::Address(0xA0),
                                      I2cBusEvent::Write(0x12),   I2cBusEvent::Start(),
                                      I2cBusEvent::Address(0xA1), I2cBusEvent::Read(0x6D, false),
                                      I2cBusEvent::Stop()};
  EXPECT_EQ(bus(), read);

  // The special I2C group sets the shared address from outside.
  form.SetI2cSlaveAddress(0x60);
  EXPECT_EQ(ui.edtMI2CAddr->text(), "60");
}

TEST_F(I2cPageTest, InsertAndDeleteStartFromTheCellTextAndStopAtTheLimitsWithoutSending) {
  AttachAndShow();
  const struct {
    const char* text;
    Qt::Key key;
    int written;  // -1: nothing sent
    std::uint8_t entry;
    const char* error;
  } cases[] = {
      {"7F", Qt::Key_Insert, 0x80, 0x80, nullptr},  // the slave and the image held 0x10
      {"FF", Qt::Key_Insert, -1, 0xFF, nullptr},
      {"00", Qt::Key_Delete, -1, 0x00, nullptr},
      {"3c", Qt::Key_Delete, 0x3B, 0x3B, nullptr},
      {"3c", Qt::Key_Return, 0x3C, 0x3C, nullptr},
      {"", Qt::Key_Insert, -1, 0x10, "'0x' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " key " + std::to_string(c.key));
    slave().SetReg(0x41, 0x10);
    Select(grid(), 1, 1);
    Select(grid(), 2, 5);  // register 0x41: the image holds 0x10
    grid()->SetCell(2, 5, c.text);
    dialogs.errors.clear();
    transcript.Clear();
    QTest::keyClick(grid(), c.key);
    EXPECT_EQ(dialogs.errors, c.error ? QStringList{c.error} : QStringList{});
    EXPECT_EQ(form.I2cImage[0x41], c.entry);
    if (c.written < 0) {
      EXPECT_TRUE(NothingSent());
      EXPECT_EQ(slave().reg(0x41), 0x10);
      continue;
    }
    EXPECT_EQ(slave().reg(0x41), c.written);
    EXPECT_EQ(grid()->Cell(2, 5).toInt(nullptr, 16), c.written);
    EXPECT_EQ(BoxesValue("chkMI2CBit"), c.written);
    EXPECT_EQ(ui.lblMI2CRegData->text(), "= 0x10");  // the key leaves the labels
    EXPECT_EQ(transcript.Count(Kind::Pause), 1u);
    EXPECT_EQ(transcript.TotalPauseMs(), 1u);
  }
}

TEST_F(I2cPageTest, BitBoxesWait30MsBeforeTheReadBackAndAMissingSlaveLeavesTheCell) {
  AttachAndShow();
  slave().SetReg(0xF3, 0x01);
  Select(grid(), 4, 16);  // register 0xF3
  transcript.Clear();
  QTest::mouseClick(BitBox("chkMI2CBit", 7), Qt::LeftButton);
  EXPECT_EQ(slave().reg(0xF3), 0x81);
  EXPECT_EQ(ui.lblMI2CRegData->text(), "= 0x81");
  // The one pause lies between the write (its stop) and the read-back (its first start).
  const auto events = transcript.Events();
  std::size_t pause = 0;
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i].kind == Kind::Pause) pause = i;
  }
  EXPECT_EQ(transcript.Count(Kind::Pause), 1u);
  EXPECT_EQ(events.at(pause).ms, 30u);
  EXPECT_EQ(events.at(pause - 1).data, std::vector<std::uint8_t>{0xA0});  // stop
  EXPECT_EQ(events.at(pause + 1).data, std::vector<std::uint8_t>{0xC0});  // start

  // A slave that does not answer its address leaves the entry, so the cell, as it was.
  slave().SetAcknowledges(false);
  Select(grid(), 1, 1);
  Select(grid(), 4, 16);
  EXPECT_EQ(grid()->Cell(4, 16), "81");
}

TEST_F(I2cPageTest, StopEndsTheFullReadAfterTheRegisterInProgress) {
  ui.btnReadMI2C->click();
  EXPECT_EQ(ui.btnReadMI2C->text(), "Read");
  EXPECT_EQ(ui.btnReadMI2C->property("Tag").toInt(), 0);

  AttachAndShow();
  for (int i = 0; i < 256; ++i) slave().SetReg(i, static_cast<std::uint8_t>(0xFF - i));
  pump.hook = [this](int number) {
    if (number != 3) return;
    EXPECT_EQ(ui.btnReadMI2C->text(), "Stop");
    QTest::mouseClick(ui.btnReadMI2C, Qt::LeftButton);
    EXPECT_EQ(ui.btnReadMI2C->text(), "Read");
  };
  QTest::mouseClick(ui.btnReadMI2C, Qt::LeftButton);
  EXPECT_EQ(pump.pumps, 3);
  EXPECT_EQ(grid()->Cell(3, 1), "FD");
  EXPECT_EQ(grid()->Cell(4, 1), "");
  EXPECT_EQ(form.I2cImage[2], 0xFD);
  EXPECT_EQ(form.I2cImage[3], 0x00);
  EXPECT_EQ(ui.btnReadMI2C->property("Tag").toInt(), 0);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace velmora::test
