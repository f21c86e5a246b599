// The Information tab's five HID key buttons and the two length bars of its special I2C group.
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>

#include "hid_keys.h"
#include "length_bars.h"
#include "tform1.h"
#include "ui_tform1.h"

namespace {

// Shows a bar's position beside it and enables exactly the fields of its row that take part.
void ShowLengthBar(const TForm1& form, const QScrollBar& bar, QLabel& caption,
                   const QString& field_prefix) {
  const velmora::LengthBarView view = velmora::ViewOfLengthBar(bar.value());
  caption.setText(QString::fromStdString(view.caption));
  for (int i = 0; i < velmora::kLengthBarFields; ++i) {
    form.FindFamilyMember<QLineEdit>(field_prefix, i)
        ->setEnabled(view.enabled[static_cast<std::size_t>(i)]);
  }
}

}  // namespace

void TForm1::btnHIDClick(QObject* Sender) {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  for (int i = 0; i < static_cast<int>(velmora::HidKeyCode.size()); ++i) {
    if (FindComponent("btnHID" + QString::number(i)) != Sender) continue;
    // No found check and no report: without a device, or without the firmware's answer, the
    // handshake ends quietly after its polls.
    velmora::ChipLink link{usb_, sleeper_};
    velmora::SendHidKey(link, velmora::HidKeyCode[static_cast<std::size_t>(i)]);
    return;
  }
}

void TForm1::srblen0Change() {
  ShowLengthBar(*this, *ui->srblen0, *ui->lbllencmd, "edtI2Ccmd");
}

void TForm1::srblen1Change() {
  ShowLengthBar(*this, *ui->srblen1, *ui->lbllendat, "edtI2Cdat");
}
