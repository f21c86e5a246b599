// The "Register" tab through the window over the virtual chip: selection, keys, bit boxes and
// "Read Bank", asserted at the chip's registers.
#include "register_grid.h"
#include "register_pages_fixture.h"

namespace velmora::test {
namespace {

class RegisterPageTest : public RegisterPagesTest {
 protected:
  RegisterPageTest() {
    ShowPage(ui.TabSheet1);
    // Register 0x00 is the bank select and reads back the bank: 0x00.
    for (int i = 1; i < 256; ++i)
      chip.Registers().Poke(0x00, i, static_cast<std::uint8_t>(i ^ 0xA5));
  }
  StringGrid* grid() const { return ui.RegStringGrid1; }
};

TEST_F(RegisterPageTest, SelectingACellReadsItsRegisterAndShowsItInCellBoxesLabelsAndHeaders) {
  Attach();
  const QColor silver(0xC0, 0xC0, 0xC0);
  const struct {
    int col, row, index;
    const char* address;
    int value;  // the chip holds index ^ 0xA5
    const char* text;
  } cells[] = {{3, 2, 0x12, "Reg 0x12", 0xB7, "B7"},
               {16, 16, 0xFF, "Reg 0xFF", 0x5A, "5A"},
               {1, 1, 0x00, "Reg 0x00", 0x00, "00"}};
  for (const auto& c : cells) {
    transcript.Clear();
    Select(grid(), c.col, c.row);
    EXPECT_EQ(RegisterReads(), std::vector<int>{c.index});
    EXPECT_EQ(grid()->Cell(c.col, c.row), c.text);
    EXPECT_EQ(BoxesValue("chkBit"), c.value);
    EXPECT_EQ(ui.lblRegAddr->text(), c.address);
    EXPECT_EQ(ui.lblRegData->text(), QString("= 0x") + c.text);
    for (int i = 1; i <= 16; ++i) {
      EXPECT_EQ(grid()->CellColour(0, i), i == c.row ? silver : QColor()) << "row header " << i;
      EXPECT_EQ(grid()->CellColour(i, 0), i == c.col ? silver : QColor()) << "column header " << i;
    }
  }
  EXPECT_EQ(grid()->Cell(0, 16), "F0");
  EXPECT_EQ(grid()->Cell(16, 0), "0F");
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(RegisterPageTest, ArrowKeysReadEveryRegisterTheSelectionPasses) {
  Attach();
  Select(grid(), 1, 1);
  transcript.Clear();
  for (Qt::Key key : {Qt::Key_Right, Qt::Key_Right, Qt::Key_Down, Qt::Key_Left}) {
    QTest::keyClick(grid(), key);
  }
  EXPECT_EQ(RegisterReads(), (std::vector<int>{0x01, 0x02, 0x12, 0x11}));
}

TEST_F(RegisterPageTest, KeysWriteTheTypedTextOrStepTheStoredValueAndShowTheReadBack) {
  Attach();
  const struct {
    std::uint8_t stored;  // in the chip and, after the selection, in the image
    const char* typed;    // into the cell's editor; nullptr: the key goes to the grid
    Qt::Key key;
    int written;  // -1: nothing sent
    const char* error;
  } cases[] = {
      {0x41, "7", Qt::Key_Return, 0x07, nullptr},
      {0x41, "1FF", Qt::Key_Enter, 0xFF, nullptr},
      {0x41, "", Qt::Key_Return, -1, "'0x' is not a valid integer value"},
      {0x41, nullptr, Qt::Key_Insert, 0x42, nullptr},
      {0x41, "7F", Qt::Key_Insert, 0x42, nullptr},  // the stored value steps, not the text
      {0x41, nullptr, Qt::Key_Delete, 0x40, nullptr},
      {0xFF, nullptr, Qt::Key_Insert, -1, nullptr},
      {0x00, nullptr, Qt::Key_Delete, -1, nullptr},
      {0x41, nullptr, Qt::Key_F5, -1, nullptr},
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
    EXPECT_EQ(dialogs.errors, c.error ? QStringList{c.error} : QStringList{});
    if (c.written < 0) {
      EXPECT_TRUE(NothingSent());
      EXPECT_EQ(chip.Registers().Peek(0x00, 0x30), c.stored);
      continue;
    }
    char write[16];
    std::snprintf(write, sizeof write, "W30=%02X", c.written);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"open", write, "p1", "R30", "close"}));
    EXPECT_EQ(chip.Registers().Peek(0x00, 0x30), c.written);
    EXPECT_EQ(grid()->Cell(1, 4).toInt(nullptr, 16), c.written);
    EXPECT_EQ(BoxesValue("chkBit"), c.written);
    EXPECT_EQ(form.RegisterImage[0][0x30], c.written);
    EXPECT_EQ(grid()->indexWidget(grid()->currentIndex()), nullptr);  // the editor has closed
  }
}

TEST_F(RegisterPageTest, BitBoxesWriteTheValueTheyFormAndShowTheReadBack) {
  Attach();
  chip.Registers().Poke(0x00, 0x41, 0x00);
  Select(grid(), 2, 5);  // register 0x41
  QTest::mouseClick(BitBox("chkBit", 3), Qt::LeftButton);
  transcript.Clear();
  QTest::mouseClick(BitBox("chkBit", 0), Qt::LeftButton);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"open", "W41=09", "p3", "R41", "close"}));
  EXPECT_EQ(chip.Registers().Peek(0x00, 0x41), 0x09);
  EXPECT_EQ(ui.lblRegAddr->text(), "Reg 0x41");
  EXPECT_EQ(ui.lblRegData->text(), "= 0x09");
  EXPECT_EQ(grid()->Cell(2, 5), "09");

  // The mailbox command register reads 0xEE once the firmware has taken what was written.
  chip.Registers().SetMailboxDelayUs(0);
  Select(grid(), 1, 10);  // register 0x90
  TypeIntoCell(grid(), "21");
  EXPECT_EQ(grid()->Cell(1, 10), "EE");
  EXPECT_EQ(BoxesValue("chkBit"), 0xEE);
  QTest::mouseClick(BitBox("chkBit", 0), Qt::LeftButton);  // 0xEF goes out
  EXPECT_EQ(chip.Registers().mailbox_starts().back().command, 0xEF);
  EXPECT_EQ(ui.lblRegData->text(), "= 0xEE");
  EXPECT_EQ(grid()->Cell(1, 10), "EE");
}

TEST_F(RegisterPageTest, ReadBankWithoutADeviceChangesNothing) {
  QTest::mouseClick(ui.btnReadAll, Qt::LeftButton);
  EXPECT_EQ(ui.btnReadAll->text(), "Read Bank");
  EXPECT_EQ(ui.btnReadAll->property("Tag").toInt(), 0);
  EXPECT_EQ(transcript.Count(Kind::Open), 0u);
  EXPECT_EQ(grid()->Cell(1, 1), "");
}

TEST_F(RegisterPageTest, ReadBankFillsEveryCellAndASecondClickStopsItAtOnce) {
  Attach();
  pump.hook = [this](int) {
    EXPECT_EQ(ui.btnReadAll->text(), "Stop");
    EXPECT_EQ(ui.btnReadAll->property("Tag").toInt(), 1);
  };
  QTest::mouseClick(ui.btnReadAll, Qt::LeftButton);
  EXPECT_EQ(pump.pumps, 256);
  EXPECT_EQ(grid()->Cell(1, 1), "00");
  for (int i = 1; i < 256; ++i) {
    const GridCell cell = CellOfRegister(static_cast<std::uint8_t>(i));
    EXPECT_EQ(grid()->Cell(cell.col, cell.row).toInt(nullptr, 16), i ^ 0xA5) << i;
  }
  EXPECT_EQ(transcript.Count(Kind::Open), 1u);
  EXPECT_EQ(ui.btnReadAll->text(), "Read Bank");

  for (int i = 1; i < 256; ++i) chip.Registers().Poke(0x00, i, 0x3C);
  transcript.Clear();
  pump.hook = [this](int number) {
    if (number != 1003) return;
    usb.ClearFound();  // detection lost the device meanwhile: the click still stops the read
    QTest::mouseClick(ui.btnReadAll, Qt::LeftButton);
    EXPECT_EQ(ui.btnReadAll->text(), "Read Bank");
    EXPECT_EQ(ui.btnReadAll->property("Tag").toInt(), 0);
  };
  pump.pumps = 1000;
  QTest::mouseClick(ui.btnReadAll, Qt::LeftButton);
  EXPECT_EQ(RegisterReads(), (std::vector<int>{0x00, 0x01, 0x02}));
  EXPECT_EQ(grid()->Cell(3, 1), "3C");
  EXPECT_EQ(grid()->Cell(4, 1), "A6");  // not read again: the text of the first read stays
  EXPECT_EQ(ui.btnReadAll->text(), "Read Bank");
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(RegisterPageTest, ACellSelectedDuringReadBankEndsItCleanly) {
  Attach();
  Select(grid(), 1, 1);
  transcript.Clear();
  pump.hook = [this](int number) {
    if (number == 10) Select(grid(), 3, 3);  // opens and closes the link: the read ends
  };
  QTest::mouseClick(ui.btnReadAll, Qt::LeftButton);
  std::vector<int> expected;
  for (int i = 0; i < 10; ++i) expected.push_back(i);
  expected.push_back(0x22);
  EXPECT_EQ(RegisterReads(), expected);
  EXPECT_EQ(pump.pumps, 10);
  EXPECT_EQ(ui.btnReadAll->text(), "Read Bank");
  EXPECT_EQ(ui.btnReadAll->property("Tag").toInt(), 0);
  EXPECT_EQ(transcript.Count(Kind::Transfer), 11u);
}

}  // namespace
}  // namespace velmora::test
