// The ISP page's program file, range group and read-back, driven through the window.
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QRadioButton>

#include "isp_page_fixture.h"
#include "labeled_edit.h"

namespace velmora::test {
namespace {

TEST_F(IspPageTest, FileButtonLoadsEitherDemoFormatShowsTheChecksumAndCancelKeepsIt) {
  for (const char* extension : {"hex", "bin"}) {
    LoadThroughFileButton(Demo(extension));
    EXPECT_EQ(dialogs.file_dialogs.back().filter, "Hex File|*.hex;*.h00|Binary File|*.bin");
    EXPECT_EQ(ui.lblUSBChecksum->text(), "Checksum : 0xF1AA") << extension;
    EXPECT_TRUE(form.FileReady);
    EXPECT_EQ(form.ProgramFileName, Demo(extension));
    EXPECT_EQ(ui.cbxReadISPFile->currentText(), Demo(extension));
    EXPECT_EQ(form.ProgramImage.length, 4608u);
  }
  const std::vector<std::uint8_t> demo = DemoImage();
  EXPECT_TRUE(std::equal(demo.begin(), demo.end(), form.ProgramImage.bytes.begin()));

  Click(ui.USBLoadFileBitBtn);  // the dialog is cancelled
  EXPECT_EQ(dialogs.file_dialogs.back().folder, QFileInfo(Demo("bin")).absolutePath());
  EXPECT_EQ(form.ProgramFileName, Demo("bin"));
  EXPECT_EQ(ui.cbxReadISPFile->count(), 2);
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(IspPageTest, HistoryHoldsEachExactPathOnceAndShowsTheLastLoaded) {
  const QString lower = WriteFile("fw.bin", QByteArray("\x01\x02\x03", 3));
  const QString upper = WriteFile("FW.bin", QByteArray("\x01\x02\x04", 3));
  for (const QString& path : {lower, lower, upper, lower}) LoadThroughFileButton(path);
  ASSERT_EQ(ui.cbxReadISPFile->count(), 2);
  EXPECT_EQ(ui.cbxReadISPFile->itemText(0), lower);
  EXPECT_EQ(ui.cbxReadISPFile->itemText(1), upper);
  EXPECT_EQ(ui.cbxReadISPFile->currentText(), lower);
  EXPECT_EQ(ui.lblUSBChecksum->text(), "Checksum : 0x0006");
}

TEST_F(IspPageTest, FailedLoadKeepsThePreviousImageAndLabelAndClearsFileReady) {
  const struct {
    const char* what;
    QString name;
  } cases[] = {
      {"missing file", dir.filePath("gone.hex")},
      {"unknown extension", WriteFile("notes.txt", "hello")},
      {"damaged HEX", WriteFile("bad.hex", ":10000000ZZ\r\n:00000001FF\r\n")},
      {"empty name", ""},
  };
  const std::vector<std::uint8_t> demo = DemoImage();
  for (const auto& c : cases) {
    LoadThroughFileButton(Demo("hex"));
    dialogs.messages.clear();
    form.ProgramFileName = c.name;
    form.ReadProgramFile();
    ASSERT_EQ(dialogs.messages.size(), 1) << c.what;
    if (c.name.isEmpty()) {
      EXPECT_EQ(dialogs.messages[0], "Program File Not Ready !!    ");
    } else {
      EXPECT_TRUE(dialogs.messages[0].contains(c.name)) << dialogs.messages[0].toStdString();
      EXPECT_TRUE(dialogs.messages[0].endsWith("!    ") || dialogs.messages[0].endsWith(".    "));
    }
    EXPECT_FALSE(form.FileReady) << c.what;
    EXPECT_EQ(form.ProgramImage.length, 4608u) << c.what;
    EXPECT_TRUE(std::equal(demo.begin(), demo.end(), form.ProgramImage.bytes.begin())) << c.what;
    EXPECT_EQ(form.ProgramImage.bytes[4608], 0xFF) << c.what;
    EXPECT_EQ(ui.lblUSBChecksum->text(), "Checksum : 0xF1AA") << c.what;
  }
}

TEST_F(IspPageTest, RangeButtonsEnableTheKilobyteEditsAndTakeTheirValuesOnlyWhenClicked) {
  const QList<QWidget*> range_controls = {ui.lbledISPStart, ui.lbledISPRange, ui.Label20,
                                          ui.Label21};
  ui.lbledISPStart->setText("32");
  ui.lbledISPRange->setText("64");
  Click(ui.rbnRange1);
  for (QWidget* control : range_controls) EXPECT_TRUE(control->isEnabled());
  EXPECT_EQ(form.RangeStart, 0x8000u);
  EXPECT_EQ(form.RangeSize, 65536u);

  // A new start typed and entered does nothing until a range button is clicked.
  ui.lbledISPStart->setText("16");
  QTest::keyClick(ui.lbledISPStart, Qt::Key_Return);
  EXPECT_EQ(form.RangeStart, 0x8000u);

  Click(ui.rbnRange0);
  for (QWidget* control : range_controls) EXPECT_FALSE(control->isEnabled());
  EXPECT_EQ(form.RangeStart, 0u);
  EXPECT_EQ(form.RangeSize, 65536u);
}

TEST_F(IspPageTest, RangeTextThatIsNoNumberEndsTheClickWithTheValuesItHadReached) {
  const struct {
    const char* start;
    const char* size;
    const char* error;
    std::uint32_t range_start, range_size;
  } cases[] = {
      {"20k", "64", "'20k' is not a valid integer value", 0, 1024},
      {"16", "", "'' is not a valid integer value", 16384, 1024},  // the start came first
  };
  for (const auto& c : cases) {
    ui.lbledISPStart->setText("0");
    ui.lbledISPRange->setText("1");
    Click(ui.rbnRange1);
    Click(ui.rbnRange0);
    dialogs.errors.clear();
    ui.lbledISPStart->setText(c.start);
    ui.lbledISPRange->setText(c.size);
    Click(ui.rbnRange1);
    EXPECT_EQ(dialogs.errors, QStringList{c.error});
    EXPECT_TRUE(ui.lbledISPStart->isEnabled());
    EXPECT_EQ(form.RangeStart, c.range_start) << c.start;
    EXPECT_EQ(form.RangeSize, c.range_size) << c.size;
  }
}

TEST_F(IspPageTest, ReadFlashSavesExactlyTheFirst128KiBOrNothing) {
  sim::VirtualChip& chip = Attach();  // 512 KiB part
  std::vector<std::uint8_t> pattern(0x30000);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i * 7);
  chip.Flash().WriteRange(0, pattern);
  Click(ui.btnEnterISP);

  const struct {
    const char* what;
    std::optional<QString> target;
    const char* label_start;
  } cases[] = {
      {"saved", dir.filePath("back.bin"), "Read Flash content Success"},
      {"cancelled", std::nullopt, "Read Flash content Success"},
      {"folder missing", dir.filePath("missing/back.bin"), "Cannot create \""},
  };
  for (const auto& c : cases) {
    dialogs.ScriptFile(c.target);
    Click(ui.btnReadBack);
    EXPECT_EQ(dialogs.file_dialogs.back().filter, "Binary File|*.bin") << c.what;
    EXPECT_TRUE(ui.lblUSBProcessInfo->text().startsWith(c.label_start))
        << c.what << ": " << ui.lblUSBProcessInfo->text().toStdString();
    EXPECT_EQ(ui.lblUSBISPProcess->text(), "Verifying Addr: 0x01FFC0") << c.what;
  }
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"back.bin"});
  QFile saved(dir.filePath("back.bin"));
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray bytes = saved.readAll();
  ASSERT_EQ(bytes.size(), 131072);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), pattern.begin(),
                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace velmora::test
