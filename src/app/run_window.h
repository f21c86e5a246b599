// The program's life around the window: create Form1 over the given device link and sleeper,
// run the message loop until the window closes, and show any error that escapes on the way.
#pragma once

#include <QString>

#include "form_startup.h"
#include "sleeper.h"
#include "velmora_usb.h"

class QApplication;

namespace velmora {

// Returns the process exit code: 0 after the window closed, 1 after an escaped error was shown,
// 2 when `first_page` (a page's caption or sheet name, empty for start-up's choice) names no page
// that shows.
int RunWindow(QApplication& app, VelmoraUsb& usb, Sleeper& sleeper, const FormStartup& startup,
              const QString& first_page = QString());

}  // namespace velmora
