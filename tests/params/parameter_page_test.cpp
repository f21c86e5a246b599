// The Parameter tab through the window, against the virtual chip's mailbox: which bits each
// option control owns, and what "Set", "Read back" and Enter in the edits leave in the device.
#include <QAbstractButton>
#include <QLabel>
#include <QTest>

#include "form_fixture.h"
#include "labeled_edit.h"

namespace velmora::test {
namespace {

class ParameterPageTest : public PageTest {
 protected:
  ParameterPageTest() {
    ShowPage(ui.Parameter);
    Attach();
  }
  sim::MailboxItems& Items() { return chip.Registers().mailbox_items(); }
  const std::vector<sim::MailboxStart>& Starts() { return chip.Registers().mailbox_starts(); }
  // The option controls that are checked, by name.
  QStringList Checked() const {
    QStringList names;
    for (const auto* button : ui.Parameter->findChildren<QAbstractButton*>())
      if (button->isChecked()) names << button->objectName();
    names.sort();
    return names;
  }
};

TEST_F(ParameterPageTest, ReadBackShowsTheBlockAndSetSendsItBackWithTheBitsNotShown) {
  EXPECT_EQ(Checked(), (QStringList{"rbnDSDOut0", "rbnI2SFormat0", "rbnI2Slen0", "rbnMCLKOutFreq2",
                                    "rbnSPDIFlen1"}));  // A1 00 00 00
  EXPECT_EQ(ui.lblEepAvail->text(), "EEPROM not Available");
  ui.btnSetPara->click();
  EXPECT_EQ(Items().options, (std::array<std::uint8_t, 4>{0xA1, 0x00, 0x00, 0x00}));

  Items().options = {0x7E, 0xE0, 0x5A, 0x80};
  ui.btnReadPara->click();
  EXPECT_EQ(Checked(), (QStringList{"chkDSDLRSwap", "chkI2SLRSwap", "chkI2SOutOff", "chkMCLKOutOff",
                                    "chkSPDIFOutOff", "rbnDSDOut1", "rbnI2SFormat1", "rbnI2Slen1",
                                    "rbnMCLKOutFreq3", "rbnSPDIFlen0"}));
  EXPECT_EQ(ui.lblEepAvail->text(), "EEPROM Exist");
  Items().options = {};
  ui.btnSetPara->click();
  EXPECT_EQ(Items().options, (std::array<std::uint8_t, 4>{0x7E, 0xE0, 0x5A, 0x80}));
  EXPECT_EQ(Starts(),
            (std::vector<sim::MailboxStart>{{0x10, 0x20, 0}, {0x10, 0x21, 0}, {0x10, 0x20, 0}}));
}

TEST_F(ParameterPageTest, EachOptionControlChangesOnlyItsOwnBits) {
  // From a block whose bits not shown are set, so a handler that rebuilt a byte would lose them.
  const ParameterBlock from{0x5E, 0x1F, 0xA5, 0x7F};
  const std::pair<const char*, ParameterBlock> rows[] = {
      {"rbnMCLKOutFreq0", {0x4E, 0x1F, 0xA5, 0x7F}}, {"rbnMCLKOutFreq1", from},
      {"rbnMCLKOutFreq2", {0x6E, 0x1F, 0xA5, 0x7F}}, {"rbnMCLKOutFreq3", {0x7E, 0x1F, 0xA5, 0x7F}},
      {"rbnI2SFormat0", {0x1E, 0x1F, 0xA5, 0x7F}},   {"rbnI2SFormat1", from},
      {"rbnI2Slen0", {0x5F, 0x1F, 0xA5, 0x7F}},      {"rbnSPDIFlen1", {0x5C, 0x1F, 0xA5, 0x7F}},
      {"chkI2SLRSwap", {0x5A, 0x1F, 0xA5, 0x7F}},    {"chkDSDLRSwap", {0x56, 0x1F, 0xA5, 0x7F}},
      {"rbnDSDOut0", {0xDE, 0x1F, 0xA5, 0x7F}},      {"rbnDSDOut1", from},
      {"chkMCLKOutOff", {0x5E, 0x9F, 0xA5, 0x7F}},   {"chkI2SOutOff", {0x5E, 0x5F, 0xA5, 0x7F}},
      {"chkSPDIFOutOff", {0x5E, 0x3F, 0xA5, 0x7F}}};
  for (const auto& [control, expected] : rows) {
    form.ParameterBlock = from;
    form.ShowParameterBlock();
    qobject_cast<QAbstractButton*>(form.FindComponent(control))->click();
    EXPECT_EQ(form.ParameterBlock, expected) << control;
  }
}

TEST_F(ParameterPageTest, EnterInAnEditWritesItsTextAsTypedAndNothingElseSendsAnything) {
  for (QWidget* edit : std::initializer_list<QWidget*>{ui.lbledSysVID, ui.lbledSysPID,
                                                       ui.lbledSysStr1, ui.lbledSysStr2})
    for (const Qt::Key key : {Qt::Key_A, Qt::Key_Escape, Qt::Key_Space}) QTest::keyClick(edit, key);
  EXPECT_EQ(transcript.Count(sim::TranscriptEvent::Kind::Open), 0u);

  ui.lbledSysPID->setText("12");
  ui.lbledSysStr1->setText("");
  ui.lbledSysStr2->setText("Model 7");
  ui.lbledSysStr3->setText("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  for (LabeledEdit* edit :
       {ui.lbledSysVID, ui.lbledSysPID, ui.lbledSysStr1, ui.lbledSysStr2, ui.lbledSysStr3})
    QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(Items().vendor_id, (std::array<std::uint8_t, 4>{'6', 'c', 'c', '0'}));
  EXPECT_EQ(Items().product_id, (std::array<std::uint8_t, 4>{'1', '2', 0, 0}));
  EXPECT_EQ(Items().strings[0][0], 0);
  EXPECT_EQ(Items().StringText(1), "Model 7");
  EXPECT_EQ(Items().StringText(2), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  EXPECT_EQ(Starts(), (std::vector<sim::MailboxStart>{{0x10, 0x08, 0},
                                                      {0x10, 0x0A, 0},
                                                      {0x10, 0x10, 0},
                                                      {0x10, 0x14, 0},
                                                      {0x10, 0x18, 0},
                                                      {0x10, 0x18, 1},
                                                      {0x10, 0x18, 2},
                                                      {0x10, 0x18, 3}}));
  unsigned waits = 0;  // the 50 ms pause after each chunk of a string
  for (const auto& e : transcript.Events())
    waits += e.kind == sim::TranscriptEvent::Kind::Pause && e.ms == 50;
  EXPECT_EQ(waits, 6u);

  transcript.Clear();
  ui.lbledSysStr3->setText(QString(32, 'S'));
  QTest::keyClick(ui.lbledSysStr3, Qt::Key_Return);
  EXPECT_EQ(dialogs.messages, QStringList{"String is longer than 31 characters !!    "});
  EXPECT_EQ(transcript.Count(sim::TranscriptEvent::Kind::Open), 0u);
}

}  // namespace
}  // namespace velmora::test
