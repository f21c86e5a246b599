// The settings as stored: the ISPSetting bits, the registry's value bytes and the INI file's
// names and texts. Files and registry values on users' machines rely on these staying as they are.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <climits>

#include "ini_settings_store.h"
#include "isp_setting.h"
#include "registry_values.h"

namespace velmora {
namespace {

constexpr bool X = true, _ = false;
using Bytes = std::vector<std::uint8_t>;

TEST(SettingsFormat, IspSettingIsTheSameBitsInTheCodecTheRegistryAndTheIniFile) {
  const struct {
    IspSetting setting;  // steps, "All", size KB, start KB
    std::uint32_t value;
    Bytes dword;
  } rows[] = {
      {{{X, X, X, X, X, X, X}, true, 32, 32}, 0x000404FF, {0xFF, 0x04, 0x04, 0x00}},  // design
      {kIspSettingWhenAbsent, 0x000808FD, {0xFD, 0x08, 0x08, 0x00}},
      {{{_, X, _, _, _, _, _}, false, 64, 128}, 0x00100802, {0x02, 0x08, 0x10, 0x00}},
      {{{_, _, _, _, _, _, X}, false, 8, 0}, 0x00000140, {0x40, 0x01, 0x00, 0x00}},
      {{{X, _, _, _, _, _, _}, true, 2040, 2040}, 0x00FFFF81, {0x81, 0xFF, 0xFF, 0x00}},
  };
  QTemporaryDir dir;
  for (const auto& row : rows) {
    EXPECT_EQ(EncodeIspSetting(row.setting), row.value) << std::hex << row.value;
    EXPECT_EQ(DecodeIspSetting(row.value), row.setting) << std::hex << row.value;
    EXPECT_EQ(DecodeIspSetting(row.value | 0xFF000000u), row.setting);  // the top byte: unused
    const auto bytes = RegDwordBytes(row.value);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), row.dword);
    EXPECT_EQ(DwordFromRegValue(kRegDword, row.dword), row.value);
    IniSettingsStore store(dir.filePath(QString::number(row.value) + "/USBTool.ini"));
    ASSERT_TRUE(store.Save({row.value, {}, {}, {}}));  // the folder is made on the way
    QFile file(store.FilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("ISPSetting=" + QByteArray::number(row.value)));
    EXPECT_EQ(IniSettingsStore(store.FilePath()).Load()->isp_setting, row.value);
  }
  // Start and size are whole units of 8 KB, held in their byte.
  for (const auto& [kb, units] :
       {std::pair{7, 0u}, {33, 4u}, {2047, 255u}, {1 << 30, 255u}, {-8, 0u}, {INT_MIN, 0u}}) {
    EXPECT_EQ(EncodeIspSetting({{}, false, kb, 0}), units << 8) << "size " << kb;
    EXPECT_EQ(EncodeIspSetting({{}, false, 0, kb}), units << 16) << "start " << kb;
  }
  EXPECT_EQ(DwordFromRegValue(kRegDword, Bytes{0xFF, 0x04, 0x04}), std::nullopt);
  EXPECT_EQ(DwordFromRegValue(kRegSz, Bytes{'1', '2', '3', 0}), std::nullopt);
}

TEST(SettingsFormat, TextsAreTheirBytesInTheRegistryAndWrittenTextsInTheIniFile) {
  EXPECT_EQ(RegSzBytes(std::string("6ccf\0x", 6)), (Bytes{'6', 'c', 'c', 'f', 0}));
  EXPECT_EQ(TextFromRegValue(kRegSz, Bytes{'6', '0', '1', '2'}), "6012");  // no terminator
  EXPECT_EQ(TextFromRegValue(kRegSz, Bytes{'a', 0, 'b', 0}), "a");
  EXPECT_EQ(TextFromRegValue(kRegDword, Bytes{'6', 0, 0, 0}), std::nullopt);

  QTemporaryDir dir;
  IniSettingsStore store(dir.filePath("USBTool.ini"));
  EXPECT_EQ(store.Load(), std::nullopt);
  ASSERT_TRUE(store.Save({0x00100802, "/home/tech/fw, v2.hex", "6CCF", "6012"}));
  ASSERT_TRUE(store.Save({{}, {}, {}, "6013"}));  // a value left unset keeps what is stored
  const auto loaded = store.Load();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->isp_setting, 0x00100802u);
  EXPECT_EQ(loaded->isp_file_name, "/home/tech/fw, v2.hex");
  EXPECT_EQ(loaded->usb_vid, "6CCF");
  EXPECT_EQ(loaded->usb_pid, "6013");
  QFile file(store.FilePath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  EXPECT_TRUE(text.contains("UsbVIDSet=6CCF") && text.contains("UsbPIDSet=6013")) << text.data();
  EXPECT_TRUE(
      IniSettingsStore::UserFilePath("Velmora", "USBTool").endsWith("/Velmora/USBTool.ini"));

  // As another program or a hand writes it: a comma in a path is still the one path, and an
  // ISPSetting that is not a 32-bit decimal number is absent.
  int number = 0;
  for (const auto& [text, value] :
       {std::pair<const char*, std::optional<std::uint32_t>>{"4294967295", 0xFFFFFFFFu},
        {"4294967296", {}},
        {"-1", {}},
        {"0x404FF", {}},
        {"abc", {}},
        {"", {}}}) {
    QFile hand(dir.filePath(QString("hand%1.ini").arg(++number)));  // Qt caches a file read
    ASSERT_TRUE(hand.open(QIODevice::WriteOnly));
    hand.write(QByteArray("[General]\nISPSetting=") + text + "\nISPFileName=/fw/a,b.hex\n");
    hand.close();
    const auto read = IniSettingsStore(hand.fileName()).Load();
    ASSERT_TRUE(read) << text;
    EXPECT_EQ(read->isp_setting, value) << text;
    EXPECT_EQ(read->isp_file_name, "/fw/a,b.hex") << text;
  }

  // A damaged file is no settings, and the next save still works; a place that cannot be made
  // (a file where the folder should be) saves nothing.
  QFile damaged(store.FilePath());
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly) && damaged.write("[General\nUsbVIDSet=1\n") > 0);
  damaged.close();
  EXPECT_EQ(store.Load(), std::nullopt);
  EXPECT_TRUE(store.Save({{}, {}, "6ccf", {}}));
  EXPECT_EQ(store.Load()->usb_vid, "6ccf");
  EXPECT_FALSE(IniSettingsStore(dir.filePath("USBTool.ini/x.ini")).Save({{}, {}, "6ccf", {}}));
}

}  // namespace
}  // namespace velmora
