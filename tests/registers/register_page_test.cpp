// The "Register" tab through the window over the virtual chip: selection, keys, bit boxes and
// "Read Bank", asserted at the chip's registers.
#include <functional>

#include "register_grid.h"
#include "register_pages_fixture.h"

namespace velmora::test {
namespace {

class RegisterPageTest : public RegisterPagesTest {
 protected:
  RegisterPageTest() {
    ShowPage(ui.TabSheet1);
    // Register 0x00 is the bank select and reads back the bank, 0x00.
    for (int i = 1; i < 256; ++i)
      chip.Registers().Poke(0x00, i, static_cast<std::uint8_t>(i ^ 0xA5));
    Attach();
  }
  StringGrid* grid() const { return ui.RegStringGrid1; }
};

TEST_F(RegisterPageTest, SelectionReadsTheRegisterOfEveryCellItReachesAndShowsIt) {
  const QColor silver(0xC0, 0xC0, 0xC0);
  const struct {
    int col, row, index, value;
    const char* address;
  } cells[] = {{3, 2, 0x12, 0xB7, "Reg 0x12"},
               {16, 16, 0xFF, 0x5A, "Reg 0xFF"},
               {1, 1, 0x00, 0x00, "Reg 0x00"}};
  for (const auto& c : cells) {
    transcript.Clear();
    Select(grid(), c.col, c.row);
    const QString text = QString::fromStdString(ByteText(static_cast<std::uint8_t>(c.value)));
    EXPECT_EQ(RegisterReads(), std::vector<int>{c.index});
    EXPECT_EQ(grid()->Cell(c.col, c.row), text);
    EXPECT_EQ(BoxesValue("chkBit"), c.value);
    EXPECT_EQ(ui.lblRegAddr->text(), c.address);
    EXPECT_EQ(ui.lblRegData->text(), "= 0x" + text);
    for (int i = 1; i <= 16; ++i) {
      EXPECT_EQ(grid()->CellColour(0, i), i == c.row ? silver : QColor()) << "row header " << i;
      EXPECT_EQ(grid()->CellColour(i, 0), i == c.col ? silver : QColor()) << "column header " << i;
    }
  }
  transcript.Clear();
  for (Qt::Key key : {Qt::Key_Right, Qt::Key_Right, Qt::Key_Down}) QTest::keyClick(grid(), key);
  EXPECT_EQ(RegisterReads(), (std::vector<int>{0x01, 0x02, 0x12}));
}

TEST_F(RegisterPageTest, KeysWriteTheTypedTextOrStepTheStoredValueAndShowTheReadBack) {
  const struct {
    std::uint8_t stored;  // in the chip and, once selected, in the image
    const char* typed;    // into the cell's editor; nullptr: the key goes to the grid
    Qt::Key key;
    int written;  // -1: nothing sent
  } cases[] = {
      {0x41, "7", Qt::Key_Return, 0x07},     {0x41, "1FF", Qt::Key_Enter, 0xFF},
      {0x41, "", Qt::Key_Return, -1},        {0x41, "7F", Qt::Key_Insert, 0x42},
      {0x41, nullptr, Qt::Key_Delete, 0x40}, {0xFF, nullptr, Qt::Key_Insert, -1},
      {0x00, nullptr, Qt::Key_Delete, -1},   {0x41, nullptr, Qt::Key_F5, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.typed ? c.typed : "-") + " key " + std::to_string(c.key));
    Select(grid(), 1, 16);
    chip.Registers().Poke(0x00, 0x30, c.stored);
    Select(grid(), 1, 4);  // register 0x30
    dialogs.errors.clear();
    transcript.Clear();
    if (c.typed) {
      TypeIntoCell(grid(), c.typed, c.key);
    } else {
      QTest::keyClick(grid(), c.key);
    }
    const bool empty = c.typed && !*c.typed;
    EXPECT_EQ(dialogs.errors,
              empty ? QStringList{"'0x' is not a valid integer value"} : QStringList{});
    if (c.written < 0) {
      EXPECT_TRUE(NothingSent());
      EXPECT_EQ(chip.Registers().Peek(0x00, 0x30), c.stored);
      continue;
    }
    const std::string write = "W30=" + ByteText(static_cast<std::uint8_t>(c.written));
    EXPECT_EQ(Trace(), (std::vector<std::string>{"open", write, "p1", "R30", "close"}));
    EXPECT_EQ(chip.Registers().Peek(0x00, 0x30), c.written);
    EXPECT_EQ(grid()->Cell(1, 4).toInt(nullptr, 16), c.written);
    EXPECT_EQ(BoxesValue("chkBit"), c.written);
  }
}

TEST_F(RegisterPageTest, BitBoxesWriteTheValueTheyFormAndEveryWriteShowsTheReadBack) {
  chip.Registers().Poke(0x00, 0x41, 0x00);
  Select(grid(), 2, 5);  // register 0x41
  QTest::mouseClick(BitBox("chkBit", 3), Qt::LeftButton);
  transcript.Clear();
  QTest::mouseClick(BitBox("chkBit", 0), Qt::LeftButton);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"open", "W41=09", "p3", "R41", "close"}));
  EXPECT_EQ(ui.lblRegData->text(), "= 0x09");
  EXPECT_EQ(grid()->Cell(2, 5), "09");
  // Any mouse button: the right one writes what the boxes show, without toggling one.
  chip.Registers().Poke(0x00, 0x41, 0x00);
  transcript.Clear();
  QTest::mouseClick(BitBox("chkBit", 5), Qt::RightButton);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"open", "W41=09", "p3", "R41", "close"}));

  // The mailbox command register reads 0xEE once the firmware has taken what was written.
  chip.Registers().SetMailboxDelayUs(0);
  Select(grid(), 1, 10);  // register 0x90
  TypeIntoCell(grid(), "21");
  EXPECT_EQ(grid()->Cell(1, 10), "EE");
  QTest::mouseClick(BitBox("chkBit", 0), Qt::LeftButton);  // 0xEF goes out
  EXPECT_EQ(chip.Registers().mailbox_starts().back().command, 0xEF);
  EXPECT_EQ(ui.lblRegData->text(), "= 0xEE");
  EXPECT_EQ(BoxesValue("chkBit"), 0xEE);
}

TEST_F(RegisterPageTest, ReadBankFillsTheCellsAndEndsOnASecondClick) {
  QTest::mouseClick(ui.btnReadAll, Qt::LeftButton);
  EXPECT_EQ(pump.pumps, 256);
  for (int i = 0; i < 256; ++i) {
    const GridCell cell = CellOfRegister(static_cast<std::uint8_t>(i));
    EXPECT_EQ(grid()->Cell(cell.col, cell.row).toInt(nullptr, 16), i == 0 ? 0 : i ^ 0xA5) << i;
  }
  for (int i = 1; i < 256; ++i) chip.Registers().Poke(0x00, i, 0x3C);

  const struct {
    const char* name;
    std::function<void()> at_third_pump;
    const char* caption_then;  // the click is idle at once
    std::vector<int> reads;
  } endings[] = {
      // Detection lost the device meanwhile: the click still stops the read.
      {"second click",
       [this] { usb.ClearFound(), QTest::mouseClick(ui.btnReadAll, Qt::LeftButton); },
       "Read Bank",
       {0x00, 0x01, 0x02}},
  };
  for (const auto& ending : endings) {
    usb.FindDevice();
    transcript.Clear();
    pump.pumps = 0;
    pump.hook = [&](int number) {
      if (number != 3) return;
      ending.at_third_pump();
      EXPECT_EQ(ui.btnReadAll->text(), ending.caption_then);
    };
    QTest::mouseClick(ui.btnReadAll, Qt::LeftButton);
    EXPECT_EQ(RegisterReads(), ending.reads) << ending.name;
    EXPECT_EQ(pump.pumps, 3) << ending.name;
    EXPECT_EQ(grid()->Cell(4, 1), "A6") << ending.name;  // not read again: the old text stays
    EXPECT_EQ(ui.btnReadAll->text(), "Read Bank") << ending.name;
    EXPECT_EQ(ui.btnReadAll->property("Tag").toInt(), 0) << ending.name;
  }

  usb.ClearFound();
  transcript.Clear();
  QTest::mouseClick(ui.btnReadAll, Qt::LeftButton);
  EXPECT_EQ(ui.btnReadAll->text(), "Read Bank");
  EXPECT_TRUE(transcript.Events().empty());
}

}  // namespace
}  // namespace velmora::test
