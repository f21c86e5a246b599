// The settings as stored: the ISPSetting bits, the registry's value bytes and the INI file's
// names and texts. Files and registry values on users' machines rely on these staying as they are.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "ini_settings_store.h"
#include "isp_setting.h"
#include "registry_values.h"

namespace velmora {
namespace {

constexpr bool X = true, _ = false;
using Bytes = std::vector<std::uint8_t>;

QByteArray FileText(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(SettingsFormat, IspSettingIsTheSameBitsInTheCodecTheRegistryAndTheIniFile) {
  const struct {
    IspSetting setting;  // steps, "All", size KB, start KB
    Bytes dword;
    const char* ini;
  } rows[] = {
      {{{X, X, X, X, X, X, X}, true, 32, 32}, {0xFF, 0x04, 0x04, 0x00}, "ISPSetting=263423"},
      {kIspSettingWhenAbsent, {0xFD, 0x08, 0x08, 0x00}, "ISPSetting=526589"},
      {{{_, X, _, _, _, _, _}, false, 64, 128}, {0x02, 0x08, 0x10, 0x00}, "ISPSetting=1050626"},
      {{{X, _, _, _, _, _, X}, true, 2040, 8}, {0xC1, 0xFF, 0x01, 0x00}, "ISPSetting=131009"},
  };
  QTemporaryDir dir;
  for (const auto& row : rows) {
    const std::uint32_t value = EncodeIspSetting(row.setting);
    const auto bytes = RegDwordBytes(value);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), row.dword) << row.ini;
    EXPECT_EQ(DwordFromRegValue(kRegDword, row.dword), value) << row.ini;
    EXPECT_EQ(DecodeIspSetting(value), row.setting) << row.ini;
    EXPECT_EQ(DecodeIspSetting(value | 0xFF000000u), row.setting) << row.ini;  // top byte unused
    IniSettingsStore store(dir.filePath(row.ini) + "/USBTool.ini");
    ASSERT_TRUE(store.Save({value, {}, {}, {}}));  // the folder is made on the way
    EXPECT_TRUE(FileText(store.FilePath()).contains(row.ini)) << row.ini;
    EXPECT_EQ(IniSettingsStore(store.FilePath()).Load()->isp_setting, value);
  }
  EXPECT_EQ(DwordFromRegValue(kRegDword, Bytes{0xFF, 0x04, 0x04}), std::nullopt);
  EXPECT_EQ(DwordFromRegValue(kRegSz, Bytes{'1', '2', '3', 0}), std::nullopt);
}

TEST(SettingsFormat, TextsAreTheirBytesInTheRegistryAndTheirTextInTheIniFile) {
  EXPECT_EQ(RegSzBytes(std::string("6ccf\0x", 6)), (Bytes{'6', 'c', 'c', 'f', 0}));
  EXPECT_EQ(TextFromRegValue(kRegSz, Bytes{'6', '0', '1', '2'}), "6012");  // no terminator
  EXPECT_EQ(TextFromRegValue(kRegSz, Bytes{'a', 0, 'b', 0}), "a");
  EXPECT_EQ(TextFromRegValue(kRegDword, Bytes{'6', 0, 0, 0}), std::nullopt);

  QTemporaryDir dir;
  IniSettingsStore store(dir.filePath("USBTool.ini"));
  ASSERT_TRUE(store.Save({{}, "/home/tech/fw, v2.hex", "6CCF", "6012"}));
  ASSERT_TRUE(store.Save({{}, {}, {}, "6013"}));  // a value left unset keeps what is stored
  const auto loaded = store.Load();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->isp_file_name.value_or("") + loaded->usb_vid.value_or(""),
            "/home/tech/fw, v2.hex6CCF");
  const QByteArray text = FileText(store.FilePath());
  EXPECT_TRUE(text.contains("UsbVIDSet=6CCF") && text.contains("UsbPIDSet=6013")) << text.data();
  EXPECT_TRUE(
      IniSettingsStore::UserFilePath("Velmora", "USBTool").endsWith("/Velmora/USBTool.ini"));

  // As another program or a hand writes it: a comma in a path is still the one path, and an
  // ISPSetting that is not a 32-bit decimal number is absent.
  int number = 0;
  for (const char* value : {"4294967295", "4294967296", "-1", "0x404FF", "abc", ""}) {
    QFile hand(dir.filePath(QString("hand%1.ini").arg(++number)));  // Qt caches a file read
    ASSERT_TRUE(hand.open(QIODevice::WriteOnly));
    hand.write(QByteArray("[General]\nISPSetting=") + value + "\nISPFileName=/fw/a,b.hex\n");
    hand.close();
    const auto read = IniSettingsStore(hand.fileName()).Load();
    ASSERT_TRUE(read) << value;
    EXPECT_EQ(read->isp_setting, number == 1 ? std::optional(0xFFFFFFFFu) : std::nullopt) << value;
    EXPECT_EQ(read->isp_file_name, "/fw/a,b.hex") << value;
  }
}

}  // namespace
}  // namespace velmora
