// The Parameter page through the window, against the virtual chip's mailbox: what each control
// does to the option bytes, and what "Set", "Read back" and Enter in the edits leave in the
// device.
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <string>
#include <vector>

#include "form_fixture.h"
#include "labeled_edit.h"

namespace velmora::test {
namespace {

using Kind = sim::TranscriptEvent::Kind;
using Bytes = std::vector<std::uint8_t>;

class ParameterPageTest : public PageTest {
 protected:
  ParameterPageTest() {
    ShowPage(ui.Parameter);
    Attach();
  }

  sim::MailboxItems& Items() { return chip.Registers().mailbox_items(); }
  const std::vector<sim::MailboxStart>& Starts() { return chip.Registers().mailbox_starts(); }

  // The data registers (0x93 on) each mailbox command found written before it was started.
  std::vector<Bytes> DataPerCommand() const {
    std::vector<Bytes> commands;
    Bytes data;
    for (const auto& event : transcript.Transfers()) {
      if (event.setup.request != 0x90 || event.data.size() != 1) continue;  // register writes
      if (event.setup.index >= 0x93) data.push_back(event.data[0]);
      if (event.setup.index == 0x90 && event.data[0] == 0x10) {
        commands.push_back(data);
        data.clear();
      }
    }
    return commands;
  }

  int Pauses(unsigned ms) const {
    int count = 0;
    for (const auto& event : transcript.Events()) {
      count += event.kind == Kind::Pause && event.ms == ms ? 1 : 0;
    }
    return count;
  }

  bool NothingSent() const {
    return transcript.Count(Kind::Open) == 0 && transcript.Count(Kind::Transfer) == 0;
  }

  void Enter(QWidget* edit) { QTest::keyClick(edit, Qt::Key_Return); }
};

TEST_F(ParameterPageTest, SetAfterStartUpSendsA1000000) {
  ui.btnSetPara->click();
  EXPECT_EQ(Items().options, (std::array<std::uint8_t, 4>{0xA1, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Starts(), (std::vector<sim::MailboxStart>{{0x10, 0x20, 0x00}}));
  EXPECT_EQ(DataPerCommand(), (std::vector<Bytes>{{0xA1, 0x00, 0x00, 0x00}}));
  EXPECT_EQ(ui.lblEepAvail->text(), "EEPROM not Available");
  EXPECT_GE(ui.lblEepAvail->width(), ui.lblEepAvail->sizeHint().width());  // shown whole
  EXPECT_TRUE(ui.rbnMCLKOutFreq2->isChecked());  // 512 Fs, not the design's 128 Fs
}

TEST_F(ParameterPageTest, ReadBackShowsEveryControlAndSetSendsTheSameBytesBack) {
  Items().options = {0x7E, 0xE0, 0x5A, 0x80};
  ui.btnReadPara->click();
  EXPECT_EQ(Starts(), (std::vector<sim::MailboxStart>{{0x10, 0x21, 0x00}}));
  EXPECT_TRUE(ui.rbnI2Slen1->isChecked());    // I2S 24 bit
  EXPECT_TRUE(ui.rbnSPDIFlen0->isChecked());  // S/PDIF 32 bit
  EXPECT_TRUE(ui.chkI2SLRSwap->isChecked());
  EXPECT_TRUE(ui.chkDSDLRSwap->isChecked());
  EXPECT_TRUE(ui.rbnMCLKOutFreq3->isChecked());  // 1024 Fs
  EXPECT_TRUE(ui.rbnI2SFormat1->isChecked());    // Left Justify
  EXPECT_TRUE(ui.rbnDSDOut1->isChecked());       // DoP
  EXPECT_TRUE(ui.chkMCLKOutOff->isChecked());
  EXPECT_TRUE(ui.chkI2SOutOff->isChecked());
  EXPECT_TRUE(ui.chkSPDIFOutOff->isChecked());
  EXPECT_EQ(ui.lblEepAvail->text(), "EEPROM Exist");

  Items().options = {0, 0, 0, 0};
  ui.btnSetPara->click();
  EXPECT_EQ(Items().options, (std::array<std::uint8_t, 4>{0x7E, 0xE0, 0x5A, 0x80}));
}

TEST_F(ParameterPageTest, ReadBackOfTheOppositeBytesShowsTheOtherChoices) {
  Items().options = {0x81, 0x1F, 0x00, 0x7F};
  ui.btnReadPara->click();
  EXPECT_TRUE(ui.rbnI2Slen0->isChecked());
  EXPECT_TRUE(ui.rbnSPDIFlen1->isChecked());
  EXPECT_FALSE(ui.chkI2SLRSwap->isChecked());
  EXPECT_FALSE(ui.chkDSDLRSwap->isChecked());
  EXPECT_TRUE(ui.rbnMCLKOutFreq0->isChecked());
  EXPECT_TRUE(ui.rbnI2SFormat0->isChecked());
  EXPECT_TRUE(ui.rbnDSDOut0->isChecked());
  EXPECT_FALSE(ui.chkMCLKOutOff->isChecked());
  EXPECT_FALSE(ui.chkI2SOutOff->isChecked());
  EXPECT_FALSE(ui.chkSPDIFOutOff->isChecked());
  EXPECT_EQ(ui.lblEepAvail->text(), "EEPROM not Available");
}

TEST_F(ParameterPageTest, EachOptionControlChangesOnlyItsOwnBits) {
  // From a block whose uninterpreted bits are all set, so a handler that rebuilt a byte from
  // the controls alone would lose them.
  const ParameterBlock from{0x5E, 0x1F, 0xA5, 0x7F};
  const struct {
    const char* control;
    ParameterBlock expected;
  } rows[] = {
      {"rbnMCLKOutFreq1", {0x5E, 0x1F, 0xA5, 0x7F}},  // "256 Fs": bits 4-5 already 01
      {"rbnMCLKOutFreq0", {0x4E, 0x1F, 0xA5, 0x7F}},  // "128 Fs"
      {"rbnMCLKOutFreq2", {0x6E, 0x1F, 0xA5, 0x7F}},  // "512 Fs"
      {"rbnMCLKOutFreq3", {0x7E, 0x1F, 0xA5, 0x7F}},  // "1024 Fs"
      {"rbnI2SFormat1", {0x5E, 0x1F, 0xA5, 0x7F}},    // "Left Justify": bit 6 already set
      {"rbnI2SFormat0", {0x1E, 0x1F, 0xA5, 0x7F}},    // "Standard"
      {"rbnI2Slen0", {0x5F, 0x1F, 0xA5, 0x7F}},       // I2S 32 bit
      {"rbnSPDIFlen1", {0x5C, 0x1F, 0xA5, 0x7F}},     // S/PDIF 24 bit
      {"chkI2SLRSwap", {0x5A, 0x1F, 0xA5, 0x7F}},     // was on: off
      {"chkDSDLRSwap", {0x56, 0x1F, 0xA5, 0x7F}},
      {"rbnDSDOut0", {0xDE, 0x1F, 0xA5, 0x7F}},  // "DSD"
      {"chkMCLKOutOff", {0x5E, 0x9F, 0xA5, 0x7F}},
      {"chkI2SOutOff", {0x5E, 0x5F, 0xA5, 0x7F}},
      {"chkSPDIFOutOff", {0x5E, 0x3F, 0xA5, 0x7F}},
  };
  for (const auto& row : rows) {
    form.ParameterBlock = from;
    form.ShowParameterBlock();
    ASSERT_EQ(form.ParameterBlock, from) << "showing changed the block before " << row.control;
    qobject_cast<QAbstractButton*>(form.FindComponent(row.control))->click();
    EXPECT_EQ(form.ParameterBlock, row.expected) << row.control;
    ui.btnSetPara->click();
    EXPECT_EQ(Items().options, row.expected) << row.control << " at the device";
  }
  // Clicking "256 Fs" from the start-up block moves bits 4-5 from 10 to 01.
  form.ParameterBlock = kStartupParameterBlock;
  form.ShowParameterBlock();
  ui.rbnMCLKOutFreq1->click();
  EXPECT_EQ(form.ParameterBlock, (ParameterBlock{0x91, 0x00, 0x00, 0x00}));
  ui.rbnI2SFormat1->click();
  EXPECT_EQ(form.ParameterBlock[0], 0xD1);
  ui.rbnI2SFormat0->click();
  EXPECT_EQ(form.ParameterBlock[0], 0x91);
}

TEST_F(ParameterPageTest, EnterInTheIdEditsWritesTheFourCharactersAsTyped) {
  Enter(ui.lbledSysVID);  // the design's "6cc0"
  EXPECT_EQ(Items().vendor_id, (std::array<std::uint8_t, 4>{0x36, 0x63, 0x63, 0x30}));
  ui.lbledSysPID->clear();
  QTest::keyClicks(ui.lbledSysPID, "12");
  Enter(ui.lbledSysPID);
  EXPECT_EQ(Items().product_id, (std::array<std::uint8_t, 4>{'1', '2', 0, 0}));
  EXPECT_EQ(Starts(), (std::vector<sim::MailboxStart>{{0x10, 0x08, 0}, {0x10, 0x0A, 0}}));
  EXPECT_EQ(DataPerCommand(), (std::vector<Bytes>{{'6', 'c', 'c', '0'}, {'1', '2', 0, 0}}));

  ui.lbledSysPID->clear();
  QTest::keyClicks(ui.lbledSysPID, "ABCDE");
  EXPECT_EQ(ui.lbledSysPID->text(), "ABCD");  // the edit takes four characters
}

TEST_F(ParameterPageTest, EnterInAStringEditSendsItsFieldInChunksOfEight) {
  const struct {
    LabeledEdit* edit;
    int field;
    std::uint8_t item;
    std::string text;
    std::vector<std::size_t> sizes;
  } rows[] = {
      {ui.lbledSysStr1, 0, 0x10, "", {1}},
      {ui.lbledSysStr2, 1, 0x14, "Model 7", {8}},
      {ui.lbledSysStr3, 2, 0x18, "SN123456", {8, 1}},
      {ui.lbledSysStr1, 0, 0x10, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", {8, 8, 8, 8}},
  };
  for (const auto& row : rows) {
    transcript.Clear();
    chip.Registers().mailbox_items() = {};
    const std::size_t starts_before = Starts().size();
    row.edit->setText(QString::fromStdString(row.text));
    Enter(row.edit);

    const std::vector<Bytes> data = DataPerCommand();
    ASSERT_EQ(data.size(), row.sizes.size()) << row.text;
    Bytes joined;
    for (std::size_t k = 0; k < data.size(); ++k) {
      EXPECT_EQ(data[k].size(), row.sizes[k]) << row.text << " chunk " << k;
      EXPECT_EQ(Starts()[starts_before + k],
                (sim::MailboxStart{0x10, row.item, static_cast<std::uint8_t>(k)}))
          << row.text << " chunk " << k;
      joined.insert(joined.end(), data[k].begin(), data[k].end());
    }
    Bytes field;
    field.push_back(static_cast<std::uint8_t>(row.text.size()));
    for (const char c : row.text) field.push_back(static_cast<std::uint8_t>(c));
    EXPECT_EQ(joined, field) << row.text;
    EXPECT_EQ(Items().strings[row.field][0], row.text.size()) << row.text;
    EXPECT_EQ(Items().StringText(row.field), row.text);
    EXPECT_EQ(Pauses(50), static_cast<int>(row.sizes.size())) << row.text;
  }
}

TEST_F(ParameterPageTest, AStringOver31CharactersIsRefusedWithNothingSent) {
  ui.lbledSysStr3->setText(QString(32, 'S'));
  Enter(ui.lbledSysStr3);
  EXPECT_EQ(dialogs.messages, QStringList{"String is longer than 31 characters !!    "});
  EXPECT_TRUE(NothingSent());
  EXPECT_TRUE(Starts().empty());
}

TEST_F(ParameterPageTest, OtherKeysInTheFiveEditsSendNothing) {
  for (QWidget* edit : std::initializer_list<QWidget*>{
           ui.lbledSysVID, ui.lbledSysPID, ui.lbledSysStr1, ui.lbledSysStr2, ui.lbledSysStr3}) {
    for (const Qt::Key key : {Qt::Key_A, Qt::Key_Escape, Qt::Key_Tab, Qt::Key_Space}) {
      QTest::keyClick(edit, key);
    }
  }
  EXPECT_TRUE(NothingSent());
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(ParameterPageTest, WithoutADeviceReadBackShowsTheBlockAsItWas) {
  ui.chkDSDLRSwap->click();
  const ParameterBlock before = form.ParameterBlock;
  chip.Unplug();
  Items().options = {0x7E, 0xE0, 0x5A, 0x80};
  ui.btnReadPara->click();
  ui.btnSetPara->click();
  EXPECT_EQ(form.ParameterBlock, before);
  EXPECT_TRUE(ui.chkDSDLRSwap->isChecked());
  EXPECT_TRUE(ui.rbnMCLKOutFreq2->isChecked());
  EXPECT_EQ(Items().options, (std::array<std::uint8_t, 4>{0x7E, 0xE0, 0x5A, 0x80}));
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_TRUE(dialogs.errors.isEmpty());
}

}  // namespace
}  // namespace velmora::test
