// velmora-usbtool-demo: the tool over a virtual chip plugged in as the audio device (6ccf:6012),
// with a factory-fresh (erased) flash, so the tool can be tried without hardware.
#include <QApplication>

#include "demo_sleeper.h"
#include "run_window.h"
#include "velmora_usb.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("velmora-usbtool-demo");
  velmora::sim::VirtualClock clock;
  velmora::sim::VirtualUsbPlatform platform;
  velmora::sim::FlashConfig flash;
  flash.fill = 0xFF;
  velmora::sim::VirtualChip chip(clock, flash);
  chip.PlugInto(platform, velmora::sim::kAudioPath);
  velmora::VelmoraUsb usb(platform);
  velmora::DemoSleeper sleeper(clock);
  return velmora::RunWindow(app, usb, sleeper);
}
