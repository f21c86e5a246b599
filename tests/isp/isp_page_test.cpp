// The ISP page through the window over the virtual chip: each handler reads its controls, calls
// the flash engine and writes its labels; the boxes and texts that only the window shows.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "form_fixture.h"  // and the window's generated form with every control

namespace velmora::test {
namespace {

const QString kDemo = VELMORA_SAMPLES_DIR "/velmora-demo-fw.";

std::vector<std::uint8_t> FileBytes(const QString& path) {
  QFile file(path);
  const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  return {bytes.begin(), bytes.end()};
}

class IspPageTest : public PageTest {
 protected:
  IspPageTest() { ShowPage(ui.PageISPCtrl); }
  void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  QString WriteFile(const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) ? file.fileName() : QString();
  }
  bool Idle() const { return ui.btnUSBISPAuto->text() == "Auto" && !form.AutoBusy; }
  QString Info() const { return ui.lblUSBProcessInfo->text(); }
  QTemporaryDir dir;
};

TEST_F(IspPageTest, AutoLoadsTheTypedFileProgramsItIsBusyOnlyWhileItRunsAndAClickStopsIt) {
  Attach();
  ui.cbxReadISPFile->setEditText(kDemo + "hex");
  int pumps = 0, busy_pumps = 0;
  pump.hook = [&](int) {
    ++pumps;
    busy_pumps += form.AutoBusy && ui.btnUSBISPAuto->text() == "Stop";
  };
  Click(ui.btnUSBISPAuto);
  EXPECT_EQ(busy_pumps, pumps);
  EXPECT_GT(pumps, 0);
  EXPECT_EQ(Info(), "Verifying Success");
  EXPECT_EQ(ui.lblUSBChecksum->text(), "Checksum : 0xF1AA");
  EXPECT_EQ(ui.lblUSBISPStatusReg->text(), "Status Register: 0x9C");
  EXPECT_EQ(chip.Flash().ReadRange(0, 4608), FileBytes(kDemo + "bin"));
  EXPECT_TRUE(Idle());
  EXPECT_TRUE(dialogs.messages.isEmpty());
  // A click in the next run stops it; the run still protects and leaves ISP mode.
  const std::uint32_t pages_before = chip.Flash().PagePrograms();
  bool clicked = false;
  pump.hook = [&](int) {
    if (clicked || Info() != "Start Programming") return;
    clicked = true;  // the click is delivered by this very pump, nested in the run
    QMetaObject::invokeMethod(ui.btnUSBISPAuto, "click", Qt::QueuedConnection);
  };
  Click(ui.btnUSBISPAuto);
  EXPECT_EQ(Info(), "Stopped by user");
  EXPECT_TRUE(form.StepFailed);
  EXPECT_LT(chip.Flash().PagePrograms() - pages_before, 4608u / 256);
  EXPECT_EQ(chip.Flash().Status() & 0x9C, 0x9C);
  EXPECT_FALSE(chip.InIspMode());
  EXPECT_TRUE(Idle());
}

TEST_F(IspPageTest, AutoRefusesBeforeTheDeviceIsTouched) {
  const QString empty = WriteFile("empty.hex", ":00000001FF\r\n"), txt = WriteFile("a.txt", "x");
  const struct {
    bool device;
    QString file;
    bool reload;
    const char* start;
    QString shown;  // the box, the conversion error, or else the label
  } cases[] = {
      {false, kDemo + "hex", true, "0", "USB device is NOT available !!    "},
      {true, "", true, "0", "Program File Not Ready !!    "},
      // A typed name that this run would not load: an empty image would erase the chip.
      {true, kDemo + "hex", false, "0", "Program File Not Ready !!    "},
      {true, empty, true, "0", "Program File is empty !!    "},
      {true, txt, true, "0",
       "\"" + txt +
           "\" is not a program file: its extension must begin with \"b\" (raw binary) or "
           "\"h\" (Intel HEX).    "},
      {true, kDemo + "hex", true, "abc", "'abc' is not a valid integer value"},
      // Kilobytes past 32 bits are refused, not wrapped (times 1024 both are 0x8000).
      {true, kDemo + "hex", true, "4194336", "Range beyond flash address 0xFFFFFF"},
      {true, kDemo + "hex", true, "-4194272", "Range beyond flash address 0xFFFFFF"},
  };
  ui.lbledISPRange->setText("32");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown.toStdString());
    if (c.device) Attach();
    dialogs.messages.clear();
    dialogs.errors.clear();
    ui.rbnRange1->setChecked(true);
    ui.lbledISPStart->setText(c.start);
    ui.cbxReadISPFile->setEditText(c.file);
    ui.chkReadFile->setChecked(c.reload);
    Click(ui.btnUSBISPAuto);
    EXPECT_EQ((dialogs.messages + dialogs.errors).value(0, Info()), c.shown);
    EXPECT_TRUE(transcript.Events().empty());
    EXPECT_TRUE(Idle());
  }
}

TEST_F(IspPageTest, FileAndRangeControlsFunctionTestButtonsAndReadFlashSavingTheFirst128KiB) {
  const QString other = WriteFile("fw.bin", QByteArray("\x01\x02\x03", 3));
  for (const QString& path : {kDemo + "bin", kDemo + "hex", other, kDemo + "hex"}) {
    dialogs.ScriptFile(path);
    Click(ui.USBLoadFileBitBtn);
  }
  EXPECT_EQ(dialogs.file_dialogs.back().filter, "Hex File|*.hex;*.h00|Binary File|*.bin");
  EXPECT_EQ(ui.cbxReadISPFile->count(), 3);  // each path once, the last loaded shown
  EXPECT_EQ(ui.cbxReadISPFile->currentText(), kDemo + "hex");
  EXPECT_EQ(ui.lblUSBChecksum->text(), "Checksum : 0xF1AA");

  ui.lbledISPStart->setText("32");
  ui.lbledISPRange->setText("64");
  Click(ui.rbnRange1);
  EXPECT_TRUE(ui.lbledISPStart->isEnabled() && ui.Label21->isEnabled());
  EXPECT_EQ(form.RangeStart, 0x8000u);
  EXPECT_EQ(form.RangeSize, 65536u);
  Click(ui.rbnRange0);
  EXPECT_FALSE(ui.lbledISPRange->isEnabled() || ui.Label20->isEnabled());
  EXPECT_EQ(form.RangeStart, 0u);

  Attach();
  Click(ui.btnEnterISP);
  EXPECT_EQ(ui.btnEnterISP->text(), "Exit ISP");
  Click(ui.btnUSBChipID);
  EXPECT_EQ(ui.lblUSBChipID->text(), "0xC2,  0x20,  0x13,  ");
  Click(ui.btnUSBWriteEnable);
  Click(ui.btnUSBReadStatus);
  EXPECT_EQ(ui.lblUSBStatus->text(), "0x02");
  ui.lbledtUSBWriteStatus->setText("100");  // hexadecimal, the low byte, on Enter only
  QTest::keyClick(ui.lbledtUSBWriteStatus, Qt::Key_Return);
  EXPECT_EQ(transcript.Transfers().back().data, (std::vector<std::uint8_t>{0x01, 0x00}));
  const std::pair<QPushButton*, const char*> steps[] = {
      {ui.btnUSBErase, "Flash Erase All "},
      {ui.btnUSBBlank, "Blanking Success"},
      {ui.btnUSBProgram, "Programming Success"},
      {ui.btnUSBVerify, "Verifying Success"},
      {ui.btnUSBBlank, "Blanking Fail at 0x000000"}};
  for (const auto& [button, label] : steps) {
    Click(button);
    EXPECT_TRUE(Info().startsWith(label)) << Info().toStdString();
  }
  EXPECT_EQ(chip.Flash().ReadRange(0, 4608), FileBytes(kDemo + "bin"));
  EXPECT_EQ(chip.Flash().PagePrograms(), 4608u / 256);
  chip.Flash().WriteRange(0, std::vector<std::uint8_t>(0x30000, 0x3C));
  for (const QString& target : {dir.filePath("back.bin"), dir.filePath("missing/back.bin")}) {
    dialogs.ScriptFile(target);
    Click(ui.btnReadBack);
    EXPECT_EQ(dialogs.file_dialogs.back().filter, "Binary File|*.bin");
    EXPECT_EQ(ui.lblUSBISPProcess->text(), "Verifying Addr: 0x01FFC0");
  }
  EXPECT_TRUE(Info().startsWith("Cannot create \"")) << Info().toStdString();
  EXPECT_EQ(FileBytes(dir.filePath("back.bin")), std::vector<std::uint8_t>(131072, 0x3C));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
            (QStringList{"back.bin", "fw.bin"}));
  chip.SetFlashStuckBusy(true);
  Click(ui.btnUSBErase);
  EXPECT_EQ(ui.lblUSBISPStatusReg->text(), "Status Register: 0x01");
  EXPECT_EQ(Info(), "Erase Flash Fail");
  Click(ui.btnEnterISP);
  EXPECT_EQ(ui.btnEnterISP->text(), "Enter ISP");
  EXPECT_FALSE(chip.InIspMode());
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace velmora::test
