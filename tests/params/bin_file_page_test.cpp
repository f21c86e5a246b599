// The "Gen. Bin File" tab through the window: load an image, find its user table, write the
// seven fields from the edit boxes and save the whole image to a new file.
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <filesystem>

#include "bin_file_page_fixture.h"
#include "labeled_edit.h"
#include "loader_test_files.h"
#include "user_table.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kReady = "Load file ready";
constexpr const char* kInvalid = "Load file is invalid for modify";

// What " Save" makes of `image` with the design-time texts in the edit boxes.
Bytes WithDesignFields(Bytes image, std::size_t table) {
  const Bytes ids = {0x6C, 0xCF, 0x60, 0x12};
  std::copy(ids.begin(), ids.end(), image.begin() + static_cast<std::ptrdiff_t>(table + 13));
  const char* texts[] = {"Velmora-inc", "Velmora-inc UAC22", "VLUA170405", "Primary Play Interface",
                         "Record Interface"};
  for (std::size_t k = 0; k < 5; ++k) {
    std::string field = texts[k];
    field.resize(32, ' ');
    std::copy(field.begin(), field.end(),
              image.begin() + static_cast<std::ptrdiff_t>(table + 17 + 32 * k));
  }
  return image;
}

std::uint16_t Sum(const Bytes& bytes) {
  std::uint16_t sum = 0;
  for (std::uint8_t byte : bytes) sum = static_cast<std::uint16_t>(sum + byte);
  return sum;
}

TEST_F(BinFilePageTest, RawImageIsSavedByteForByteExceptTheSevenFieldsWithItsFourDigitSum) {
  // The zeroed tail is raised so that the saved image sums to 0x0A3F: the label must show the
  // leading zero.
  Bytes input = ImageWithMarker(0x1800, 0x1000);
  std::fill(input.begin() + 0x1600, input.end(), 0);
  Bytes expected = WithDesignFields(input, 0x1000);
  for (std::size_t i = 0x1600, rest = (0x0A3F - Sum(expected)) & 0xFFFF; rest > 0; ++i) {
    input[i] = expected[i] = static_cast<std::uint8_t>(std::min<std::size_t>(rest, 0xFF));
    rest -= input[i];
  }
  const QString source = WriteFile("fw.bin", input);
  LoadCurrentFile(source);
  EXPECT_EQ(dialogs.file_dialogs.back().filter, "Hex File|*.hex;*.h00|Binary File|*.bin");
  EXPECT_EQ(ui.lblCurrentFilePath->text(), source);
  EXPECT_EQ(ui.lblStatusReport->text(), kReady);
  EXPECT_TRUE(ui.btnCheck->isEnabled() && ui.GroupBox9->isEnabled());
  EXPECT_TRUE(ui.btnSaveBitBin->isEnabled() && !ui.btnSaveBin->isEnabled());

  const QString target = dir.filePath("new.bin");
  ChooseNewFile(target);
  EXPECT_EQ(dialogs.file_dialogs.back().filter, "Binary File|*.bin");
  EXPECT_EQ(ui.lblSaveBinPath->text(), target);
  EXPECT_FALSE(QFileInfo::exists(target)) << "\"New File\" only chooses the name";
  Click(ui.btnSaveBin);
  EXPECT_EQ(ReadFile(target), expected);
  EXPECT_EQ(ui.lblSaveDone->text(), "0A3F");
  EXPECT_EQ(ReadFile(source), input);

  Click(ui.btnCheck);
  EXPECT_EQ(ui.lblSaveDone->text(), "");
  EXPECT_EQ(form.UserTableOffset, 0x1000u);
}

// The command line's patch-table writes the core's design fields for options not given: they
// must be the texts the tab's boxes start with.
TEST_F(BinFilePageTest, TheBoxesStartWithTheDesignFieldsOfTheCore) {
  const UserTableFields design = DesignUserTableFields();
  EXPECT_EQ(ui.labedtNewVID->text().toUInt(nullptr, 16), design.vid);
  EXPECT_EQ(ui.labedtNewPID->text().toUInt(nullptr, 16), design.pid);
  const QLineEdit* boxes[] = {ui.edtNewStr0, ui.edtNewStr1, ui.edtNewStr2, ui.edtNewStr3,
                              ui.edtNewStr4};
  for (std::size_t k = 0; k < kUserStringCount; ++k) {
    EXPECT_EQ(boxes[k]->text().toStdString(), design.strings[k]) << k;
  }
}

TEST_F(BinFilePageTest, H00AndBinNamesPickTheirLoadersAndTheOutputIsRawWithBlankGaps) {
  Bytes image(0x500, 0xFF);  // data at 0x000..0x03F and 0x400..0x4FF, a blank gap between
  const Bytes low = testing::Pattern(0x40);
  const Bytes table_area = ImageWithMarker(0x100, 0x10);
  std::copy(low.begin(), low.end(), image.begin());
  std::copy(table_area.begin(), table_area.end(), image.begin() + 0x400);
  std::string hex;
  for (std::size_t at = 0; at < image.size(); at += 16) {
    const Bytes row(image.begin() + at, image.begin() + at + 16);
    if (row != Bytes(16, 0xFF)) hex += testing::Data(static_cast<std::uint16_t>(at), row) + "\n";
  }
  hex += testing::kEnd;
  const QByteArray raw(reinterpret_cast<const char*>(image.data()), 0x500);
  for (const auto& [name, content] :
       {std::pair{"fw.H00", QByteArray::fromStdString(hex)}, std::pair{"fw.BIN", raw}}) {
    LoadCurrentFile(WriteFile(name, content));
    EXPECT_EQ(ui.lblStatusReport->text(), kReady) << name;
    ChooseNewFile(dir.filePath(name + QString(".out")));
    Click(ui.btnSaveBin);
    EXPECT_EQ(ReadFile(dir.filePath(name + QString(".out"))), WithDesignFields(image, 0x410))
        << name;
  }
}

TEST_F(BinFilePageTest, IdentifiersAreReadAsHexadecimalAndANonNumberStopsSaveBeforeWriting) {
  LoadCurrentFile(WriteFile("fw.bin", ImageWithMarker(0x400, 0x100)));
  const QString target = dir.filePath("new.bin");
  ChooseNewFile(target);
  const struct {
    QString vid, pid;
    Bytes stored;     // at 0x10D..0x110, when saved
    QString message;  // the conversion error, when not
  } cases[] = {
      {"6CCF", "6012", {0x6C, 0xCF, 0x60, 0x12}, ""},
      {"12345", "1d7a", {0x23, 0x45, 0x1D, 0x7A}, ""},
      {"7", "FFFFFFFF", {0x00, 0x07, 0xFF, 0xFF}, ""},
      {"6CZZ", "6012", {}, "'0x6CZZ' is not a valid integer value"},
      {"6CCF", "", {}, "'0x' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    QFile::remove(target);
    const QString last_sum = ui.lblSaveDone->text();
    dialogs.errors.clear();
    ui.labedtNewVID->setText(c.vid);
    ui.labedtNewPID->setText(c.pid);
    Click(ui.btnSaveBin);
    const Bytes saved = ReadFile(target);
    if (c.message.isEmpty()) {
      ASSERT_EQ(saved.size(), 0x400u);
      EXPECT_EQ(Bytes(saved.begin() + 0x10D, saved.begin() + 0x111), c.stored)
          << c.vid.toStdString();
      EXPECT_TRUE(dialogs.errors.isEmpty());
    } else {
      EXPECT_EQ(dialogs.errors, QStringList{c.message});
      EXPECT_FALSE(QFileInfo::exists(target)) << c.message.toStdString();
      EXPECT_EQ(ui.lblSaveDone->text(), last_sum) << "the last sum stays";
    }
  }
}

// Mended: after a search that finds no table (also a table running past the image's end, or a
// load that failed) the controls stay enabled, and " Save" refuses rather than patching offset 0.
TEST_F(BinFilePageTest, AfterALoadWithoutATableSaveRefusesAndWritesNothing) {
  const Bytes no_table = ImageWithMarker(0x400, 0x100, "VLUSB_TabX");
  const struct {
    const char* what;
    QString path;
  } cases[] = {
      {"nine characters", WriteFile("plain.bin", no_table)},
      {"table past the end", WriteFile("short.bin", ImageWithMarker(0x100 + 176, 0x100))},
      {"missing file", dir.filePath("gone.bin")},
      {"no loader for .txt", WriteFile("table.txt", ImageWithMarker(0x400, 0x100))},
      {"damaged HEX", WriteFile("bad.hex", QByteArray(":10000000ZZ\r\n:00000001FF\r\n"))},
  };
  const QString good = WriteFile("fw.bin", ImageWithMarker(0x400, 0x20));
  const QString target = dir.filePath("new.bin");
  for (const auto& c : cases) {
    LoadCurrentFile(good);
    ChooseNewFile(target);
    Click(ui.btnSaveBin);
    ASSERT_TRUE(QFile::remove(target));

    LoadCurrentFile(c.path);
    EXPECT_EQ(ui.lblStatusReport->text(), kInvalid) << c.what;
    Click(ui.btnCheck);  // fails silently
    EXPECT_EQ(ui.lblStatusReport->text(), kInvalid) << c.what;
    ASSERT_TRUE(ui.btnSaveBin->isEnabled());
    Click(ui.btnSaveBin);
    EXPECT_EQ(ui.lblStatusReport->text(), "No user table in the loaded file: nothing saved")
        << c.what;
    EXPECT_EQ(ui.lblSaveDone->text(), "") << c.what;
    EXPECT_FALSE(QFileInfo::exists(target)) << c.what;
  }
  LoadCurrentFile(cases[0].path);
  Click(ui.btnSaveBin);
  EXPECT_TRUE(std::equal(no_table.begin(), no_table.end(), form.ModifyImage.begin()));
}

// Mended: a file that cannot be written is reported and leaves nothing behind.
TEST_F(BinFilePageTest, ATargetThatCannotBeWrittenIsReportedAndNothingIsLeftBehind) {
  LoadCurrentFile(WriteFile("fw.bin", ImageWithMarker(0x400, 0x100)));
  ASSERT_TRUE(QDir(dir.path()).mkdir("taken.bin"));
  const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden);
  for (const auto& [target, error] :
       {std::pair{dir.filePath("no-such-folder/new.bin"),
                  QString("Cannot create \"%1\": ").arg(dir.filePath("no-such-folder/new.bin"))},
        std::pair{
            dir.filePath("taken.bin"),
            QString("Cannot write \"%1\": not a regular file").arg(dir.filePath("taken.bin"))}}) {
    ChooseNewFile(dir.filePath("first.bin"));
    Click(ui.btnSaveBin);
    ASSERT_TRUE(QFile::remove(dir.filePath("first.bin")));

    ChooseNewFile(target);
    Click(ui.btnSaveBin);
    EXPECT_TRUE(ui.lblStatusReport->text().startsWith(error))
        << ui.lblStatusReport->text().toStdString();
    EXPECT_EQ(ui.lblSaveDone->text(), "") << error.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden), before)
        << error.toStdString();
  }
  ChooseNewFile(dir.filePath("new.bin"));
  Click(ui.btnSaveBin);
  EXPECT_EQ(ui.lblStatusReport->text(), kReady) << "a good save puts the status back";
}

// Mended: the save replaces the file a link points to, and keeps that file's permissions.
TEST_F(BinFilePageTest, SavingReplacesTheFileBehindALinkAndKeepsItsPermissions) {
  LoadCurrentFile(WriteFile("fw.bin", ImageWithMarker(0x400, 0x100)));
  const Bytes expected = WithDesignFields(ImageWithMarker(0x400, 0x100), 0x100);
  const QString real = WriteFile("real.bin", QByteArray("old"));
  const fs::path link = dir.filePath("link.bin").toStdString();
  fs::create_symlink("real.bin", link);
  ChooseNewFile(QString::fromStdString(link.string()));
  Click(ui.btnSaveBin);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFile(real), expected);

  for (const fs::perms mode : {fs::perms::owner_read | fs::perms::owner_write,
                               fs::perms::owner_all | fs::perms::group_read}) {
    fs::permissions(real.toStdString(), mode);
    ChooseNewFile(real);
    Click(ui.btnSaveBin);
    EXPECT_EQ(ReadFile(real), expected);
    EXPECT_EQ(fs::status(real.toStdString()).permissions(), mode);
  }
}

// Mended: the tab loads into its own image; what the ISP page would program stays as it was.
TEST_F(BinFilePageTest, LoadingHereLeavesTheIspPagesImageAndChecksumAlone) {
  const QString program = VELMORA_SAMPLES_DIR "/velmora-demo-fw.bin";
  form.ProgramFileName = program;
  form.ReadProgramFile();
  const velmora::ProgramImage isp_image = form.ProgramImage;
  const QString checksum = ui.lblUSBChecksum->text();

  LoadCurrentFile(WriteFile("fw.bin", ImageWithMarker(0x400, 0x100)));
  ASSERT_EQ(ui.lblStatusReport->text(), kReady);
  EXPECT_EQ(form.ProgramImage.bytes, isp_image.bytes);
  EXPECT_EQ(form.ProgramImage.length, isp_image.length);
  EXPECT_EQ(ui.lblUSBChecksum->text(), checksum);
  EXPECT_TRUE(form.FileReady);
  EXPECT_EQ(form.ProgramFileName, program);
}

}  // namespace
}  // namespace velmora::test
