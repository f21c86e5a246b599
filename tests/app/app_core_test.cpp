// The window's plain parts. Conversions: an edit's text to an integer as the toolkit reads it, and
// the designed file-dialog filters into Qt's form. The settings as stored: the registry's value
// bytes and the INI file's names and texts; files and registry values on users' machines rely on
// these staying as they are (startup_test reads such files as other programs or a hand write
// them). The options of the tool and of the demo, and what the programs answer before any window
// exists: Qt's own options pass, anything unknown or no display to open a window on ends them in
// one line.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "command_line.h"
#include "dialogs.h"
#include "ini_settings_store.h"
#include "registry_values.h"
#include "str_to_int.h"
#include "velmora_version.h"

namespace velmora {
namespace {

TEST(StrToInt, ReadsDecimalAndPrefixedHexadecimalAndRejectsAnythingElse) {
  EXPECT_EQ(StrToInt("  -012"), -12);
  EXPECT_EQ(StrToInt("+$1F"), 31);
  EXPECT_EQ(StrToInt("-x1f"), -31);
  EXPECT_EQ(StrToInt("0Xa0"), 160);
  EXPECT_EQ(StrToInt("0xFFFFFFFF"), -1);  // hexadecimal takes all 32 bits and wraps
  for (const char* text : {"", "-", "$", "0x", "12 ", "12a", "0x 5", "0x-5", "--5", "\t5", "1.5",
                           "2147483648", "-2147483649", "$100000000"}) {
    EXPECT_EQ(StrToInt(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(QtFileDialogs, TakeTheDesignedFiltersAndExtensionsInQtsForm) {
  EXPECT_EQ(QtNameFilter("Hex File|*.hex;*.h00|Binary File|*.bin"),
            "Hex File (*.hex *.h00);;Binary File (*.bin)");
  EXPECT_EQ(QtDefaultSuffix("*.hex") + QtDefaultSuffix(".bin") + QtDefaultSuffix(""), "hexbin");
}

using Bytes = std::vector<std::uint8_t>;

TEST(SettingsFormat, RegistryValuesAreLittleEndianDwordsAndZeroEndedTexts) {
  const auto dword = RegDwordBytes(0x000404FF);
  EXPECT_EQ(Bytes(dword.begin(), dword.end()), (Bytes{0xFF, 0x04, 0x04, 0x00}));
  EXPECT_EQ(DwordFromRegValue(kRegDword, Bytes{0x01, 0x02, 0x03, 0x84}), 0x84030201u);
  EXPECT_EQ(DwordFromRegValue(kRegDword, Bytes{0xFF, 0x04, 0x04}), std::nullopt);
  EXPECT_EQ(RegSzBytes(std::string("6ccf\0x", 6)), (Bytes{'6', 'c', 'c', 'f', 0}));
  EXPECT_EQ(TextFromRegValue(kRegSz, Bytes{'6', '0', '1', '2'}), "6012");  // no terminator
  EXPECT_EQ(TextFromRegValue(kRegSz, Bytes{'a', 0, 'b', 0}), "a");
  EXPECT_EQ(TextFromRegValue(kRegDword, Bytes{'6', 0, 0, 0}), std::nullopt);
}

TEST(SettingsFormat, TheIniFileHoldsTheFourValuesAsTextsUnderTheirNames) {
  QTemporaryDir dir;
  IniSettingsStore store(dir.filePath("Velmora/USBTool.ini"));  // the folder is made on the way
  ASSERT_TRUE(store.Save({0x000404FF, "/home/tech/fw, v2.hex", "6CCF", "6013"}));
  EXPECT_EQ(store.Load()->isp_file_name, "/home/tech/fw, v2.hex");
  QFile file(store.FilePath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  for (const char* line : {"ISPSetting=263423", "UsbVIDSet=6CCF", "UsbPIDSet=6013"})
    EXPECT_TRUE(text.contains(line)) << line << " in " << text.data();
  EXPECT_TRUE(
      IniSettingsStore::UserFilePath("Velmora", "USBTool").endsWith("/Velmora/USBTool.ini"));
}

TEST(CommandLine, TheToolShowsIspOnlyTheDemoEveryPageAndAnythingUnknownIsOneLine) {
  EXPECT_FALSE(ReadCommandLine({"velmora-usbtool"}, Program::Tool).all_pages);
  EXPECT_TRUE(ReadCommandLine({"velmora-usbtool", "-all-pages"}, Program::Tool).all_pages);
  EXPECT_TRUE(ReadCommandLine({"velmora-usbtool-demo"}, Program::Demo).all_pages);
  EXPECT_EQ(ReadCommandLine({"velmora-usbtool", "--version"}, Program::Tool).out,
            QString("velmora-usbtool ") + kVersion + "\n");
  EXPECT_EQ(ReadCommandLine({"x", "--all-pages", "--isp-only"}, Program::Demo).err,
            "velmora-usbtool-demo: --all-pages and --isp-only exclude each other (try --help)\n");

  qunsetenv("DISPLAY");
  qunsetenv("WAYLAND_DISPLAY");
  qputenv("QT_QPA_PLATFORM", "xcb");
  const auto answer = [](std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    ::testing::internal::CaptureStderr();
    const std::optional<int> code = AnswerBeforeGui(int(argv.size()), argv.data(), Program::Tool);
    return std::to_string(code.value_or(-1)) + " " + ::testing::internal::GetCapturedStderr();
  };
  EXPECT_EQ(answer({"velmora-usbtool", "-style", "fusion", "-platform=offscreen"}), "-1 ");
  EXPECT_EQ(answer({"velmora-usbtool", "-platform", "offscreen", "--isp-only"}),
            "2 velmora-usbtool: unknown option 'isp-only' (try --help)\n");
  EXPECT_EQ(answer({"velmora-usbtool", "--all-pages"}),
            "1 velmora-usbtool: no display to open the window on (DISPLAY is not set); velmora-isp "
            "programs the chip from the command line\n");
}

}  // namespace
}  // namespace velmora
