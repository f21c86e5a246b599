// Start-up and close of the window with its settings in a scratch folder: the first run, stored
// and damaged settings, sizes by screen density, the pages that show, and what closing saves.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "form_fixture.h"
#include "ini_settings_store.h"
#include "labeled_edit.h"
#include "string_grid.h"

namespace velmora::test {
namespace {

using Kind = sim::TranscriptEvent::Kind;

struct StartupTest : ::testing::Test {
  // A fresh window over a fresh virtual bus, as the program builds it, over the scratch store.
  TForm1& Start(bool all_pages = false, int dpi = 96, SettingsStore* settings = nullptr) {
    FormStartup startup = AllPagesStartup(settings != nullptr ? settings : &store);
    startup.all_pages = all_pages;
    startup.screen_dpi = dpi;
    rig.reset();
    rig.emplace(startup);
    rig->form.Timer1->stop();
    return rig->form;
  }
  Ui::TForm1& ui() { return *rig->form.ui; }
  void Close() { ASSERT_TRUE(rig->form.close()); }
  StoredSettings Stored() { return store.Load().value_or(StoredSettings{}); }
  // The ISP step boxes in bit order, the range choice and the start and size edits.
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
  std::optional<FormRig> rig;
};

TEST_F(StartupTest, FirstRunSearches6012ShowsOnlyTheIspPageAndSavesTheDesignStates) {
  TForm1& form = Start(false, 120);
  form.show();
  EXPECT_EQ(form.windowTitle(), "KDN USB ISP ToolV1.0");
  EXPECT_EQ(form.size(), QSize(746, 500));  // only ISP's progress, on a screen of 120 dpi
  EXPECT_EQ(ui().MainPageControl->height(), 360);
  EXPECT_EQ(form.Presence().UserMatchText(), "vid_6ccf&pid_6012");
  EXPECT_EQ(ui().lbledtVID->text() + ui().lbledtPID->text(), "6ccf6013");
  EXPECT_EQ(IspControls(), "XXXXXXX all 32 32");
  EXPECT_EQ(rig->transcript.Count(Kind::Open), 0u);  // no page entered on the way talks to USB
  // The designed place would reach past the offscreen 800 x 600 screen.
  EXPECT_TRUE(form.screen()->availableGeometry().contains(form.geometry()));
  const QTabWidget* pages = ui().MainPageControl;
  QStringList tabs;
  for (int i = 0; i < pages->count(); ++i) {
    tabs << pages->tabText(i);
    EXPECT_EQ(pages->isTabVisible(i), pages->widget(i) == ui().PageISPCtrl) << i;
  }
  EXPECT_EQ(tabs.join('|'), "Register|I2C Access|ISP|Parameter|Information|Gen. Bin File");
  EXPECT_EQ(pages->currentWidget(), ui().PageISPCtrl);
  for (QWidget* hidden : std::vector<QWidget*>{ui().pnlISPFuncTest, ui().gbxISPRange,
                                               ui().chkISPMode, ui().chkProtect, ui().chkVerify})
    EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();
  EXPECT_TRUE(ui().btnUSBISPAuto->isVisible() && ui().cbxReadISPFile->isVisible());
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

  // A damaged file, or one that cannot be written, falls back to the design, silently.
  QFile file(store.FilePath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("[General\nUsbPIDSet=7777\n") > 0);
  file.close();
  EXPECT_EQ(Start().Presence().UserMatchText(), "vid_6ccf&pid_6012");
  EXPECT_EQ(IspControls(), "XXXXXXX all 32 32");
  IniSettingsStore unwritable(dir.filePath("USBTool.ini/USBTool.ini"));  // under a file
  Start(false, 96, &unwritable);
  Close();
  EXPECT_EQ(unwritable.Load(), std::nullopt);
  EXPECT_TRUE(rig->dialogs.messages.isEmpty() && rig->dialogs.errors.isEmpty());
}

TEST_F(StartupTest, StoredSettingsSetTheStepsTheRangeAndTheIdsAndGoBackAsTheyCame) {
  const std::string a300(300, 'a'), a255(255, 'a'), a27(27, 'a');
  const struct {
    std::optional<std::uint32_t> isp_setting;
    std::optional<std::string> vid, pid;
    std::string controls, match_text, ids_saved;
    std::uint32_t range_start;
    int dpi;  // every page shows: 606 x 618 below 120 dpi, 140 more each way from 120 on
  } rows[] = {
      {{}, {}, "6012", "X_XXXXX all 64 64", "vid_6ccf&pid_6012", "6ccf/6012", 0, 96},
      {0x00100802, "6CCF", "60A2", "_X_____ assign 128 64", "vid_6ccf&pid_60a2", "6CCF/60A2",
       128 << 10, 120},
      {0xFF0000BF, "", "", "XXXXXX_ all 0 0", "vid_6ccf&pid_6012", "6ccf/6012", 0, 119},
      {0x0001FF40, a300, {}, "______X assign 8 2040", "vid_" + a27, a255 + "/6012", 8 << 10, 96},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(store.Save({row.isp_setting, {}, row.vid, row.pid}));
    TForm1& form = Start(true, row.dpi);
    const int extra = row.dpi >= 120 ? 140 : 0;
    EXPECT_EQ(form.size(), QSize(606 + extra, 618 + extra)) << row.dpi;
    EXPECT_EQ(ui().MainPageControl->height(), 489 + extra) << row.dpi;
    EXPECT_EQ(IspControls(), row.controls);
    EXPECT_EQ(ui().lbledISPStart->isEnabled(), row.controls.find(" all ") == std::string::npos);
    EXPECT_EQ(form.RangeStart, row.range_start) << row.controls;
    EXPECT_EQ(form.Presence().UserMatchText(), row.match_text);
    EXPECT_EQ(ui().lbledtPID->text(), "6013");
    Close();
    EXPECT_EQ(Stored().usb_vid.value_or("") + "/" + Stored().usb_pid.value_or(""), row.ids_saved);
  }
}

TEST_F(StartupTest, TheLastProgramFileIsOfferedNotLoadedAndOnlyWhileItExists) {
  QFile file(dir.filePath("kept.bin"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("\x01\x02") == 2);
  file.close();
  ASSERT_TRUE(store.Save({{}, QFile::encodeName(file.fileName()).toStdString(), {}, {}}));
  EXPECT_EQ(Start().ProgramFileName, file.fileName());
  EXPECT_EQ(ui().cbxReadISPFile->currentText(), file.fileName());
  EXPECT_FALSE(rig->form.FileReady);
  ASSERT_TRUE(file.remove());
  EXPECT_TRUE(Start().ProgramFileName.isEmpty());
  EXPECT_EQ(ui().cbxReadISPFile->count(), 0);
  Close();
  EXPECT_EQ(Stored().isp_file_name, "");
}

TEST_F(StartupTest, ClosingClosesAHeldDeviceAndSavesTheRangeInItsBytesAndIdsTakenWithEnter) {
  TForm1& form = Start(true);
  ui().chkDetectUSB->click();  // off: the id boxes take Enter
  ui().lbledtPID->setText(QString(400, 'b'));
  QTest::keyClick(ui().lbledtPID, Qt::Key_Return);
  ui().lbledtPID->setText("7002");  // typed without Enter: not taken
  ASSERT_TRUE(rig->PlugAndFind() && rig->usb.Open());
  ui().chkProtect->setChecked(false);
  ui().rbnRange1->setChecked(true);
  ui().lbledISPStart->setText("4096");  // 2048 KB or more: the byte's 255
  ui().lbledISPRange->setText("33");    // rounded down to 4 units of 8 KB
  ui().cbxReadISPFile->setEditText(QString(256, 'c'));
  Close();
  EXPECT_EQ(rig->transcript.Count(Kind::Close), 1u);
  EXPECT_EQ(Stored().isp_setting, 0x00FF047Du);
  EXPECT_EQ(Stored().usb_pid, std::string(255, 'b'));
  EXPECT_EQ(Stored().isp_file_name, std::string(255, 'c'));

  ui().lbledISPRange->setText("lots");  // no number: the stored value stays
  form.SaveSettings();
  EXPECT_EQ(Stored().isp_setting, 0x00FF047Du);
  ui().lbledISPStart->setText("-8");
  ui().lbledISPRange->setText("$10");  // the toolkit's hexadecimal: 16
  form.SaveSettings();
  EXPECT_EQ(Stored().isp_setting, 0x0000027Du);
  EXPECT_TRUE(rig->dialogs.errors.isEmpty());
}

}  // namespace
}  // namespace velmora::test
