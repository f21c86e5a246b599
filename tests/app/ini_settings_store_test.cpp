// The INI settings store in a scratch folder: names and encodings in the file, absent and bad
// values, damaged files and places that cannot be written.
#include "ini_settings_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace velmora {
namespace {

class IniSettingsStoreTest : public ::testing::Test {
 protected:
  QString Path() const { return dir.filePath("Velmora/USBTool.ini"); }
  void WriteFile(const QByteArray& text) {
    QDir().mkpath(dir.filePath("Velmora"));
    QFile file(Path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }
  QByteArray ReadFile() const {
    QFile file(Path());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir dir;
  IniSettingsStore store{Path()};
};

TEST_F(IniSettingsStoreTest, SavesTheFourValuesUnderTheirNamesAndLoadsThemBack) {
  StoredSettings values;
  values.isp_setting = 0x000404FF;
  values.isp_file_name = "/home/tech/fw, v2.hex";
  values.usb_vid = "6CCF";
  values.usb_pid = "6013";
  ASSERT_TRUE(store.Save(values));  // the folder is made on the way

  const QByteArray file = ReadFile();
  EXPECT_TRUE(file.contains("ISPSetting=263423")) << file.toStdString();
  EXPECT_TRUE(file.contains("UsbVIDSet=6CCF")) << file.toStdString();
  EXPECT_TRUE(file.contains("UsbPIDSet=6013")) << file.toStdString();
  EXPECT_TRUE(file.contains("ISPFileName=")) << file.toStdString();

  const auto loaded = IniSettingsStore(Path()).Load();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->isp_setting, 0x000404FFu);
  EXPECT_EQ(loaded->isp_file_name, "/home/tech/fw, v2.hex");
  EXPECT_EQ(loaded->usb_vid, "6CCF");
  EXPECT_EQ(loaded->usb_pid, "6013");
}

TEST_F(IniSettingsStoreTest, AValueLeftUnsetKeepsWhatTheFileHolds) {
  StoredSettings first;
  first.isp_setting = 0x00100802;
  first.usb_pid = "6012";
  ASSERT_TRUE(store.Save(first));
  StoredSettings second;
  second.usb_pid = "6013";
  ASSERT_TRUE(store.Save(second));
  const auto loaded = store.Load();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->isp_setting, 0x00100802u);
  EXPECT_EQ(loaded->usb_pid, "6013");
  EXPECT_EQ(loaded->usb_vid, std::nullopt);
  EXPECT_EQ(loaded->isp_file_name, std::nullopt);
}

TEST_F(IniSettingsStoreTest, NoFileIsNoSettingsAndAnEmptyFileIsSettingsWithoutValues) {
  EXPECT_EQ(store.Load(), std::nullopt);
  WriteFile("");
  const auto loaded = store.Load();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->isp_setting, std::nullopt);
  EXPECT_EQ(loaded->usb_vid, std::nullopt);
}

// Each case as another program or a hand would write the file: a path with an unquoted comma is
// still the one path, as written.
TEST_F(IniSettingsStoreTest, IspSettingOtherThanA32BitNumberIsAbsent) {
  const struct {
    const char* text;
    std::optional<std::uint32_t> value;
  } cases[] = {
      {"263423", 0x000404FFu},
      {"0", 0u},
      {"4294967295", 0xFFFFFFFFu},
      {"4294967296", {}},
      {"-1", {}},
      {"0x404FF", {}},
      {"abc", {}},
      {"", {}},
      {"12 34", {}},
  };
  int number = 0;
  for (const auto& c : cases) {
    // A file of its own per case: Qt keeps a read file cached while its size and time stay.
    const QString path = dir.filePath(QString("case%1.ini").arg(++number));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("[General]\nISPSetting=") + c.text +
               "\nUsbVIDSet=6ccf\nISPFileName=/fw/a,b.hex\n");
    file.close();
    const auto loaded = IniSettingsStore(path).Load();
    ASSERT_TRUE(loaded) << c.text;
    EXPECT_EQ(loaded->isp_setting, c.value) << c.text;
    EXPECT_EQ(loaded->usb_vid, "6ccf") << c.text;
    EXPECT_EQ(loaded->isp_file_name, "/fw/a,b.hex") << c.text;
  }
}

TEST_F(IniSettingsStoreTest, ADamagedFileIsNoSettingsAndTheNextSaveStillWorks) {
  WriteFile("[General\nISPSetting=263423\n");
  EXPECT_EQ(store.Load(), std::nullopt);
  StoredSettings values;
  values.usb_vid = "6ccf";
  EXPECT_TRUE(store.Save(values));
  const auto loaded = store.Load();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->usb_vid, "6ccf");
}

TEST_F(IniSettingsStoreTest, APlaceThatCannotBeWrittenSavesNothing) {
  // A file where the folder should be: not even root can create the settings there.
  QFile blocker(dir.filePath("Velmora"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  StoredSettings values;
  values.usb_vid = "6ccf";
  EXPECT_FALSE(store.Save(values));
  EXPECT_FALSE(QFile::exists(Path()));
  EXPECT_EQ(store.Load(), std::nullopt);
}

TEST(IniSettingsStorePlace, TheUsersFileIsVelmoraUsbToolIniInTheConfigFolder) {
  const QString path = IniSettingsStore::UserFilePath("Velmora", "USBTool");
  EXPECT_TRUE(path.endsWith("/Velmora/USBTool.ini")) << path.toStdString();
  EXPECT_TRUE(IniSettingsStore::UserFilePath("Velmora", "USBTool-demo")
                  .endsWith("/Velmora/USBTool-demo.ini"));
}

}  // namespace
}  // namespace velmora
