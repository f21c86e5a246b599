// The "Auto" button through the window: the whole job end to end, its refusals, a reload that
// fails, a stop clicked mid-run and range edits that do not convert.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>

#include "isp_page_fixture.h"
#include "labeled_edit.h"

namespace velmora::test {
namespace {

const QStringList kFullRun = {"Enter ISP Mode",    "Flash Erase All ",      "Start Blanking Check",
                              "Start Programming", "Start Verifying Check", "Verifying Success"};

TEST_F(IspPageTest, AutoLoadsTheTypedFileProgramsTheChipProtectsItAndLeavesIsp) {
  const struct {
    std::array<std::uint8_t, 3> id;
    std::uint16_t page_size;
  } parts[] = {{{0xC2, 0x20, 0x13}, 256}, {{0xC2, 0x22, 0x11}, 32}};
  for (const auto& part : parts) {
    sim::VirtualChip& chip = Attach(TestFlash(part.id));
    seen.clear();
    ui.cbxReadISPFile->setEditText(Demo("hex"));
    int pumps = 0, busy_pumps = 0;
    on_pump = [&](int) {
      ++pumps;
      busy_pumps += form.AutoBusy && ui.btnUSBISPAuto->text() == "Stop";
    };
    Click(ui.btnUSBISPAuto);

    EXPECT_EQ(Seen(), kFullRun);
    EXPECT_GT(pumps, 0);
    EXPECT_EQ(busy_pumps, pumps);
    EXPECT_EQ(ui.lblUSBChecksum->text(), "Checksum : 0xF1AA");
    EXPECT_EQ(form.ProgramFileName, Demo("hex"));
    EXPECT_EQ(chip.Flash().ReadRange(0, 4608), DemoImage());
    EXPECT_EQ(chip.Flash().Peek(4608), 0xFF);  // erased, not the 0xCC of a fresh part
    EXPECT_TRUE(Protected());
    EXPECT_EQ(ui.lblUSBISPStatusReg->text(),
              QString::fromStdString(texts::StatusRegister(chip.Flash().Status())));
    EXPECT_FALSE(chip.InIspMode());
    EXPECT_EQ(form.PageSize, part.page_size);
    EXPECT_FALSE(form.StepFailed);
    EXPECT_EQ(ui.btnUSBISPAuto->text(), "Auto");
    EXPECT_FALSE(form.AutoBusy);
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
    EXPECT_TRUE(dialogs.messages.isEmpty());
  }
  EXPECT_EQ(ui.cbxReadISPFile->count(), 1);
}

TEST_F(IspPageTest, AutoRefusesWithoutDeviceOrProgramFileAndSendsNothing) {
  const struct {
    bool device;
    QString file;
    bool reload;
    const char* box;
  } cases[] = {{false, Demo("hex"), true, "USB device is NOT available !!    "},
               {true, "", true, "Program File Not Ready !!    "},
               // A typed name that this run would not load: an empty image would erase the chip.
               {true, Demo("hex"), false, "Program File Not Ready !!    "}};
  for (const auto& c : cases) {
    if (c.device) Attach();
    dialogs.messages.clear();
    ui.cbxReadISPFile->setEditText(c.file);
    ui.chkReadFile->setChecked(c.reload);
    Click(ui.btnUSBISPAuto);
    EXPECT_EQ(dialogs.messages, QStringList{c.box});
    EXPECT_TRUE(NothingSent()) << c.box;
    EXPECT_EQ(ui.btnUSBISPAuto->text(), "Auto");
    EXPECT_FALSE(form.AutoBusy);
    EXPECT_FALSE(form.FileReady);
  }
}

// An empty image is a good load, but Auto would erase the chip for it and report success.
TEST_F(IspPageTest, AutoRefusesAnEmptyImageBeforeTouchingTheDevice) {
  sim::VirtualChip& chip = Attach();
  const struct {
    const char* what;
    QString file;
    bool reload;
  } cases[] = {
      {"empty raw file", WriteFile("empty.bin", QByteArray()), true},
      {"HEX file without data records", WriteFile("empty.hex", ":00000001FF\r\n"), true},
      {"loaded before, no reload", WriteFile("none.hex", ":00000001FF\r\n"), false},
  };
  for (const auto& c : cases) {
    LoadThroughFileButton(c.file);
    ASSERT_TRUE(form.FileReady) << c.what;
    EXPECT_EQ(ui.lblUSBChecksum->text(), "Checksum : 0x0000") << c.what;
    ui.chkReadFile->setChecked(c.reload);
    transcript.Clear();
    dialogs.messages.clear();
    form.StepFailed = false;
    Click(ui.btnUSBISPAuto);
    EXPECT_EQ(dialogs.messages, QStringList{"Program File is empty !!    "}) << c.what;
    EXPECT_TRUE(form.StepFailed) << c.what;
    EXPECT_TRUE(NothingSent()) << c.what;
    EXPECT_EQ(ui.btnUSBISPAuto->text(), "Auto") << c.what;
    EXPECT_FALSE(form.AutoBusy) << c.what;
  }
  EXPECT_EQ(chip.Flash().ChipErases(), 0u);
  EXPECT_EQ(chip.Flash().Peek(0), 0xCC);
}

TEST_F(IspPageTest, AutoWithoutReloadAfterAFailedLoadDoesNotProgramTheImageBefore) {
  sim::VirtualChip& chip = Attach();
  LoadThroughFileButton(Demo("hex"));
  dialogs.messages.clear();
  LoadThroughFileButton(dir.filePath("gone.hex"));
  ASSERT_EQ(dialogs.messages.size(), 1);
  ASSERT_FALSE(form.FileReady);
  ui.chkReadFile->setChecked(false);
  transcript.Clear();
  Click(ui.btnUSBISPAuto);
  EXPECT_EQ(dialogs.messages.back(), "Program File Not Ready !!    ");
  EXPECT_TRUE(NothingSent());
  EXPECT_EQ(chip.Flash().PagePrograms(), 0u);
  EXPECT_EQ(ui.btnUSBISPAuto->text(), "Auto");
  EXPECT_FALSE(form.AutoBusy);
}

TEST_F(IspPageTest, FileLoadedByAClickDuringAutoDoesNotChangeWhatTheRunWrites) {
  sim::VirtualChip& chip = Attach();
  ui.cbxReadISPFile->setEditText(Demo("hex"));
  const QString other = WriteFile("other.bin", QByteArray(8192, '\x5A'));
  bool loaded = false;
  on_pump = [&](int) {
    if (!loaded && ui.lblUSBProcessInfo->text() == "Start Blanking Check") {
      loaded = true;  // a longer file, loaded nested in the run
      dialogs.ScriptFile(other);
      QMetaObject::invokeMethod(ui.USBLoadFileBitBtn, "click", Qt::QueuedConnection);
    }
  };
  Click(ui.btnUSBISPAuto);

  ASSERT_TRUE(loaded);
  EXPECT_EQ(form.ProgramFileName, other);
  EXPECT_EQ(ui.lblUSBProcessInfo->text(), "Verifying Success");
  EXPECT_EQ(chip.Flash().ReadRange(0, 4608), DemoImage());
  EXPECT_EQ(chip.Flash().Peek(4608), 0xFF);
}

TEST_F(IspPageTest, AutoWhoseReloadFailsStopsBeforeTouchingTheDevice) {
  sim::VirtualChip& chip = Attach();
  const struct {
    const char* what;
    QString typed;
  } cases[] = {
      {"empty name with an image loaded", ""},
      {"missing file", dir.filePath("gone.hex")},
      {"unknown extension", WriteFile("notes.txt", "hello")},
      {"damaged HEX", WriteFile("bad.hex", ":10000000ZZ\r\n:00000001FF\r\n")},
  };
  for (const auto& c : cases) {
    LoadThroughFileButton(Demo("hex"));
    ASSERT_TRUE(form.FileReady);
    transcript.Clear();
    dialogs.messages.clear();
    ui.cbxReadISPFile->setEditText(c.typed);
    Click(ui.btnUSBISPAuto);
    ASSERT_EQ(dialogs.messages.size(), 1) << c.what;
    if (c.typed.isEmpty()) {
      EXPECT_EQ(dialogs.messages[0], "Program File Not Ready !!    ");
    }
    EXPECT_FALSE(form.FileReady) << c.what;
    EXPECT_TRUE(NothingSent()) << c.what;
    EXPECT_EQ(ui.btnUSBISPAuto->text(), "Auto") << c.what;
    EXPECT_FALSE(form.AutoBusy) << c.what;
  }
  EXPECT_EQ(chip.Flash().ChipErases(), 0u);
  EXPECT_EQ(chip.Flash().PagePrograms(), 0u);
}

TEST_F(IspPageTest, ClickDuringAutoStopsAtTheNextPageThenProtectsAndLeavesIspWhileStillBusy) {
  sim::VirtualChip& chip = Attach();
  ui.cbxReadISPFile->setEditText(Demo("bin"));
  bool stop_clicked = false;
  on_pump = [&](int) {
    if (!stop_clicked && ui.lblUSBProcessInfo->text() == "Start Programming") {
      stop_clicked = true;  // the click is delivered by this very pump, nested in the run
      QMetaObject::invokeMethod(ui.btnUSBISPAuto, "click", Qt::QueuedConnection);
    }
  };
  int pauses_after_stop = 0, busy_pauses_after_stop = 0;
  sleeper.on_pause = [&] {
    if (!stop_clicked) return;
    ++pauses_after_stop;
    busy_pauses_after_stop += form.AutoBusy && ui.btnUSBISPAuto->text() == "Stop";
  };
  Click(ui.btnUSBISPAuto);

  ASSERT_TRUE(stop_clicked);
  EXPECT_EQ(ui.lblUSBProcessInfo->text(), "Stopped by user");
  EXPECT_FALSE(Seen().contains("Start Verifying Check"));
  EXPECT_TRUE(form.StepFailed);
  EXPECT_GT(chip.Flash().PagePrograms(), 0u);
  EXPECT_LT(chip.Flash().PagePrograms(), 4608u / 256);
  // Protect and the ISP exit went out after the stop, with detection still held off.
  EXPECT_TRUE(Protected());
  EXPECT_FALSE(chip.InIspMode());
  EXPECT_GT(pauses_after_stop, 0);
  EXPECT_EQ(busy_pauses_after_stop, pauses_after_stop);
  EXPECT_EQ(Requests(0x84).size(), 1u);  // the click stopped the run, it did not start another
  EXPECT_EQ(ui.btnUSBISPAuto->text(), "Auto");
  EXPECT_FALSE(form.AutoBusy);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);

  // The next click runs a whole job again.
  on_pump = nullptr;
  Click(ui.btnUSBISPAuto);
  EXPECT_EQ(ui.lblUSBProcessInfo->text(), "Verifying Success");

  // Stopped before any address: the address line does not keep the last run's.
  on_pump = [&](int) {
    QMetaObject::invokeMethod(ui.btnUSBISPAuto, "click", Qt::QueuedConnection);
  };
  Click(ui.btnUSBISPAuto);
  EXPECT_EQ(ui.lblUSBProcessInfo->text(), "Stopped by user");
  EXPECT_EQ(ui.lblUSBISPProcess->text(), "Process Addr: 0x000000");
}

TEST_F(IspPageTest, AutoWithARangeEditThatIsNoNumberShowsTheErrorAndStaysIdle) {
  sim::VirtualChip& chip = Attach();
  ui.cbxReadISPFile->setEditText(Demo("hex"));
  ui.rbnRange1->setChecked(true);
  const struct {
    const char* start;
    const char* size;
    const char* error;
  } cases[] = {{"abc", "32", "'abc' is not a valid integer value"},
               {"32", "", "'' is not a valid integer value"}};
  for (const auto& c : cases) {
    dialogs.errors.clear();
    ui.lbledISPStart->setText(c.start);
    ui.lbledISPRange->setText(c.size);
    Click(ui.btnUSBISPAuto);
    EXPECT_EQ(dialogs.errors, QStringList{c.error});
    EXPECT_TRUE(NothingSent()) << c.error;
    EXPECT_EQ(ui.btnUSBISPAuto->text(), "Auto") << c.error;
    EXPECT_FALSE(form.AutoBusy) << c.error;
    EXPECT_EQ(form.RangeStart, 0u) << c.error;
    EXPECT_FALSE(form.FileReady) << c.error;  // the click ended before the reload
  }

  // With numbers in both edits the same click programs the image from 32 KiB on.
  ui.lbledISPStart->setText("32");
  ui.lbledISPRange->setText("32");
  Click(ui.btnUSBISPAuto);
  EXPECT_EQ(ui.lblUSBProcessInfo->text(), "Verifying Success");
  EXPECT_EQ(form.RangeStart, 0x8000u);
  EXPECT_EQ(form.RangeSize, 0x8000u);
  EXPECT_EQ(chip.Flash().SectorErases(), 8u);
  EXPECT_EQ(chip.Flash().ReadRange(0x8000, 4608), DemoImage());
  EXPECT_EQ(chip.Flash().Peek(0x7FFF), 0xCC);
}

TEST_F(IspPageTest, KilobytesPastThirtyTwoBitsAreRefusedNotWrappedOntoLowFlash) {
  sim::VirtualChip& chip = Attach();
  ui.cbxReadISPFile->setEditText(Demo("hex"));
  ui.rbnRange1->setChecked(true);
  ui.lbledISPRange->setText("32");
  // Times 1024 in 32 bits, both would be 0x8000.
  for (const char* start : {"4194336", "-4194272"}) {
    transcript.Clear();
    ui.lbledISPStart->setText(start);
    Click(ui.rbnRange1);
    EXPECT_GT(form.RangeStart, 0xFFFFFFu) << start;
    Click(ui.btnUSBISPAuto);
    EXPECT_EQ(ui.lblUSBProcessInfo->text(), "Range beyond flash address 0xFFFFFF") << start;
    EXPECT_EQ(transcript.Count(Kind::Transfer), 0u) << start;
    EXPECT_EQ(chip.Flash().Peek(0x8000), 0xCC) << start;
  }
}

// Past the part's real end the addresses wrap onto its low flash; off the 4 KiB grid the sector
// erase wipes flash outside the range. Auto and the single buttons refuse both.
TEST_F(IspPageTest, RangesPastThePartOrOffTheSectorGridAreRefusedAndLowFlashStaysUntouched) {
  sim::VirtualChip& chip = Attach();  // C2 20 13: 512 KiB
  QByteArray bytes(8192, '\0');
  for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + 1);
  ui.cbxReadISPFile->setEditText(WriteFile("fw.bin", bytes));
  ui.rbnRange1->setChecked(true);
  const struct {
    const char* start;
    const char* size;
    const char* text;
    bool sent;  // the capacity is known only once the identifier is read
  } cases[] = {{"508", "8", "Range beyond flash address 0x07FFFF", true},
               {"1", "1", "Start and size must be multiples of 4 KB to erase in sectors", false},
               {"32", "6", "Start and size must be multiples of 4 KB to erase in sectors", false}};
  for (const auto& c : cases) {
    transcript.Clear();
    ui.lbledISPStart->setText(c.start);
    ui.lbledISPRange->setText(c.size);
    Click(ui.btnUSBISPAuto);
    EXPECT_EQ(ui.lblUSBProcessInfo->text(), c.text) << c.start;
    EXPECT_TRUE(form.StepFailed) << c.start;
    EXPECT_EQ(NothingSent(), !c.sent) << c.start;
    EXPECT_FALSE(chip.InIspMode()) << c.start;
  }
  EXPECT_EQ(chip.Flash().SectorErases(), 0u);
  EXPECT_EQ(chip.Flash().PagePrograms(), 0u);
  EXPECT_TRUE(Protected());  // the refused run still protected the part

  // The single buttons bound the image's extent by the identifier read last.
  Click(ui.btnUSBChipID);
  ui.lbledISPStart->setText("508");
  ui.lbledISPRange->setText("8");
  Click(ui.rbnRange1);
  for (QPushButton* button : {ui.btnUSBBlank, ui.btnUSBProgram, ui.btnUSBVerify}) {
    transcript.Clear();
    Click(button);
    EXPECT_EQ(ui.lblUSBProcessInfo->text(), "Range beyond flash address 0x07FFFF")
        << button->text().toStdString();
    EXPECT_TRUE(NothingSent()) << button->text().toStdString();
  }
  EXPECT_EQ(chip.Flash().PagePrograms(), 0u);
  EXPECT_EQ(chip.Flash().ReadRange(0, 0x1000), std::vector<std::uint8_t>(0x1000, 0xCC));
}

}  // namespace
}  // namespace velmora::test
