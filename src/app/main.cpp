// velmora-usbtool: the tool on the real USB bus.
#include <QApplication>

#include "command_line.h"
#include "libusb_usb_platform.h"
#include "run_window.h"
#include "settings_places.h"
#include "sleeper.h"
#include "velmora_usb.h"

int main(int argc, char** argv) {
  using velmora::Program;
  if (const auto exit_code = velmora::AnswerBeforeGui(argc, argv, Program::Tool)) {
    return *exit_code;
  }
  QApplication app(argc, argv);  // takes Qt's own options (-platform, -style, ...) out
  app.setApplicationName("velmora-usbtool");
  app.setDesktopFileName("velmora-usbtool");  // Wayland desktops find the entry's icon by this
  const velmora::CommandLine options = velmora::ReadCommandLine(app.arguments(), Program::Tool);
  if (options.exit_code) return velmora::FinishCommandLine(options);

  velmora::LibusbUsbPlatform platform;
  velmora::VelmoraUsb usb(platform);  // the one device link, alive until the process ends
  velmora::RealSleeper sleeper;
  const auto settings = velmora::MakeToolSettingsStore();
  velmora::FormStartup startup;
  startup.settings = settings.get();
  startup.all_pages = options.all_pages;
  return velmora::RunWindow(app, usb, sleeper, startup);
}
