// Start-up and close of the window with its settings in a scratch folder: the first run, stored
// and damaged settings, density sizes, the pages that show, and what closing saves.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "form_fixture.h"
#include "ini_settings_store.h"
#include "labeled_edit.h"
#include "string_grid.h"

namespace velmora::test {
namespace {

using Kind = sim::TranscriptEvent::Kind;

struct StartupTest : ::testing::Test {
  // Builds the window as the program does, over the scratch store.
  TForm1& Start(bool all_pages = false, int dpi = 96, SettingsStore* settings = nullptr) {
    FormStartup startup = AllPagesStartup(settings != nullptr ? settings : &store);
    startup.all_pages = all_pages;
    startup.screen_dpi = dpi;
    window = std::make_unique<TForm1>(usb, clock, dialogs, pump, startup);
    window->Timer1->stop();
    return *window;
  }
  Ui::TForm1& ui() { return *window->ui; }
  void Close() { ASSERT_TRUE(window->close()); }
  StoredSettings Stored() { return store.Load().value_or(StoredSettings{}); }
  // The ISP step boxes in bit order, the range choice and the start and size edits:
  // "X_XXXXX all 64 64".
  std::string IspControls() {
    std::string shown;
    for (QCheckBox* box : {ui().chkISPMode, ui().chkProtect, ui().chkReadFile, ui().chkErase,
                           ui().chkBlank, ui().chkProgram, ui().chkVerify})
      shown += box->isChecked() ? 'X' : '_';
    shown += ui().rbnRange0->isChecked() == ui().rbnRange1->isChecked() ? " ? "
             : ui().rbnRange0->isChecked()                              ? " all "
                                                                        : " assign ";
    return shown + (ui().lbledISPStart->text() + " " + ui().lbledISPRange->text()).toStdString();
  }

  QTemporaryDir dir;
  IniSettingsStore store{dir.filePath("USBTool.ini")};
  sim::Transcript transcript;
  sim::VirtualClock clock{&transcript};
  sim::VirtualUsbPlatform platform{&transcript};
  VelmoraUsb usb{platform};
  sim::VirtualChip chip{clock};
  ScriptedDialogs dialogs;
  HookedEventPump pump;
  std::unique_ptr<TForm1> window;
};

TEST_F(StartupTest, FirstRunSearches6012ShowsOnlyTheIspPageAndSavesTheDesignStates) {
  Start().show();
  EXPECT_EQ(window->windowTitle(), "KDN USB ISP ToolV1.0");
  EXPECT_EQ(window->Presence().UserMatchText(), "vid_6ccf&pid_6012");
  EXPECT_EQ(ui().lbledtVID->text() + ui().lbledtPID->text(), "6ccf6013");
  EXPECT_EQ(IspControls(), "XXXXXXX all 32 32");
  EXPECT_EQ(ui().cbxReadISPFile->currentText(), "");
  EXPECT_EQ(transcript.Count(Kind::Open), 0u);  // no page entered on the way talks to the device
  // The designed place would reach past the offscreen 800 x 600 screen.
  EXPECT_TRUE(window->screen()->availableGeometry().contains(window->geometry()));
  const QTabWidget* pages = ui().MainPageControl;
  for (int i = 0; i < pages->count(); ++i)
    EXPECT_EQ(pages->isTabVisible(i), pages->widget(i) == ui().PageISPCtrl) << i;
  EXPECT_EQ(pages->currentWidget(), ui().PageISPCtrl);
  for (QWidget* hidden : std::vector<QWidget*>{ui().pnlISPFuncTest, ui().gbxISPRange,
                                               ui().chkISPMode, ui().chkProtect, ui().chkVerify})
    EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();
  for (QWidget* shown : std::vector<QWidget*>{ui().USBLoadFileBitBtn, ui().cbxReadISPFile,
                                              ui().btnUSBISPAuto, ui().lblUSBISPProcess})
    EXPECT_TRUE(shown->isVisible()) << shown->objectName().toStdString();
  for (StringGrid* grid : {ui().RegStringGrid1, ui().StringGridMIIC}) {
    EXPECT_EQ(grid->Cell(11, 0) + grid->Cell(16, 0) + grid->Cell(0, 1), "0A0F00");
    EXPECT_EQ(grid->Cell(0, 2) + grid->Cell(0, 16) + grid->Cell(0, 0), "10F0");
  }
  Close();
  EXPECT_EQ(Stored().isp_setting, 0x000404FFu);
  EXPECT_EQ(Stored().usb_vid.value_or("") + Stored().usb_pid.value_or(""), "6ccf6012");
  EXPECT_EQ(Stored().isp_file_name, "");
  Start();
  EXPECT_EQ(IspControls(), "XXXXXXX all 32 32");
}

TEST_F(StartupTest, StoredSettingsSetTheStepsTheRangeAndTheIdsAndGoBackAsTheyCame) {
  const std::string a255(255, 'a');
  const struct {
    std::optional<std::uint32_t> isp_setting;
    std::optional<std::string> vid, pid;
    std::string controls, match_text, ids_saved;
    std::uint32_t range_start;
  } rows[] = {
      {{}, {}, "6012", "X_XXXXX all 64 64", "vid_6ccf&pid_6012", "6ccf/6012", 0},
      {0x00100802, "6CCF", "60A2", "_X_____ assign 128 64", "vid_6ccf&pid_60a2", "6CCF/60A2",
       128 << 10},
      {0xFF0000BF, "", "", "XXXXXX_ all 0 0", "vid_6ccf&pid_6012", "6ccf/6012", 0},
      {0x0001FF40,
       std::string(300, 'a'),
       {},
       "______X assign 8 2040",
       "vid_" + a255.substr(0, 27),
       a255 + "/6012",
       8 << 10},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(store.Save({row.isp_setting, {}, row.vid, row.pid}));
    Start(true);
    EXPECT_EQ(IspControls(), row.controls);
    EXPECT_EQ(ui().lbledISPStart->isEnabled(), row.controls.find(" all ") == std::string::npos);
    EXPECT_EQ(window->RangeStart, row.range_start) << row.controls;
    EXPECT_EQ(window->Presence().UserMatchText(), row.match_text);
    EXPECT_EQ(ui().lbledtPID->text(), "6013");
    Close();
    EXPECT_EQ(Stored().usb_vid.value_or("") + "/" + Stored().usb_pid.value_or(""), row.ids_saved);
  }
}

TEST_F(StartupTest, TheLastProgramFileIsOfferedNotLoadedAndOnlyWhileItExists) {
  const QString kept = dir.filePath("kept.bin");
  QFile file(kept);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("\x01\x02") == 2);
  file.close();
  ASSERT_TRUE(store.Save({{}, QFile::encodeName(kept).toStdString(), {}, {}}));
  Start();
  EXPECT_EQ(window->ProgramFileName, kept);
  EXPECT_EQ(ui().cbxReadISPFile->currentText(), kept);
  EXPECT_FALSE(window->FileReady);
  ASSERT_TRUE(QFile::remove(kept));
  Start();
  EXPECT_TRUE(window->ProgramFileName.isEmpty());
  EXPECT_EQ(ui().cbxReadISPFile->count(), 0);
  Close();
  EXPECT_EQ(Stored().isp_file_name, "");
}

TEST_F(StartupTest, TheWindowIsSizedByScreenDensity) {
  const struct {
    int dpi;
    bool all_pages;
    QSize window;
    int pages_height;
  } rows[] = {{119, false, {606, 360}, 220},
              {120, false, {746, 500}, 360},
              {96, true, {606, 618}, 489},
              {120, true, {746, 758}, 629}};
  for (const auto& row : rows) {
    Start(row.all_pages, row.dpi);
    EXPECT_EQ(window->size(), row.window) << row.dpi << " dpi, all pages " << row.all_pages;
    EXPECT_EQ(ui().MainPageControl->height(), row.pages_height) << row.dpi;
  }
}

TEST_F(StartupTest, ClosingClosesAHeldDeviceAndSavesTheRangeInItsBytesAndIdsTakenWithEnter) {
  chip.PlugInto(platform);
  Start(true);
  ui().chkDetectUSB->click();  // off: the id boxes take Enter
  ui().lbledtPID->setText(QString(400, 'b'));
  QTest::keyClick(ui().lbledtPID, Qt::Key_Return);
  ui().lbledtPID->setText("7002");  // typed without Enter: not taken
  usb.SetMatchText("vid_6ccf&pid_6012");
  ASSERT_TRUE(usb.FindDevice() && usb.Open());
  ui().chkProtect->setChecked(false);
  ui().rbnRange1->setChecked(true);
  ui().lbledISPStart->setText("4096");  // 2048 KB or more: the byte's 255
  ui().lbledISPRange->setText("33");    // rounded down to 4 units of 8 KB
  ui().cbxReadISPFile->setEditText(QString(256, 'c'));
  transcript.Clear();
  Close();
  EXPECT_EQ(transcript.Count(Kind::Close), 1u);
  EXPECT_EQ(Stored().isp_setting, 0x00FF047Du);
  EXPECT_EQ(Stored().usb_pid, std::string(255, 'b'));
  EXPECT_EQ(Stored().isp_file_name, std::string(255, 'c'));

  ui().lbledISPRange->setText("lots");  // no number: the stored value stays
  window->SaveSettings();
  EXPECT_EQ(Stored().isp_setting, 0x00FF047Du);
  ui().lbledISPStart->setText("-8");
  ui().lbledISPRange->setText("$10");  // the toolkit's hexadecimal: 16
  window->SaveSettings();
  EXPECT_EQ(Stored().isp_setting, 0x0000027Du);
  EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(StartupTest, DamagedOrUnwritableSettingsFallBackToTheDesignSilently) {
  QFile file(store.FilePath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[General\nISPSetting=0\nUsbPIDSet=7777\n");
  file.close();
  Start();
  EXPECT_EQ(IspControls(), "XXXXXXX all 32 32");
  EXPECT_EQ(window->Presence().UserMatchText(), "vid_6ccf&pid_6012");

  IniSettingsStore unwritable(dir.filePath("USBTool.ini/USBTool.ini"));  // under a file
  Start(false, 96, &unwritable);
  Close();
  EXPECT_EQ(unwritable.Load(), std::nullopt);
  EXPECT_TRUE(dialogs.messages.isEmpty() && dialogs.errors.isEmpty());
}

}  // namespace
}  // namespace velmora::test
