// The "Special I2C access" group of the Information tab: free-form transfers to the slave at the
// shared I2cSlaveAddress, with as many command and data fields as the two length bars say.
#include <QLineEdit>
#include <QScrollBar>
#include <vector>

#include "convert_error.h"
#include "key_codes.h"
#include "register_grid.h"
#include "special_i2c.h"
#include "tform1.h"
#include "ui_tform1.h"

namespace {

// What a data field shows after a read whose transfer failed: no two hex digits can be read as
// data by mistake, and a later write sends it as 0x00 like any other non-digit text.
constexpr const char* kNoData = "--";

// The bytes of the first `count` fields of a row ("edtI2Ccmd" or "edtI2Cdat" and the field
// number). Field texts never raise an error.
std::vector<std::uint8_t> FieldBytes(const TForm1& form, const QString& prefix, int count) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < count; ++i) {
    // One byte per character: a character beyond Latin-1 becomes '?', which reads as 0.
    const QByteArray text = form.FindFamilyMember<QLineEdit>(prefix, i)->text().toLatin1();
    bytes.push_back(velmora::FieldByte({text.constData(), static_cast<std::size_t>(text.size())}));
  }
  return bytes;
}

}  // namespace

void TForm1::edtMI2CAddr1KeyDown(QWidget*, int key, Qt::KeyboardModifiers) {
  if (key != velmora::kVkReturn) return;
  // The group's own edit keeps the text as typed; the I2C Access page's edit shows the address.
  const int typed = velmora::StrToIntOrRaise("0x" + ui->edtMI2CAddr1->text());
  SetI2cSlaveAddress(static_cast<std::uint8_t>(typed & 0xFF));
}

void TForm1::btnWriteSpecI2CClick() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  if (!usb_.IsFound()) return;
  const std::vector<std::uint8_t> command = FieldBytes(*this, "edtI2Ccmd", ui->srblen0->value());
  const std::vector<std::uint8_t> data = FieldBytes(*this, "edtI2Cdat", ui->srblen1->value());
  // The outcome is not shown: the fields stay as typed.
  velmora::ChipLink link{usb_, sleeper_};
  velmora::SpecialI2cWrite(link, I2cSlaveAddress, command, data);
}

void TForm1::btnReadSpecI2CClick() {
  const DeviceClaim claim = ClaimDevice();
  if (!claim) return;
  if (!usb_.IsFound()) return;
  const std::vector<std::uint8_t> command = FieldBytes(*this, "edtI2Ccmd", ui->srblen0->value());
  std::vector<std::uint8_t> data(static_cast<std::size_t>(ui->srblen1->value()));
  velmora::ChipLink link{usb_, sleeper_};
  const bool read = velmora::SpecialI2cRead(link, I2cSlaveAddress, command, data);
  // Only the fields taking part change; a failed read marks them rather than leaving old digits
  // that would pass for the slave's answer.
  for (std::size_t i = 0; i < data.size(); ++i) {
    const QString text = read ? QString::fromStdString(velmora::ByteText(data[i])) : kNoData;
    FindFamilyMember<QLineEdit>("edtI2Cdat", static_cast<int>(i))->setText(text);
  }
}
