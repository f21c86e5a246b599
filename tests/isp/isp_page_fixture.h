// The window over the virtual chip for tests of the ISP page: scripted dialogs, a pump that
// samples the process label as the user would see it, pauses that can be watched, and a scratch
// folder for program and read-back files.
#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "hooked_event_pump.h"
#include "scripted_dialogs.h"
#include "test_startup.h"
#include "tform1.h"
#include "transcript.h"
#include "ui_tform1.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

namespace velmora::test {

using Kind = sim::TranscriptEvent::Kind;

// Never-written flash reads 0xCC, so neither "blank" nor "zeroed" can pass by accident.
inline sim::FlashConfig TestFlash(std::array<std::uint8_t, 3> id = {0xC2, 0x20, 0x13}) {
  sim::FlashConfig config;
  config.id = id;
  config.fill = 0xCC;
  return config;
}

// The virtual clock as the window's sleeper, with a hook run at every pause of the tool.
class WatchedSleeper final : public Sleeper {
 public:
  explicit WatchedSleeper(sim::VirtualClock& clock) : clock_(clock) {}
  void SleepMs(unsigned ms) override {
    clock_.SleepMs(ms);
    if (on_pause) on_pause();
  }
  std::function<void()> on_pause;

 private:
  sim::VirtualClock& clock_;
};

class IspPageTest : public ::testing::Test {
 protected:
  IspPageTest() {
    form.Timer1->stop();  // the device is found by Attach, not by ticks racing the test
    form.show();
    ui.MainPageControl->setCurrentWidget(ui.PageISPCtrl);
    pump.hook = [this](int number) {
      Sample();
      if (on_pump) on_pump(number);
    };
  }

  // Plugs a chip in and lets the device link find it, as detection does.
  sim::VirtualChip& Attach(sim::FlashConfig config = TestFlash()) {
    chip = std::make_unique<sim::VirtualChip>(clock, config);
    chip->PlugInto(platform);
    usb.SetMatchText("vid_6ccf&pid_6012");
    EXPECT_TRUE(usb.FindDevice());
    transcript.Clear();
    return *chip;
  }

  void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

  static QString Demo(const char* extension) {
    return QString(VELMORA_SAMPLES_DIR "/velmora-demo-fw.") + extension;
  }
  static std::vector<std::uint8_t> DemoImage() {
    QFile file(Demo("bin"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
  }
  QString WriteFile(const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
  }
  // Loads a file through the "File" button.
  void LoadThroughFileButton(const QString& path) {
    dialogs.ScriptFile(path);
    Click(ui.USBLoadFileBitBtn);
  }

  std::vector<sim::TranscriptEvent> Requests(std::uint8_t request) const {
    std::vector<sim::TranscriptEvent> out;
    for (const auto& event : transcript.Transfers()) {
      if (event.setup.request == request) out.push_back(event);
    }
    return out;
  }
  bool NothingSent() const {
    return transcript.Count(Kind::Open) == 0 && transcript.Count(Kind::Transfer) == 0;
  }
  // Every status bit the part lets the tool set is set: the last status write was 0xFF.
  bool Protected() const {
    const std::uint8_t writable = chip->Flash().WritableStatusBits();
    return (chip->Flash().Status() & writable) == writable;
  }

  // The process label at every pump and at the end, erase dots dropped and repeats folded.
  QStringList Seen() {
    Sample();
    return seen;
  }

  sim::Transcript transcript;
  sim::VirtualClock clock{&transcript};
  WatchedSleeper sleeper{clock};
  sim::VirtualUsbPlatform platform{&transcript};
  VelmoraUsb usb{platform};
  std::unique_ptr<sim::VirtualChip> chip;
  ScriptedDialogs dialogs;
  HookedEventPump pump;
  std::function<void(int)> on_pump;
  QTemporaryDir dir;
  QStringList seen;
  TForm1 form{usb, sleeper, dialogs, pump, AllPagesStartup()};
  Ui::TForm1& ui = *form.ui;

 private:
  void Sample() {
    QString text = ui.lblUSBProcessInfo->text();
    if (text.startsWith("Flash Erase All ")) text = "Flash Erase All ";
    if (seen.isEmpty() || seen.back() != text) seen.push_back(text);
  }
};

}  // namespace velmora::test
