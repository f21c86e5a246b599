#include "run_window.h"

#include <QApplication>
#include <QTabWidget>
#include <cstdio>
#include <exception>

#include "event_pump.h"
#include "qt_dialogs.h"
#include "tform1.h"
#include "ui_tform1.h"

namespace velmora {

namespace {

bool ShowPage(TForm1& form, const QString& name) {
  QTabWidget* pages = form.ui->MainPageControl;
  for (int i = 0; i < pages->count(); ++i) {
    const bool named = pages->tabText(i) == name || pages->widget(i)->objectName() == name;
    if (named && pages->isTabVisible(i)) {
      pages->setCurrentIndex(i);
      return true;
    }
  }
  return false;
}

}  // namespace

int RunWindow(QApplication& app, VelmoraUsb& usb, Sleeper& sleeper, const FormStartup& startup,
              const QString& first_page) {
  QtDialogs dialogs;
  QtEventPump pump;
  try {
    TForm1 form1(usb, sleeper, dialogs, pump, startup);
    if (!first_page.isEmpty() && !ShowPage(form1, first_page)) {
      std::fprintf(stderr, "%s: no page '%s' shows\n",
                   qPrintable(QCoreApplication::applicationName()), qPrintable(first_page));
      return 2;
    }
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
