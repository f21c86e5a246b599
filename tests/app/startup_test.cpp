// Start-up and close of the window with its settings in a scratch folder: what the first run,
// stored settings and damaged ones give, density sizes, the pages that show, and what closing
// saves.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "hooked_event_pump.h"
#include "ini_settings_store.h"
#include "labeled_edit.h"
#include "scripted_dialogs.h"
#include "string_grid.h"
#include "tform1.h"
#include "transcript.h"
#include "ui_tform1.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"
#include "window_place.h"

namespace velmora::test {
namespace {

using Kind = sim::TranscriptEvent::Kind;

class StartupTest : public ::testing::Test {
 protected:
  // Builds the window as the program does, over the scratch store.
  TForm1& Start(bool all_pages = false, int dpi = 96) {
    FormStartup startup;
    startup.settings = &store;
    startup.all_pages = all_pages;
    startup.screen_dpi = dpi;
    form = std::make_unique<TForm1>(usb, clock, dialogs, pump, startup);
    form->Timer1->stop();  // ticks are given by the tests
    return *form;
  }
  Ui::TForm1& ui() { return *form->ui; }
  void Close() { ASSERT_TRUE(form->close()); }

  void Store(const StoredSettings& values) { ASSERT_TRUE(store.Save(values)); }
  StoredSettings Stored() {
    const auto values = store.Load();
    EXPECT_TRUE(values);
    return values.value_or(StoredSettings{});
  }

  std::vector<QCheckBox*> StepBoxes() {
    return {ui().chkISPMode, ui().chkProtect, ui().chkReadFile, ui().chkErase,
            ui().chkBlank,   ui().chkProgram, ui().chkVerify};
  }
  std::vector<bool> Steps() {
    std::vector<bool> ticked;
    for (QCheckBox* box : StepBoxes()) ticked.push_back(box->isChecked());
    return ticked;
  }
  void Tick() { ASSERT_TRUE(QMetaObject::invokeMethod(form->Timer1, "timeout")); }

  QTemporaryDir dir;
  IniSettingsStore store{dir.filePath("USBTool.ini")};
  sim::Transcript transcript;
  sim::VirtualClock clock{&transcript};
  sim::VirtualUsbPlatform platform{&transcript};
  VelmoraUsb usb{platform};
  ScriptedDialogs dialogs;
  HookedEventPump pump;
  std::unique_ptr<TForm1> form;
};

constexpr bool X = true, _ = false;

TEST_F(StartupTest, FirstRunSearchesThe6012DefaultWhileTheBoxesShow6013) {
  Start();
  EXPECT_EQ(form->windowTitle(), "KDN USB ISP ToolV1.0");
  EXPECT_TRUE(ui().chkDetectUSB->isChecked());
  EXPECT_TRUE(form->Presence().IsOn());
  EXPECT_EQ(form->Presence().UserMatchText(), "vid_6ccf&pid_6012");
  EXPECT_EQ(ui().lbledtVID->text(), "6ccf");
  EXPECT_EQ(ui().lbledtPID->text(), "6013");
  EXPECT_FALSE(ui().lbledtPID->isEnabled());
  // The ISP controls keep their designed states, "Flash Protect" included.
  EXPECT_EQ(Steps(), (std::vector<bool>{X, X, X, X, X, X, X}));
  EXPECT_TRUE(ui().rbnRange0->isChecked());
  EXPECT_EQ(ui().lbledISPStart->text(), "32");
  EXPECT_EQ(ui().lbledISPRange->text(), "32");
  EXPECT_TRUE(form->ProgramFileName.isEmpty());
  EXPECT_EQ(ui().cbxReadISPFile->currentText(), "");
  EXPECT_FALSE(form->AutoBusy);
  // Hiding the pages brings up none of them on the way ("I2C Access" would talk to the device).
  EXPECT_EQ(transcript.Count(Kind::Open), 0u);

  Tick();
  EXPECT_EQ(usb.MatchText(), "vid_6ccf&pid_6012");
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(StartupTest, SettingsWithoutIspSettingTakeTheDefaultsOfMissingIspSetting) {
  StoredSettings values;
  values.usb_pid = "6012";
  Store(values);
  Start(true);
  EXPECT_EQ(Steps(), (std::vector<bool>{X, _, X, X, X, X, X}));
  EXPECT_TRUE(ui().rbnRange0->isChecked());
  EXPECT_EQ(ui().lbledISPStart->text(), "64");
  EXPECT_EQ(ui().lbledISPRange->text(), "64");
  EXPECT_FALSE(ui().lbledISPStart->isEnabled());  // rbnRangeClick ran: "All" greys them
  EXPECT_EQ(form->RangeStart, 0u);
  EXPECT_EQ(form->Presence().UserMatchText(), "vid_6ccf&pid_6012");  // VID absent: 6ccf
}

TEST_F(StartupTest, StoredIspSettingSetsTheStepsAndTheRangeThatTakesEffect) {
  const struct {
    std::uint32_t value;
    std::vector<bool> steps;
    bool all;
    const char* start;
    const char* size;
    std::uint32_t range_start, range_size;
  } rows[] = {
      {0x00100802, {_, X, _, _, _, _, _}, false, "128", "64", 128 * 1024, 64 * 1024},
      {0x0001FF40, {_, _, _, _, _, _, X}, false, "8", "2040", 8 * 1024, 2040 * 1024},
      {0xFF0000BF, {X, X, X, X, X, X, _}, true, "0", "0", 0, 0},
  };
  for (const auto& row : rows) {
    StoredSettings values;
    values.isp_setting = row.value;
    Store(values);
    Start(true);
    EXPECT_EQ(Steps(), row.steps) << std::hex << row.value;
    EXPECT_EQ(ui().rbnRange0->isChecked(), row.all) << std::hex << row.value;
    EXPECT_EQ(ui().rbnRange1->isChecked(), !row.all) << std::hex << row.value;
    EXPECT_EQ(ui().lbledISPStart->text(), row.start) << std::hex << row.value;
    EXPECT_EQ(ui().lbledISPRange->text(), row.size) << std::hex << row.value;
    EXPECT_EQ(form->RangeStart, row.range_start) << std::hex << row.value;
    if (!row.all) {
      EXPECT_EQ(form->RangeSize, row.range_size) << std::hex << row.value;
    }
  }
}

TEST_F(StartupTest, TheDesignStatesAreSavedAsFf0404AndLoadBackAs32And32) {
  Start();
  Close();
  EXPECT_EQ(Stored().isp_setting, 0x000404FFu);
  EXPECT_EQ(Stored().usb_vid, "6ccf");
  EXPECT_EQ(Stored().usb_pid, "6012");
  EXPECT_EQ(Stored().isp_file_name, "");

  Start();
  EXPECT_EQ(Steps(), (std::vector<bool>{X, X, X, X, X, X, X}));
  EXPECT_EQ(ui().lbledISPStart->text(), "32");
  EXPECT_EQ(ui().lbledISPRange->text(), "32");
  EXPECT_TRUE(ui().rbnRange0->isChecked());
}

TEST_F(StartupTest, AnUpperCaseVidIsSearchedLowerCaseButSavedAsTyped) {
  StoredSettings values;
  values.usb_vid = "6CCF";
  values.usb_pid = "60A2";
  Store(values);
  Start();
  EXPECT_EQ(form->Presence().UserMatchText(), "vid_6ccf&pid_60a2");
  EXPECT_EQ(form->Presence().VidText(), "6CCF");
  EXPECT_EQ(ui().lbledtVID->text(), "6ccf");
  EXPECT_EQ(ui().lbledtPID->text(), "6013");
  Close();
  EXPECT_EQ(Stored().usb_vid, "6CCF");
  EXPECT_EQ(Stored().usb_pid, "60A2");
}

TEST_F(StartupTest, TheLastProgramFileIsOfferedOnlyWhileItExists) {
  const QString kept = dir.filePath("kept.bin");
  QFile file(kept);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("\x01\x02");
  file.close();

  StoredSettings values;
  values.isp_file_name = QFile::encodeName(kept).toStdString();
  Store(values);
  Start();
  EXPECT_EQ(form->ProgramFileName, kept);
  EXPECT_EQ(ui().cbxReadISPFile->currentText(), kept);
  EXPECT_FALSE(form->FileReady);  // remembered, not loaded
  Close();
  EXPECT_EQ(Stored().isp_file_name, values.isp_file_name);

  ASSERT_TRUE(QFile::remove(kept));
  Start();
  EXPECT_TRUE(form->ProgramFileName.isEmpty());
  EXPECT_EQ(ui().cbxReadISPFile->count(), 0);
  EXPECT_EQ(ui().cbxReadISPFile->currentText(), "");
  Close();
  EXPECT_EQ(Stored().isp_file_name, "");
}

TEST_F(StartupTest, TheWindowIsSizedByScreenDensity) {
  const struct {
    int dpi;
    bool all_pages;
    QSize window;
    int pages_height;
  } rows[] = {
      {96, false, {606, 360}, 220},  {119, false, {606, 360}, 220}, {120, false, {746, 500}, 360},
      {144, false, {746, 500}, 360}, {96, true, {606, 618}, 489},   {120, true, {746, 758}, 629},
  };
  for (const auto& row : rows) {
    Start(row.all_pages, row.dpi);
    EXPECT_EQ(form->size(), row.window) << row.dpi << " dpi, all pages " << row.all_pages;
    EXPECT_EQ(ui().MainPageControl->height(), row.pages_height) << row.dpi;
  }
}

TEST_F(StartupTest, AsShippedOnlyTheIspPageFileAutoAndProgressShow) {
  Start();
  form->show();
  const QTabWidget* pages = ui().MainPageControl;
  for (int i = 0; i < pages->count(); ++i) {
    EXPECT_EQ(pages->isTabVisible(i), pages->widget(i) == ui().PageISPCtrl) << i;
  }
  EXPECT_EQ(pages->currentWidget(), ui().PageISPCtrl);
  EXPECT_FALSE(ui().pnlISPFuncTest->isVisible());
  EXPECT_FALSE(ui().gbxISPRange->isVisible());
  for (QCheckBox* box : StepBoxes())
    EXPECT_FALSE(box->isVisible()) << box->objectName().toStdString();
  for (QWidget* shown : std::initializer_list<QWidget*>{
           ui().USBLoadFileBitBtn, ui().cbxReadISPFile, ui().btnUSBISPAuto, ui().lblUSBChecksum,
           ui().lblUSBProcessInfo, ui().lblUSBISPProcess, ui().chkDetectUSB}) {
    EXPECT_TRUE(shown->isVisible()) << shown->objectName().toStdString();
  }
}

TEST_F(StartupTest, AllPagesKeepEveryTabPanelAndStepBoxAndStartOnRegister) {
  Start(true);
  form->show();
  QTabWidget* pages = ui().MainPageControl;
  ASSERT_EQ(pages->count(), 6);
  for (int i = 0; i < pages->count(); ++i) EXPECT_TRUE(pages->isTabVisible(i)) << i;
  EXPECT_EQ(pages->currentWidget(), ui().TabSheet1);
  EXPECT_FALSE(ui().pnlISPFuncTest->isHidden());
  EXPECT_FALSE(ui().gbxISPRange->isHidden());
  for (QCheckBox* box : StepBoxes()) EXPECT_FALSE(box->isHidden());
  // Every page can be brought up.
  for (int i = 0; i < pages->count(); ++i) {
    pages->setCurrentIndex(i);
    EXPECT_TRUE(pages->widget(i)->isVisible()) << i;
  }
  EXPECT_EQ(ui().lbledtPID->text(), "6013");
}

TEST(WindowPlaceTest, TheDesignedPlaceUnlessTheWindowWouldReachPastTheScreen) {
  const struct {
    QRect available;
    QSize window;
    QPoint place;
  } rows[] = {
      {{0, 0, 1920, 1040}, {606, 360}, {664, 133}},  // fits: as designed
      {{0, 0, 1024, 768}, {606, 360}, {410, 133}},   // too far right
      {{0, 0, 1280, 680}, {606, 618}, {664, 54}},    // all pages over a panel: too low
      {{0, 32, 800, 568}, {746, 758}, {46, 63}},     // taller than the screen: top on it
  };
  for (const auto& row : rows) {
    EXPECT_EQ(PlaceOnScreen(QRect({664, 133}, row.window), {8, 31, 8, 8}, row.available), row.place)
        << row.available.width() << "x" << row.available.height();
  }
}

TEST_F(StartupTest, TheWindowShowsTheIconInstalledIntoTheIconTheme) {
  QTemporaryDir themes;
  ASSERT_TRUE(QDir(themes.path()).mkpath("hicolor/16x16/apps"));
  QImage(16, 16, QImage::Format_RGB32)
      .save(themes.filePath("hicolor/16x16/apps/velmora-usbtool.png"));
  QFile index(themes.filePath("hicolor/index.theme"));
  ASSERT_TRUE(index.open(QIODevice::WriteOnly));
  index.write("[Icon Theme]\nName=hicolor\nDirectories=16x16/apps\n[16x16/apps]\nSize=16\n");
  index.close();
  const QStringList paths = QIcon::themeSearchPaths();
  const QString theme = QIcon::themeName();
  QIcon::setThemeSearchPaths({themes.path()});
  QIcon::setThemeName("hicolor");
  EXPECT_FALSE(Start().windowIcon().isNull());
  QIcon::setThemeSearchPaths(paths);
  QIcon::setThemeName(theme);
}

TEST_F(StartupTest, GridHeadersAreTwoUpperCaseHexDigits) {
  Start(true);
  for (StringGrid* grid : {ui().RegStringGrid1, ui().StringGridMIIC}) {
    for (int i = 0; i < 16; ++i) {
      EXPECT_EQ(grid->Cell(i + 1, 0), QString("%1").arg(i, 2, 16, QChar('0')).toUpper());
      EXPECT_EQ(grid->Cell(0, i + 1), QString("%1").arg(i * 16, 2, 16, QChar('0')).toUpper());
    }
    EXPECT_EQ(grid->Cell(11, 0), "0A");
    EXPECT_EQ(grid->Cell(0, 16), "F0");
    EXPECT_EQ(grid->Cell(0, 0), "");
  }
}

TEST_F(StartupTest, APidTypedWithEnterWhileDetectionIsOffIsSavedAtClose) {
  Start(true);
  form->show();
  ui().chkDetectUSB->click();  // off: the boxes can be edited
  ui().lbledtPID->setText("7001");
  QTest::keyClick(ui().lbledtPID, Qt::Key_Return);
  // Typed without Enter: not taken, so not saved.
  ui().lbledtPID->setText("7002");
  ui().lbledtVID->setText("1234");
  Close();
  EXPECT_EQ(Stored().usb_pid, "7001");
  EXPECT_EQ(Stored().usb_vid, "6ccf");
}

TEST_F(StartupTest, ClosingSavesTheRangeClampedIntoItsBytesAndClosesAHeldDevice) {
  sim::VirtualChip chip(clock);
  chip.PlugInto(platform);
  Start(true);
  usb.SetMatchText("vid_6ccf&pid_6012");
  ASSERT_TRUE(usb.FindDevice());
  ASSERT_TRUE(usb.Open());
  ui().chkProtect->setChecked(false);
  ui().rbnRange1->setChecked(true);
  ui().lbledISPStart->setText("4096");
  ui().lbledISPRange->setText("33");
  transcript.Clear();
  Close();
  EXPECT_EQ(transcript.Count(Kind::Close), 1u);
  // Bits: every step but protect (0x7D), "Assign Range"; size 33 -> 4, start 4096 -> 255.
  EXPECT_EQ(Stored().isp_setting, 0x00FF047Du);

  ui().lbledISPStart->setText("-8");
  ui().lbledISPRange->setText("$10");  // the toolkit's hexadecimal: 16
  form->SaveSettings();
  EXPECT_EQ(Stored().isp_setting, 0x0000027Du);
}

TEST_F(StartupTest, ARangeEditThatIsNoNumberLeavesTheStoredIspSettingAndSavesTheRest) {
  StoredSettings values;
  values.isp_setting = 0x00100802;
  Store(values);
  Start(true);
  ui().lbledISPRange->setText("lots");
  ui().chkDetectUSB->click();
  ui().lbledtPID->setText("6014");
  QTest::keyClick(ui().lbledtPID, Qt::Key_Return);
  Close();
  EXPECT_TRUE(dialogs.errors.isEmpty());
  EXPECT_EQ(Stored().isp_setting, 0x00100802u);
  EXPECT_EQ(Stored().usb_pid, "6014");
}

TEST_F(StartupTest, TextsOver255CharactersAreCutWhenReadAndWhenWritten) {
  StoredSettings values;
  values.usb_vid = std::string(300, 'a');
  values.usb_pid = "6012";
  Store(values);
  Start();
  EXPECT_EQ(form->Presence().VidText(), std::string(255, 'a'));
  Close();
  EXPECT_EQ(Stored().usb_vid, std::string(255, 'a'));

  Start(true);
  ui().chkDetectUSB->click();
  ui().lbledtPID->setText(QString(400, 'b'));
  QTest::keyClick(ui().lbledtPID, Qt::Key_Return);
  ui().cbxReadISPFile->setEditText(QString(256, 'c'));
  Close();
  EXPECT_EQ(Stored().usb_pid, std::string(255, 'b'));
  EXPECT_EQ(Stored().isp_file_name, std::string(255, 'c'));
}

TEST_F(StartupTest, ADamagedSettingsFileStartsWithTheDesignStates) {
  QFile file(store.FilePath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[General\nISPSetting=0\nUsbPIDSet=7777\n");
  file.close();
  Start();
  EXPECT_EQ(Steps(), (std::vector<bool>{X, X, X, X, X, X, X}));
  EXPECT_EQ(ui().lbledISPRange->text(), "32");
  EXPECT_EQ(form->Presence().UserMatchText(), "vid_6ccf&pid_6012");
  EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(StartupTest, AStoreThatCannotBeWrittenSavesNothingAndSaysNothing) {
  QFile blocker(dir.filePath("blocked"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  IniSettingsStore unwritable(dir.filePath("blocked/USBTool.ini"));
  FormStartup startup;
  startup.settings = &unwritable;
  startup.screen_dpi = 96;
  form = std::make_unique<TForm1>(usb, clock, dialogs, pump, startup);
  Close();
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_TRUE(dialogs.errors.isEmpty());
  EXPECT_EQ(unwritable.Load(), std::nullopt);
}

}  // namespace
}  // namespace velmora::test
