// velmora-usbtool: the tool on the real USB bus.
#include <QApplication>

#include "libusb_usb_platform.h"
#include "run_window.h"
#include "sleeper.h"
#include "velmora_usb.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("velmora-usbtool");
  velmora::LibusbUsbPlatform platform;
  velmora::VelmoraUsb usb(platform);  // the one device link, alive until the process ends
  velmora::RealSleeper sleeper;
  return velmora::RunWindow(app, usb, sleeper);
}
