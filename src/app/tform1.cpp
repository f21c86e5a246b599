#include "tform1.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QStyle>
#include <QTabWidget>
#include <QToolTip>
#include <exception>

#include "convert_error.h"
#include "device_list.h"
#include "font_substitutes.h"
#include "key_codes.h"
#include "ui_tform1.h"

namespace {

constexpr const char* kOperationRunning = "An operation is running: wait until it ends";

// Calls a key-down handler for every key press on the watched control, then lets it through.
class KeyDownFilter : public QObject {
 public:
  KeyDownFilter(QWidget* control, TForm1::KeyDownHandler handler)
      : QObject(control), control_(control), handler_(std::move(handler)) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == control_ && event->type() == QEvent::KeyPress) {
      const auto* key = static_cast<QKeyEvent*>(event);
      handler_(control_, velmora::VirtualKeyOf(key->key()), key->modifiers());
    }
    return false;
  }

 private:
  QWidget* control_;
  TForm1::KeyDownHandler handler_;
};

}  // namespace

TForm1::TForm1(velmora::VelmoraUsb& usb, velmora::Sleeper& sleeper, velmora::Dialogs& dialogs,
               velmora::EventPump& pump, const velmora::FormStartup& startup, QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::TForm1>()),
      usb_(usb),
      sleeper_(sleeper),
      dialogs_(dialogs),
      pump_(pump),
      startup_(startup),
      presence_(usb) {
  velmora::InstallFontSubstitutes();
  ui->setupUi(this);

  // The icon the package installs into the desktop's icon theme.
  setWindowIcon(QIcon::fromTheme("velmora-usbtool"));

  // The bitmaps of the three bitmap buttons.
  ui->USBLoadFileBitBtn->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
  ui->CurrentFileBitBtn->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
  ui->btnSaveBitBin->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));

  // A page whose tab is hidden never shows, whatever asks for it (wheel, Ctrl+Tab, arrow keys on
  // the strip, an accessibility action): connected before the pages' own handlers, so entering
  // "I2C Access" is never run for a page that does not stay.
  connect(ui->MainPageControl, &QTabWidget::currentChanged, this,
          [this](int index) { KeepHiddenPagesShut(index); });

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(1000);

  WireDetection();
  WireIsp();
  WireParameter();
  WireBinFile();
  WireRegisterPages();
  WireInformationTab();

  Timer1->start();
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::KeepHiddenPagesShut(int index) {
  QTabWidget* pages = ui->MainPageControl;
  if (index < 0 || pages->isTabVisible(index)) return;
  for (int i = 0; i < pages->count(); ++i) {
    if (pages->isTabVisible(i)) {
      pages->setCurrentIndex(i);
      return;
    }
  }
}

QObject* TForm1::FindComponent(const QString& name) const {
  if (name.isEmpty()) return nullptr;
  return findChild<QObject*>(name);
}

void TForm1::Guard(const std::function<void()>& body) {
  try {
    body();
  } catch (const velmora::EConvertError& error) {
    dialogs_.ShowError(error.Message());
  } catch (const std::exception& error) {
    dialogs_.ShowError(QString::fromStdString(error.what()));
  }
}

TForm1::DeviceClaim TForm1::ClaimDevice(bool with_lock) {
  QString refusal = kOperationRunning;
  if (!device_claimed_) {
    std::unique_ptr<velmora::DeviceLock> lock;
    std::string error;
    if (with_lock && usb_.IsFound()) {
      lock = velmora::DeviceLock::Acquire(velmora::PortPathOf(usb_.DevicePath()), error);
    }
    if (lock != nullptr || !with_lock || !usb_.IsFound()) {
      device_claimed_ = true;
      return DeviceClaim(&device_claimed_, std::move(lock));
    }
    refusal = QString::fromStdString(error);
  }
  // Beside the pointer when it is over the window (a click), else at the control with the focus
  // (a key).
  QPoint at = QCursor::pos();
  const QWidget* focus = QApplication::focusWidget();
  if (!frameGeometry().contains(at) && focus != nullptr) {
    at = focus->mapToGlobal(focus->rect().center());
  }
  QToolTip::showText(at, refusal, this);
  emit OperationRunningShown();
  return DeviceClaim(nullptr);
}

void TForm1::WireKeyDown(QWidget* control, KeyDownHandler handler) {
  auto guarded = [this, handler = std::move(handler)](QWidget* sender, int key,
                                                      Qt::KeyboardModifiers shift) {
    Guard([&] { handler(sender, key, shift); });
  };
  control->installEventFilter(new KeyDownFilter(control, std::move(guarded)));
}

std::optional<QString> TForm1::Execute(const velmora::FileDialogDesign& dialog) {
  return dialog.kind == velmora::FileDialogDesign::Kind::Open ? dialogs_.OpenFile(dialog)
                                                              : dialogs_.SaveFile(dialog);
}
