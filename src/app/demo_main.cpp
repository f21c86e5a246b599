// velmora-usbtool-demo: the tool over a virtual chip plugged in as the audio device (6ccf:6012),
// with a factory-fresh (erased) flash, so the tool can be tried without hardware. It shows every
// page unless asked to start as shipped, and keeps its settings apart from the tool's.
#include <QApplication>

#include "command_line.h"
#include "demo_sleeper.h"
#include "run_window.h"
#include "settings_places.h"
#include "velmora_usb.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

int main(int argc, char** argv) {
  using velmora::Program;
  if (const auto exit_code = velmora::AnswerBeforeGui(argc, argv, Program::Demo)) {
    return *exit_code;
  }
  QApplication app(argc, argv);  // takes Qt's own options (-platform, -style, ...) out
  app.setApplicationName("velmora-usbtool-demo");
  const velmora::CommandLine options = velmora::ReadCommandLine(app.arguments(), Program::Demo);
  if (options.exit_code) return velmora::FinishCommandLine(options);

  velmora::sim::VirtualClock clock;
  velmora::sim::VirtualUsbPlatform platform;
  velmora::sim::FlashConfig flash;
  flash.fill = 0xFF;
  velmora::sim::VirtualChip chip(clock, flash);
  // The audio side as a connected host playing 48 kHz PCM would leave it, so "Update" on the
  // Information tab shows a live device rather than a disconnected one.
  chip.Registers().SetStatus(/*rate_code=*/0x01, /*a5=*/0x00, /*flags=*/0x01);
  chip.PlugInto(platform, velmora::sim::kAudioPath);
  velmora::VelmoraUsb usb(platform);
  velmora::DemoSleeper sleeper(clock);
  const auto settings = velmora::MakeDemoSettingsStore();
  velmora::FormStartup startup;
  startup.settings = settings.get();
  startup.all_pages = options.all_pages;
  return velmora::RunWindow(app, usb, sleeper, startup, options.first_page);
}
