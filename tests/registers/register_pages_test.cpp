// The "Register" and "I2C Access" tabs through the window over the virtual chip. Both run the
// same grid mechanism, so each test runs on both pages, asserted at the registers behind them.
#include <QTest>

#include "form_fixture.h"

namespace velmora::test {
namespace {

// A page, the rules in which it differs, and the registers behind it.
struct Page {
  QWidget* sheet;
  StringGrid* grid;
  QLabel *address, *data;
  QPushButton* read;
  const char *bits, *idle;
  unsigned bit_pause_ms;
  bool steps_from_text;              // Insert and Delete start from the cell's text
  std::function<int(int, int)> reg;  // sets register r to v when v >= 0, then reads it
};

class RegisterPagesTest : public PageTest {
 protected:
  sim::I2cSlave& slave() { return chip.Registers().default_slave(); }
  std::vector<Page> Pages() {
    auto& bank = chip.Registers();
    return {{ui.TabSheet1, ui.RegStringGrid1, ui.lblRegAddr, ui.lblRegData, ui.btnReadAll, "chkBit",
             "Read Bank", 3, false,
             [&](int r, int v) { return v < 0 ? bank.Peek(0, r) : (bank.Poke(0, r, v), v); }},
            {ui.PageMI2CCtrl, ui.StringGridMIIC, ui.lblMI2CRegAddr, ui.lblMI2CRegData,
             ui.btnReadMI2C, "chkMI2CBit", "Read", 30, true,
             [this](int r, int v) { return v < 0 ? slave().reg(r) : (slave().SetReg(r, v), v); }}};
  }
  // Shows the page with register `index` selected after it was set to `value`.
  void Select(const Page& p, int index, int value) {
    ShowPage(p.sheet);
    p.reg(index, value);
    p.grid->setCurrentCell(16, 16);
    p.grid->setCurrentCell(index / 16 + 1, index % 16 + 1);
    transcript.Clear();
  }
  QCheckBox* Box(const Page& p, int bit) { return form.FindFamilyMember<QCheckBox>(p.bits, bit); }
  int Boxes(const Page& p) {
    int value = 0;
    for (int bit = 0; bit < 8; ++bit) value |= Box(p, bit)->isChecked() << bit;
    return value;
  }
};

TEST_F(RegisterPagesTest, SelectionBitBoxesAndKeysShowTheRegisterReadBackEverywhere) {
  Attach();
  chip.Registers().SetMailboxDelayUs(0);  // 0x90 reads back 0xEE, whatever was written
  Select(Pages()[0], 0x90, 0x00);
  QTest::mouseClick(ui.chkBit0, Qt::LeftButton);
  EXPECT_EQ(ui.lblRegData->text(), "= 0xEE");
  for (const Page& p : Pages()) {
    Select(p, 0x12, 0xB7);  // row 2, column 3
    EXPECT_EQ(p.grid->Cell(3, 2), "B7");
    EXPECT_EQ(Boxes(p), 0xB7);
    EXPECT_EQ(p.address->text() + p.data->text(), "Reg 0x12= 0xB7");
    const QColor silver(0xC0, 0xC0, 0xC0);  // the headers of the last selection go back
    EXPECT_TRUE(p.grid->CellColour(0, 2) == silver && p.grid->CellColour(3, 0) == silver);
    EXPECT_TRUE(p.grid->CellColour(0, 16) == QColor() && p.grid->CellColour(16, 0) == QColor());
    QTest::mouseClick(Box(p, 6), Qt::LeftButton);  // 0xF7 goes out after the page's pause
    EXPECT_EQ(p.reg(0x12, -1), 0xF7) << p.idle;
    EXPECT_EQ(p.grid->Cell(3, 2), "F7");
    EXPECT_EQ(transcript.TotalPauseMs(), p.bit_pause_ms) << p.idle;

    // Keys write the cell's text or a step of it, and show the read-back after 1 ms.
    const int up = p.steps_from_text ? 0x80 : 0x42, down = p.steps_from_text ? 0x3B : 0x40;
    // Stored value, cell text, key, value written (-1: nothing sent).
    const std::tuple<int, const char*, Qt::Key, int> keys[] = {
        {0x41, "7", Qt::Key_Return, 0x07}, {0x41, "", Qt::Key_Return, -1},
        {0x41, "7F", Qt::Key_Insert, up},  {0x41, "3c", Qt::Key_Delete, down},
        {0xFF, "FF", Qt::Key_Insert, -1},  {0x00, "00", Qt::Key_Delete, -1},
        {0x41, "7", Qt::Key_F5, -1}};
    for (const auto& [stored, text, key, written] : keys) {
      SCOPED_TRACE(std::string(p.idle) + " " + text + " key " + std::to_string(key));
      Select(p, 0x30, stored);
      p.grid->SetCell(1, 4, text);
      dialogs.errors.clear();
      QTest::keyClick(p.grid, key);
      EXPECT_EQ(dialogs.errors.join(""), *text ? "" : "'0x' is not a valid integer value");
      EXPECT_EQ(p.reg(0x30, -1), written < 0 ? stored : written);
      EXPECT_EQ(transcript.TotalPauseMs(), written < 0 ? 0u : 1u);
      if (written < 0) continue;
      EXPECT_EQ(p.grid->Cell(1, 4).toInt(nullptr, 16), written);
      EXPECT_EQ(Boxes(p), written);
    }
  }
}

TEST_F(RegisterPagesTest, FullReadFillsTheCellsUntilASecondClickStopsIt) {
  Attach();
  for (const Page& p : Pages()) {
    ShowPage(p.sheet);
    for (int i = 1; i < 256; ++i) p.reg(i, i ^ 0xA5);
    pump.pumps = 0;
    QTest::mouseClick(p.read, Qt::LeftButton);
    EXPECT_EQ(pump.pumps, 256);
    EXPECT_EQ(p.grid->Cell(2, 1) + p.grid->Cell(16, 16), "A45A");  // registers 0x01 and 0xFF

    for (int i = 1; i < 256; ++i) p.reg(i, 0x3C);
    pump.pumps = 0;
    pump.hook = [&](int number) {
      if (number == 3) QTest::mouseClick(p.read, Qt::LeftButton);
      EXPECT_EQ(p.read->text(), number < 3 ? "Stop" : p.idle);  // idle at once
    };
    QTest::mouseClick(p.read, Qt::LeftButton);
    pump.hook = nullptr;
    EXPECT_EQ(pump.pumps, 3);
    EXPECT_EQ(p.grid->Cell(3, 1) + p.grid->Cell(4, 1), "3CA6");  // register 3 is not read again
  }
}

TEST_F(RegisterPagesTest, TheI2cPageSetsUpTheEngineForEachUseAndTalksToTheAddressEntered) {
  ShowPage(ui.PageMI2CCtrl);  // entering the page sets up the engine, even without a device
  EXPECT_EQ(transcript.Count(sim::TranscriptEvent::Kind::Transfer), 2u);  // 0x00 := 0E, 0x11 := 04

  Attach();  // that set-up was lost: each use sets the engine up again
  chip.Registers().i2c_bus().Attach(0xA0).SetReg(0x12, 0x6D);
  for (const char* typed : {"zz", "a0"}) {
    ui.edtMI2CAddr->setText(typed);
    QTest::keyClick(ui.edtMI2CAddr, Qt::Key_Return);
  }
  EXPECT_EQ(dialogs.errors, QStringList{"'0xzz' is not a valid integer value"});
  EXPECT_EQ(ui.edtMI2CAddr->text(), "A0");
  ui.StringGridMIIC->setCurrentCell(2, 3);  // register 0x12 of the slave at 0xA0
  EXPECT_EQ(ui.lblMI2CRegData->text(), "= 0x6D");

  form.SetI2cSlaveAddress(0x20);  // a slave that does not answer shows as such, not as 00
  slave().SetAcknowledges(false);
  ui.StringGridMIIC->setCurrentCell(1, 1);
  EXPECT_EQ(ui.StringGridMIIC->Cell(1, 1) + ui.lblMI2CRegData->text(), "--= 0x--");
}

// The status read-out's words; the labels they go to are tested through the Information tab.
TEST(DescribeStatusTest, FlagsChooseTheWordsAndTheRateCodesLowNibbleTheRate) {
  const std::tuple<int, int, StatusDisplay> cases[] = {
      {0xF9, 0xF9, {"USB connected", true, "Playing", true, "PCM", "  768KHz"}},  // bits 3-7 idle
      {0x01, 0x0A, {"USB connected", true, "Playing", true, "PCM", std::string(8, ' ')}},
      {0x03, 0x02, {"USB connected", true, "Playing", true, "DSD", " DoP 256"}},
      {0xFE, 0x05, {"USB Disconnected", false, {}, false, {}, {}}}};
  for (const auto& [flags, rate_code, shown] : cases) {
    EXPECT_EQ(DescribeStatus({std::uint8_t(rate_code), 0x00, std::uint8_t(flags)}), shown)
        << std::hex << "flags " << flags << " rate " << rate_code;
  }
}

}  // namespace
}  // namespace velmora::test
