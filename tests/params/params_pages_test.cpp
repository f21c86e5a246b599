// The Parameter, "Gen. Bin File" and Information tabs through the window over the virtual chip,
// asserted at the chip's mailbox and registers, at the I2C slaves and in the files saved.
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "form_fixture.h"
#include "user_table.h"

namespace velmora::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = sim::TranscriptEvent::Kind;

// `size` bytes that are neither blank nor spaces nor 'V', with `text` at `offset`.
Bytes ImageWith(std::size_t size, std::size_t offset, std::string_view text) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(0x80 + i % 61);
  std::copy(text.begin(), text.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
  return image;
}

class ParamsPagesTest : public PageTest {
 protected:
  sim::MailboxItems& Items() { return chip.Registers().mailbox_items(); }
  QString Write(const char* name, const Bytes& bytes) {
    std::ofstream(dir.filePath(name).toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return dir.filePath(name);
  }
  static Bytes Read(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void Load(const QString& path) {
    dialogs.ScriptFile(path);
    ui.CurrentFileBitBtn->click();
  }
  void SaveAs(const QString& path) {
    dialogs.ScriptFile(path);
    ui.btnSaveBitBin->click();
    ui.btnSaveBin->click();
  }
  QString Report() const { return ui.lblStatusReport->text(); }
  QTemporaryDir dir;
  const QString target = dir.filePath("new.bin");

  QLineEdit* Field(const char* row, int i) const {
    return form.FindFamilyMember<QLineEdit>(row, i);
  }
  QString DataFields() const {
    QStringList texts;
    for (int i = 0; i < 5; ++i) texts << Field("edtI2Cdat", i)->text();
    return texts.join(' ');
  }
  // The Information tab's status labels, a disabled one marked "(grey)".
  QString Status() const {
    QStringList texts;
    for (const QLabel* label : {ui.lblConnect, ui.lblMute, ui.lblCurrentFormat1, ui.lblCurrentFreq1,
                                ui.lblCurrentFormat0, ui.lblCurrentFreq0})
      texts << label->text() + (label->isEnabled() ? "" : "(grey)");
    return texts.join('|');
  }
};

TEST_F(ParamsPagesTest, ParameterTabSendsTheOptionBlockIdsAndStringsAndShowsTheBlockReadBack) {
  ShowPage(ui.Parameter);
  Attach();
  EXPECT_EQ(ui.lblEepAvail->text(), "EEPROM not Available");
  ui.btnSetPara->click();  // the start-up block
  EXPECT_EQ(Items().options, (std::array<std::uint8_t, 4>{0xA1, 0x00, 0x00, 0x00}));

  Items().options = {0x7E, 0xFF, 0x5A, 0x80};
  ui.btnReadPara->click();
  QStringList checked;  // the option controls, by name
  for (const auto* button : ui.Parameter->findChildren<QAbstractButton*>())
    if (button->isChecked()) checked << button->objectName();
  checked.sort();
  EXPECT_EQ(checked, (QStringList{"chkDSDLRSwap", "chkI2SLRSwap", "chkI2SOutOff", "chkMCLKOutOff",
                                  "chkSPDIFOutOff", "rbnDSDOut1", "rbnI2SFormat1", "rbnI2Slen1",
                                  "rbnMCLKOutFreq3", "rbnSPDIFlen0"}));
  EXPECT_EQ(ui.lblEepAvail->text(), "EEPROM Exist");
  // Each control flips its own bits; the bits no control shows go back as they came.
  for (const char* name :
       {"rbnMCLKOutFreq1", "rbnI2SFormat0", "rbnDSDOut0", "rbnI2Slen0", "rbnSPDIFlen1",
        "chkI2SLRSwap", "chkDSDLRSwap", "chkMCLKOutOff", "chkI2SOutOff", "chkSPDIFOutOff"})
    qobject_cast<QAbstractButton*>(form.FindComponent(name))->click();
  ui.btnSetPara->click();
  EXPECT_EQ(Items().options, (std::array<std::uint8_t, 4>{0x91, 0x1F, 0x5A, 0x80}));

  // Enter in an identifier or string edit writes its text as typed; no other key sends.
  transcript.Clear();
  QTest::keyClicks(ui.lbledSysStr1, "a ");
  QTest::keyClick(ui.lbledSysVID, Qt::Key_Escape);
  EXPECT_EQ(transcript.Count(Kind::Open), 0u);
  ui.lbledSysPID->setText("12");
  ui.lbledSysStr1->setText("");
  ui.lbledSysStr2->setText("Model 7");  // 8 bytes with the length: one chunk
  ui.lbledSysStr3->setText("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  for (LabeledEdit* edit :
       {ui.lbledSysVID, ui.lbledSysPID, ui.lbledSysStr1, ui.lbledSysStr2, ui.lbledSysStr3})
    QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(Items().vendor_id, (std::array<std::uint8_t, 4>{'6', 'c', 'c', '0'}));
  EXPECT_EQ(Items().product_id, (std::array<std::uint8_t, 4>{'1', '2', 0, 0}));
  EXPECT_EQ(Items().StringText(1), "Model 7");
  EXPECT_EQ(Items().StringText(2), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  unsigned waits = 0;  // one after each chunk of a string: 1 + 1 + 4
  for (const auto& e : transcript.Events()) waits += e.kind == Kind::Pause && e.ms == 50;
  EXPECT_EQ(waits, 6u);

  transcript.Clear();
  ui.lbledSysStr3->setText(QString(32, 'S'));
  QTest::keyClick(ui.lbledSysStr3, Qt::Key_Return);
  EXPECT_EQ(dialogs.messages, QStringList{"String is longer than 31 characters !!    "});
  EXPECT_EQ(transcript.Count(Kind::Open), 0u);
}

TEST_F(ParamsPagesTest, SaveWritesTheWholeImageWithTheSevenFieldsAndAFourDigitSum) {
  ShowPage(ui.BinFile);
  // A later revision's marker after a false start, and a second table the search must not take.
  Bytes input = ImageWith(0x1800, 0x0FF9, "VLUSB_TVLUSB_Table02");
  std::copy_n("VLUSB_Table01", 13, input.begin() + 0x1400);
  std::fill(input.begin() + 0x1600, input.end(), 0);
  Bytes expected = input;
  WriteUserTableFields(expected, 0x1000, DesignUserTableFields());
  // The tail is raised so that the saved image sums to 0x0A3F: the label shows the leading zero.
  for (std::size_t i = 0x1600, rest = (0x10A3F - ImageSum(expected)) & 0xFFFF; rest > 0; ++i) {
    input[i] = expected[i] = static_cast<std::uint8_t>(std::min<std::size_t>(rest, 0xFF));
    rest -= input[i];
  }
  const auto isp_image = form.ProgramImage.bytes;
  Load(Write("fw.bin", input));
  EXPECT_EQ(Report(), "Load file ready");
  EXPECT_EQ(form.ProgramImage.bytes, isp_image) << "what the ISP page programs stays as it was";
  SaveAs(target);
  EXPECT_EQ(ui.lblSaveBinPath->text(), target);
  EXPECT_EQ(Read(target), expected);
  EXPECT_EQ(ui.lblSaveDone->text(), "0A3F");

  ui.labedtNewVID->setText("12345");  // hexadecimal, the low 16 bits
  ui.labedtNewPID->setText("1d7a");
  ui.edtNewStr3->setText("0123456789abcdefghijklmnopqrstuvwxyzABCD");  // cut at 32
  ui.edtNewStr4->setText("");                                          // 32 spaces
  ui.btnSaveBin->click();
  const std::string fields = "0123456789abcdefghijklmnopqrstuv" + std::string(32, ' ');
  std::copy_n("\x23\x45\x1D\x7A", 4, expected.begin() + 0x100D);
  std::copy(fields.begin(), fields.end(), expected.begin() + 0x1071);
  EXPECT_EQ(Read(target), expected);

  ui.labedtNewVID->setText("6CZZ");  // the conversion error stops the save before writing
  SaveAs(dir.filePath("other.bin"));
  EXPECT_EQ(dialogs.errors, QStringList{"'0x6CZZ' is not a valid integer value"});
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("other.bin")));
}

// Mended: after a search that finds no table the controls stay enabled, so " Save" refuses
// rather than patching offset 0; a target that cannot be created is reported.
TEST_F(ParamsPagesTest, WithoutATableOrAWritableTargetNothingIsSaved) {
  ShowPage(ui.BinFile);
  const QString good = Write("fw.bin", ImageWith(0x20 + 177, 0x20, "VLUSB_Table01"));  // just fits
  Load(good);
  SaveAs(target);
  ASSERT_TRUE(QFile::remove(target));
  for (const QString& bad :
       {dir.filePath("missing.bin"), Write("nine.bin", ImageWith(0x400, 0x100, "VLUSB_TabX")),
        Write("short.bin", ImageWith(0x100 + 176, 0x100, "VLUSB_Table01"))}) {
    Load(bad);
    EXPECT_EQ(Report(), "Load file is invalid for modify");
    ui.btnCheck->click();
    ui.btnSaveBin->click();
    EXPECT_EQ(Report(), "No user table in the loaded file: nothing saved");
    EXPECT_EQ(ui.lblSaveDone->text(), "");
    EXPECT_FALSE(QFileInfo::exists(target)) << bad.toStdString();
  }
  Load(good);
  SaveAs(dir.filePath("no-such-folder/new.bin"));
  EXPECT_TRUE(Report().startsWith("Cannot create \"" + dir.filePath("no-such-folder/new.bin")))
      << Report().toStdString();
  EXPECT_EQ(ui.lblSaveDone->text(), "");
}

TEST_F(ParamsPagesTest, UpdateShowsTheStatusAndHidKeysPollTheFirmwareTenTimesAtMost) {
  Attach();
  ShowPage(ui.PageMI2CCtrl);  // leaves the I2C engine's bank selected
  ShowPage(ui.Information);
  chip.Registers().SetStatus(0x1A, 0x5A, 0x03);
  ui.btnUpdateStatus->click();
  EXPECT_EQ(Status(), "USB connected|Playing|DSD| DSD 256|Input Format:|Input Freq:  ");
  chip.Registers().SetStatus(0x05, 0x00, 0x05);
  ui.btnUpdateStatus->click();
  EXPECT_EQ(Status(),
            "USB connected|Mute|DSD(grey)| DSD 256(grey)|Input Format:(grey)|Input Freq:  (grey)");

  // The HID keys: the firmware takes each key in bank 0x00 and answers at the first poll.
  transcript.Clear();
  for (int i = 0; i < 5; ++i) form.FindFamilyMember<QPushButton>("btnHID", i)->click();
  EXPECT_EQ(chip.Registers().hid_keys_sent(),
            (std::vector<std::uint8_t>{0x40, 0x02, 0x10, 0x01, 0x20}));
  EXPECT_EQ(transcript.TotalPauseMs(), 50u);  // each answered at its first poll

  chip.Registers().SetHidNeverAnswers(true);
  transcript.Clear();
  ui.btnHID0->click();
  EXPECT_EQ(transcript.TotalPauseMs(), 100u);
  EXPECT_EQ(transcript.Count(Kind::Transfer), 13u);  // bank, key, command, ten polls
}

// The length bars say how many fields of their row take part, and enable just those.
TEST_F(ParamsPagesTest, SpecialI2cSendsTheFieldsTakingPartToTheSharedAddress) {
  ShowPage(ui.Information);
  ui.btnReadSpecI2C->click();  // no device found: nothing read, nothing shown
  EXPECT_EQ(DataFields(), "00 00 00 00 00");
  Attach();
  // Until Enter the group talks to 0x20, although its edit shows 60. A field is its first two
  // hexadecimal digits, any other character 0: the slave takes 0x50 as its pointer.
  ui.srblen0->setValue(5);
  ui.srblen1->setValue(2);
  EXPECT_EQ(ui.lbllencmd->text() + ui.lbllendat->text(), "52");
  EXPECT_TRUE(Field("edtI2Ccmd", 4)->isEnabled() && !Field("edtI2Cdat", 2)->isEnabled());
  for (int i = 0; i < 5; ++i)
    Field("edtI2Ccmd", i)->setText(QStringList{"5", "7F", "", "G1", "1234"}[i]);
  Field("edtI2Cdat", 0)->setText("a-");
  Field("edtI2Cdat", 2)->setText("99");  // beyond the data length: not sent
  ui.btnWriteSpecI2C->click();
  const auto& regs = chip.Registers().default_slave().regs();
  EXPECT_EQ(Bytes(regs.begin() + 0x50, regs.begin() + 0x57),
            (Bytes{0x7F, 0, 0x01, 0x12, 0xA0, 0, 0}));

  ui.edtMI2CAddr1->setText("60");
  QTest::keyClick(ui.edtMI2CAddr1, Qt::Key_Return);
  EXPECT_EQ(ui.edtMI2CAddr->text(), "60");  // the I2C Access page's edit follows
  sim::I2cSlave& at60 = chip.Registers().i2c_bus().Attach(0x60);
  for (int r = 2; r < 5; ++r) at60.SetReg(r, static_cast<std::uint8_t>(0x1A + r));
  ui.srblen0->setValue(2);
  ui.srblen1->setValue(3);
  EXPECT_TRUE(Field("edtI2Ccmd", 1)->isEnabled() && !Field("edtI2Ccmd", 2)->isEnabled());
  Field("edtI2Ccmd", 0)->setText("01");
  Field("edtI2Ccmd", 1)->setText("02");  // lands in register 1: the read starts at register 2
  ui.btnReadSpecI2C->click();
  EXPECT_EQ(DataFields(), "1C 1D 1E 00 00");
  at60.SetAcknowledges(false);
  ui.btnReadSpecI2C->click();
  EXPECT_EQ(DataFields(), "-- -- -- 00 00");
}

}  // namespace
}  // namespace velmora::test
