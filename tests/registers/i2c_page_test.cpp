// The "I2C Access" tab through the window over the virtual chip and its I2C slave at 0x20:
// engine set-up on entering the page, the slave address, keys, bit boxes and the full read,
// asserted at the slave's registers and on the bus.
#include <functional>

#include "i2c_slave.h"
#include "register_pages_fixture.h"

namespace velmora::test {
namespace {

using sim::I2cBusEvent;

class I2cPageTest : public RegisterPagesTest {
 protected:
  // Attaches the chip and shows the page, which prepares the I2C engine.
  void AttachAndShow() {
    Attach();
    ShowPage(ui.PageMI2CCtrl);
    transcript.Clear();
    chip.Registers().i2c_bus().ClearEvents();
  }
  StringGrid* grid() const { return ui.StringGridMIIC; }
  sim::I2cSlave& slave() { return chip.Registers().default_slave(); }
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

TEST_F(I2cPageTest, EnterInTheAddressEditSetsTheAddressOfLaterTransfers) {
  AttachAndShow();
  chip.Registers().i2c_bus().Attach(0xA0).SetReg(0x12, 0x6D);
  const struct {
    const char* typed;
    const char* shown;
    std::uint8_t address;
    bool error;
  } cases[] = {{"1FF", "FF", 0xFF, false}, {"zz", "zz", 0xFF, true}, {"a0", "A0", 0xA0, false}};
  for (const auto& c : cases) {
    ui.edtMI2CAddr->setText(c.typed);
    QTest::keyClick(ui.edtMI2CAddr, Qt::Key_Return);
    EXPECT_EQ(ui.edtMI2CAddr->text(), c.shown) << c.typed;
    EXPECT_EQ(form.I2cSlaveAddress, c.address) << c.typed;
  }
  EXPECT_EQ(dialogs.errors, QStringList{"'0xzz' is not a valid integer value"});
  EXPECT_TRUE(NothingSent());

  Select(grid(), 3, 2);  // register 0x12 of the slave at 0xA0
  EXPECT_EQ(chip.Registers().i2c_bus().events(),
            (std::vector<I2cBusEvent>{I2cBusEvent::Start(), I2cBusEvent::Address(0xA0),
                                      I2cBusEvent::Write(0x12), I2cBusEvent::Start(),
                                      I2cBusEvent::Address(0xA1), I2cBusEvent::Read(0x6D, false),
                                      I2cBusEvent::Stop()}));
  EXPECT_EQ(grid()->Cell(3, 2), "6D");
  EXPECT_EQ(ui.lblMI2CRegAddr->text(), "Reg 0x12");
  EXPECT_EQ(ui.lblMI2CRegData->text(), "= 0x6D");
  EXPECT_EQ(BoxesValue("chkMI2CBit"), 0x6D);

  form.SetI2cSlaveAddress(0x60);  // as the special I2C group does
  EXPECT_EQ(ui.edtMI2CAddr->text(), "60");
}

TEST_F(I2cPageTest, InsertAndDeleteStartFromTheCellTextAndStopAtTheLimitsWithoutSending) {
  AttachAndShow();
  const struct {
    const char* text;
    Qt::Key key;
    int written;  // -1: nothing sent
    std::uint8_t entry;
  } cases[] = {
      {"7F", Qt::Key_Insert, 0x80, 0x80},  // the slave and the image held 0x10
      {"FF", Qt::Key_Insert, -1, 0xFF},   {"00", Qt::Key_Delete, -1, 0x00},
      {"3c", Qt::Key_Delete, 0x3B, 0x3B}, {"3c", Qt::Key_Return, 0x3C, 0x3C},
      {"", Qt::Key_Insert, -1, 0x10},  // the conversion error: nothing stored
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " key " + std::to_string(c.key));
    slave().SetReg(0x41, 0x10);
    Select(grid(), 1, 1);
    Select(grid(), 2, 5);  // register 0x41
    grid()->SetCell(2, 5, c.text);
    transcript.Clear();
    QTest::keyClick(grid(), c.key);
    EXPECT_EQ(form.I2cImage[0x41], c.entry);
    if (c.written < 0) {
      EXPECT_TRUE(NothingSent());
      EXPECT_EQ(slave().reg(0x41), 0x10);
      continue;
    }
    EXPECT_EQ(slave().reg(0x41), c.written);
    EXPECT_EQ(grid()->Cell(2, 5).toInt(nullptr, 16), c.written);
    EXPECT_EQ(BoxesValue("chkMI2CBit"), c.written);
    EXPECT_EQ(ui.lblMI2CRegData->text(), "= 0x10");  // keys leave the labels
    EXPECT_EQ(transcript.TotalPauseMs(), 1u);
  }
  EXPECT_EQ(dialogs.errors, QStringList{"'0x' is not a valid integer value"});
}

TEST_F(I2cPageTest, BitBoxesWait30MsBeforeTheReadBackAndAFailedReadShowsAsOne) {
  AttachAndShow();
  slave().SetReg(0xF3, 0x01);
  Select(grid(), 4, 16);  // register 0xF3
  transcript.Clear();
  QTest::mouseClick(BitBox("chkMI2CBit", 7), Qt::LeftButton);
  EXPECT_EQ(slave().reg(0xF3), 0x81);
  EXPECT_EQ(ui.lblMI2CRegData->text(), "= 0x81");
  // The one pause lies between the write's stop and the read-back's first start.
  const auto events = transcript.Events();
  const auto pause = std::find_if(events.begin(), events.end(),
                                  [](const auto& e) { return e.kind == Kind::Pause; });
  ASSERT_NE(pause, events.end());
  EXPECT_EQ(pause->ms, 30u);
  EXPECT_EQ(transcript.TotalPauseMs(), 30u);
  EXPECT_EQ((pause - 1)->data, std::vector<std::uint8_t>{0xA0});
  EXPECT_EQ((pause + 1)->data, std::vector<std::uint8_t>{0xC0});

  // A failed read shows as one, not as the value of an earlier read.
  slave().SetAcknowledges(false);
  Select(grid(), 1, 1);
  Select(grid(), 4, 16);
  EXPECT_EQ(grid()->Cell(4, 16), "--");
  EXPECT_EQ(ui.lblMI2CRegData->text(), "= 0x--");
}

TEST_F(I2cPageTest, EveryOperationSetsUpTheEngineSoItWorksAfterAChipResetOrAnEarlyEntry) {
  ShowPage(ui.PageMI2CCtrl);  // before the device is plugged in: this set-up is lost
  Attach();
  slave().SetReg(0x12, 0x6D);
  slave().SetReg(0xFF, 0x42);
  const struct {
    const char* operation;
    std::function<void()> run;
    std::function<bool()> done;
  } rows[] = {
      {"select", [&] { Select(grid(), 3, 2); }, [&] { return grid()->Cell(3, 2) == "6D"; }},
      {"Enter", [&] { TypeIntoCell(grid(), "5A"); }, [&] { return slave().reg(0x12) == 0x5A; }},
      {"bit box", [&] { QTest::mouseClick(BitBox("chkMI2CBit", 7), Qt::LeftButton); },
       [&] { return slave().reg(0x12) == 0xDA; }},
      {"Read", [&] { QTest::mouseClick(ui.btnReadMI2C, Qt::LeftButton); },
       [&] { return grid()->Cell(16, 16) == "42"; }},
  };
  for (const auto& row : rows) {
    chip.Registers().Poke(0x00, 0x00, 0x00);  // a reset selects bank 0: no I2C engine there
    row.run();
    EXPECT_TRUE(row.done()) << row.operation;
  }
}

TEST_F(I2cPageTest, StopEndsTheFullReadAfterTheRegisterInProgress) {
  AttachAndShow();
  for (int i = 0; i < 256; ++i) slave().SetReg(i, static_cast<std::uint8_t>(0xFF - i));
  pump.hook = [this](int number) {
    if (number != 3) return;
    QTest::mouseClick(ui.btnReadMI2C, Qt::LeftButton);
    EXPECT_EQ(ui.btnReadMI2C->text(), "Read");
  };
  QTest::mouseClick(ui.btnReadMI2C, Qt::LeftButton);
  EXPECT_EQ(pump.pumps, 3);
  EXPECT_EQ(grid()->Cell(3, 1), "FD");
  EXPECT_EQ(grid()->Cell(4, 1), "");
  EXPECT_EQ(form.I2cImage[3], 0x00);
  EXPECT_EQ(ui.btnReadMI2C->property("Tag").toInt(), 0);
}

}  // namespace
}  // namespace velmora::test
