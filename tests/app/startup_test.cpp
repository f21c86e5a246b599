// Start-up and close of the window with its settings in a scratch folder: the first run, stored
// and damaged settings, sizes by screen density, the pages that show, and what closing saves.
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "form_fixture.h"
#include "ini_settings_store.h"

namespace velmora::test {
namespace {

using Kind = sim::TranscriptEvent::Kind;

struct StartupTest : ::testing::Test {
  // A fresh window over a fresh virtual bus, as the program builds it, over the scratch store.
  TForm1& Start(bool all_pages = false, int dpi = 96) {
    FormStartup startup = AllPagesStartup(&*store);
    startup.all_pages = all_pages;
    startup.screen_dpi = dpi;
    rig.reset();
    rig.emplace(startup);
    rig->form.Timer1->stop();
    return rig->form;
  }
  // A settings file of its own (Qt caches a file it read while its size and time stay).
  void StoreFile(const QByteArray& text) {
    store.emplace(dir.filePath(QString("USBTool%1.ini").arg(++files)));
    QFile file(store->FilePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
  }
  Ui::TForm1& ui() { return *rig->form.ui; }
  void Close() { ASSERT_TRUE(rig->form.close()); }
  // The ISP step boxes in bit order, the range choice and the start and size edits.
  std::string IspControls() {
    std::string shown;
    for (QCheckBox* box : {ui().chkISPMode, ui().chkProtect, ui().chkReadFile, ui().chkErase,
                           ui().chkBlank, ui().chkProgram, ui().chkVerify})
      shown += box->isChecked() ? 'X' : '_';
    shown += ui().rbnRange0->isChecked() ? " all " : " assign ";
    return shown + (ui().lbledISPStart->text() + " " + ui().lbledISPRange->text()).toStdString();
  }
  // What the store holds: ISPSetting in hexadecimal, VID, PID and the program file.
  std::string Saved() {
    const StoredSettings s = store->Load().value_or(StoredSettings{});
    return QString::number(s.isp_setting.value_or(0), 16).toStdString() + " " +
           s.usb_vid.value_or("-") + " " + s.usb_pid.value_or("-") + " " +
           s.isp_file_name.value_or("-");
  }

  QTemporaryDir dir;
  int files = 0;
  std::optional<IniSettingsStore> store{dir.filePath("USBTool.ini")};
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
  for (StringGrid* grid : {ui().RegStringGrid1, ui().StringGridMIIC})  // headers, in hexadecimal
    EXPECT_EQ(grid->Cell(11, 0) + grid->Cell(16, 0) + grid->Cell(0, 2) + grid->Cell(0, 16),
              "0A0F10F0");
  Close();
  EXPECT_EQ(Saved(), "404ff 6ccf 6012 ");
  StoreFile("[General\nUsbPIDSet=7777\n");  // damaged: as on the first run
  EXPECT_EQ(Start().Presence().UserMatchText(), "vid_6ccf&pid_6012");
  EXPECT_EQ(IspControls(), "XXXXXXX all 32 32");
  store.emplace(dir.filePath("USBTool.ini/USBTool.ini"));  // cannot be made under a file
  Start();
  Close();
  EXPECT_EQ(store->Load(), std::nullopt);
  EXPECT_TRUE(rig->dialogs.messages.isEmpty() && rig->dialogs.errors.isEmpty());
}

TEST_F(StartupTest, StoredSettingsSetTheStepsTheRangeIdsAndFileAndGoBackAsTheyCame) {
  QFile kept(dir.filePath("fw,v2.bin"));  // an unquoted comma in the file: still the one path
  ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
  const std::string a300(300, 'a'), a255(255, 'a'), path = kept.fileName().toStdString();
  const struct {
    std::string file;  // as a user's disk holds it; an ISPSetting beyond 32 bits is none
    int dpi;           // every page shows: 606 x 618 below 120 dpi, 140 more each way from 120 on
    std::string controls, match_text, saved;  // the program file offered is saved back
    std::uint32_t range_start;
  } rows[] = {
      {"[General]\nISPSetting=4294967296\nUsbVIDSet=\nUsbPIDSet=6012\n", 119, "X_XXXXX all 64 64",
       "vid_6ccf&pid_6012", "808fd 6ccf 6012 ", 0},
      {"[General]\nISPSetting=1050626\nUsbVIDSet=6CCF\nUsbPIDSet=60A2\nISPFileName=" + path, 120,
       "_X_____ assign 128 64", "vid_6ccf&pid_60a2", "100802 6CCF 60A2 " + path, 128 << 10},
      {"[General]\nISPSetting=4278320959\nUsbVIDSet=" + a300 + "\nISPFileName=/gone.hex", 96,
       "XXXXXX_ assign 8 2040", "vid_" + a255.substr(0, 27), "1ff3f " + a255 + " 6012 ", 8 << 10},
  };
  for (const auto& row : rows) {
    StoreFile(QByteArray::fromStdString(row.file));
    TForm1& form = Start(true, row.dpi);
    const int extra = row.dpi >= 120 ? 140 : 0;
    EXPECT_EQ(form.size(), QSize(606 + extra, 618 + extra)) << row.dpi;
    EXPECT_EQ(ui().MainPageControl->height(), 489 + extra) << row.dpi;
    EXPECT_EQ(IspControls(), row.controls);
    EXPECT_EQ(ui().lbledISPStart->isEnabled(), row.controls.find(" all ") == std::string::npos);
    EXPECT_EQ(form.RangeStart, row.range_start) << row.controls;
    EXPECT_EQ(form.Presence().UserMatchText(), row.match_text);
    EXPECT_EQ(ui().lbledtPID->text(), "6013");
    EXPECT_EQ(form.ProgramFileName, ui().cbxReadISPFile->currentText());
    EXPECT_FALSE(form.FileReady);  // offered, not loaded
    Close();
    EXPECT_EQ(Saved(), row.saved);
  }
}

// An error no handler expects is shown as the conversion error is, and the window goes on.
TEST_F(StartupTest, AnEscapedErrorIsShownAndClosingStillClosesAHeldDeviceAndSavesRangeAndIds) {
  TForm1& form = Start(true);
  auto* button = new QPushButton(&form);
  form.Wire(button, &QPushButton::clicked, [] { throw std::runtime_error("gone"); });
  button->click();
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
  EXPECT_EQ(Saved(), "ff047d 6ccf " + std::string(255, 'b') + " " + std::string(255, 'c'));
  ui().lbledISPRange->setText("lots");  // no number: the stored value stays
  form.SaveSettings();
  EXPECT_EQ(Saved().substr(0, 7), "ff047d ");
  ui().lbledISPStart->setText("-8");
  ui().lbledISPRange->setText("$10");  // the toolkit's hexadecimal: 16
  form.SaveSettings();
  EXPECT_EQ(Saved().substr(0, 4), "27d ");
  EXPECT_EQ(rig->dialogs.errors, QStringList{"gone"});  // and no other
}

}  // namespace
}  // namespace velmora::test
