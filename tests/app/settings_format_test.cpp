// The settings as stored: the registry's value bytes and the INI file's names and texts. Files and
// registry values on users' machines rely on these staying as they are; startup_test reads such
// files as other programs or a hand write them.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "ini_settings_store.h"
#include "registry_values.h"

namespace velmora {
namespace {

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

}  // namespace
}  // namespace velmora
