#include "run_window.h"

#include <QApplication>
#include <exception>

#include "event_pump.h"
#include "qt_dialogs.h"
#include "tform1.h"

namespace velmora {

int RunWindow(QApplication& app, VelmoraUsb& usb, Sleeper& sleeper) {
  QtDialogs dialogs;
  QtEventPump pump;
  try {
    TForm1 form1(usb, sleeper, dialogs, pump);
    form1.show();
    return app.exec();
  } catch (const std::exception& error) {
    dialogs.ShowError(QString::fromStdString(error.what()));
  } catch (...) {
    dialogs.ShowError(QString());  // an error of no known kind: shown with an empty message
  }
  return 1;
}

}  // namespace velmora
