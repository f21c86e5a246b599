// The "Gen. Bin File" tab through the window: load an image, find its user table, write the
// seven fields from the edit boxes and save the whole image to a new file. The tab never talks
// to the device.
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "form_fixture.h"
#include "labeled_edit.h"
#include "loader_test_files.h"
#include "user_table.h"

namespace velmora::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class BinFilePageTest : public PageTest {
 protected:
  BinFilePageTest() { ShowPage(ui.BinFile); }

  // `size` bytes that are neither blank nor spaces nor 'V', with `marker` at `offset`.
  static Bytes Image(std::size_t size, std::size_t offset, std::string_view marker) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(0x80 + i % 61);
    std::copy(marker.begin(), marker.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
    return image;
  }
  QString Write(const QString& name, const Bytes& bytes) {
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return file.fileName();
  }
  static Bytes Read(const QString& path) {
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return {bytes.begin(), bytes.end()};
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
  QString Status() const { return ui.lblStatusReport->text(); }

  QTemporaryDir dir;
  const QString target = dir.filePath("new.bin");
};

TEST_F(BinFilePageTest, RawAndHexImagesAreSavedWholeWithTheSevenFieldsAndAFourDigitSum) {
  Bytes input = Image(0x1800, 0x1000, "VLUSB_Table01");
  std::fill(input.begin() + 0x400, input.begin() + 0x1000, 0xFF);  // a gap the HEX file skips
  std::fill(input.begin() + 0x1600, input.end(), 0);
  Bytes expected = input;
  WriteUserTableFields(expected, 0x1000, DesignUserTableFields());
  // The tail is raised so that the saved image sums to 0x0A3F: the label shows the leading zero.
  for (std::size_t i = 0x1600, rest = (0x10A3F - ImageSum(expected)) & 0xFFFF; rest > 0; ++i) {
    input[i] = expected[i] = static_cast<std::uint8_t>(std::min<std::size_t>(rest, 0xFF));
    rest -= input[i];
  }
  std::string hex;
  for (std::size_t at = 0; at < input.size(); at += 16) {
    const Bytes row(input.begin() + at, input.begin() + at + 16);
    if (row != Bytes(16, 0xFF)) hex += testing::Data(static_cast<std::uint16_t>(at), row) + "\n";
  }
  hex += testing::kEnd;
  const auto isp_image = form.ProgramImage.bytes;
  for (const auto& [name, content] :
       {std::pair{"fw.BIN", input}, std::pair{"fw.H00", Bytes(hex.begin(), hex.end())}}) {
    Load(Write(name, content));
    EXPECT_EQ(Status(), "Load file ready") << name;
    EXPECT_TRUE(ui.btnCheck->isEnabled() && ui.GroupBox9->isEnabled());
    dialogs.ScriptFile(target);
    ui.btnSaveBitBin->click();
    EXPECT_EQ(ui.lblSaveBinPath->text(), target);
    EXPECT_FALSE(QFileInfo::exists(target)) << "\"New File\" only chooses the name";
    ui.btnSaveBin->click();
    EXPECT_EQ(Read(target), expected) << name;
    EXPECT_EQ(ui.lblSaveDone->text(), "0A3F");
    ASSERT_TRUE(QFile::remove(target));
  }
  EXPECT_EQ(form.ProgramImage.bytes, isp_image) << "what the ISP page programs stays as it was";
  ui.btnCheck->click();
  EXPECT_EQ(ui.lblSaveDone->text(), "");
}

TEST_F(BinFilePageTest, IdentifiersAreHexadecimalAndANonNumberStopsSaveBeforeWriting) {
  Load(Write("fw.bin", Image(0x400, 0x100, "VLUSB_Table01")));
  const struct {
    QString vid, pid;
    Bytes stored;     // at 0x10D..0x110, when saved
    QString message;  // the conversion error, when not
  } cases[] = {
      {"12345", "1d7a", {0x23, 0x45, 0x1D, 0x7A}, ""},
      {"6CZZ", "6012", {}, "'0x6CZZ' is not a valid integer value"},
      {"6CCF", "", {}, "'0x' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    dialogs.errors.clear();
    ui.labedtNewVID->setText(c.vid);
    ui.labedtNewPID->setText(c.pid);
    SaveAs(target);
    EXPECT_EQ(dialogs.errors.join(""), c.message);
    EXPECT_FALSE(ui.lblSaveDone->text().isEmpty()) << "a failed save keeps the last sum";
    const Bytes saved = Read(target);
    EXPECT_EQ(saved.empty() ? Bytes{} : Bytes(saved.begin() + 0x10D, saved.begin() + 0x111),
              c.stored);
    QFile::remove(target);
  }
}

// Mended: after a search that finds no table the controls stay enabled, so " Save" refuses
// rather than patching offset 0; a target that cannot be created is reported.
TEST_F(BinFilePageTest, WithoutATableOrAWritableTargetNothingIsSaved) {
  const QString good = Write("fw.bin", Image(0x400, 0x20, "VLUSB_Table01"));
  for (const QString& bad : {Write("nine.bin", Image(0x400, 0x100, "VLUSB_TabX")),
                             Write("short.bin", Image(0x100 + 176, 0x100, "VLUSB_Table01")),
                             dir.filePath("missing.bin")}) {
    Load(good);
    SaveAs(target);
    ASSERT_TRUE(QFile::remove(target));
    Load(bad);
    EXPECT_EQ(Status(), "Load file is invalid for modify");
    ui.btnCheck->click();
    ui.btnSaveBin->click();
    EXPECT_EQ(Status(), "No user table in the loaded file: nothing saved");
    EXPECT_EQ(ui.lblSaveDone->text(), "");
    EXPECT_FALSE(QFileInfo::exists(target)) << bad.toStdString();
  }
  Load(good);
  SaveAs(dir.filePath("no-such-folder/new.bin"));
  EXPECT_TRUE(Status().startsWith("Cannot create \"" + dir.filePath("no-such-folder/new.bin")))
      << Status().toStdString();
  EXPECT_EQ(ui.lblSaveDone->text(), "");
  SaveAs(target);
  EXPECT_EQ(Status(), "Load file ready") << "a good save puts the status back";
}

}  // namespace
}  // namespace velmora::test
