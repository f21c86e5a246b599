// Builds the register page and the I2C Access page on the shared grid mechanism and connects
// their controls to their handlers, each through the window's guard so that a conversion error
// ends the handler with its message.
#include <QCheckBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <functional>

#include "key_codes.h"
#include "tform1.h"
#include "ui_tform1.h"

namespace {

// The eight bit boxes of a page, found by name: prefix followed by the bit number.
std::array<QCheckBox*, 8> BitBoxes(const TForm1& form, const QString& prefix) {
  std::array<QCheckBox*, 8> boxes{};
  for (int bit = 0; bit < 8; ++bit) boxes[bit] = form.FindFamilyMember<QCheckBox>(prefix, bit);
  return boxes;
}

// Runs `handler` when a mouse button other than the left one is released over the box: the box
// does not toggle, but its page writes the value the boxes show, as a left click's release does.
class OtherButtonRelease final : public QObject {
 public:
  OtherButtonRelease(QCheckBox* box, std::function<void()> handler)
      : QObject(box), handler_(std::move(handler)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::MouseButtonRelease) return false;
    const auto* release = static_cast<QMouseEvent*>(event);
    const auto* box = static_cast<QWidget*>(watched);
    if (release->button() != Qt::LeftButton && box->rect().contains(release->position().toPoint()))
      handler_();
    return false;
  }

 private:
  std::function<void()> handler_;
};

}  // namespace

void TForm1::WireRegisterPages() {
  register_page_ = std::make_unique<velmora::RegisterGridPage>(
      velmora::GridPageControls{ui->RegStringGrid1, ui->lblRegAddr, ui->lblRegData, ui->btnReadAll,
                                BitBoxes(*this, "chkBit")},
      velmora::kRegisterPageRules,
      velmora::GridPageServices{
          usb_, sleeper_, pump_, chip_register_port_,
          [this]() -> velmora::RegisterTable& { return RegisterImage.at(CurrentBank); }});
  i2c_page_ = std::make_unique<velmora::RegisterGridPage>(
      velmora::GridPageControls{ui->StringGridMIIC, ui->lblMI2CRegAddr, ui->lblMI2CRegData,
                                ui->btnReadMI2C, BitBoxes(*this, "chkMI2CBit")},
      velmora::kI2cPageRules,
      velmora::GridPageServices{usb_, sleeper_, pump_, slave_register_port_,
                                [this]() -> velmora::RegisterTable& { return I2cImage; }});

  Wire(ui->btnReadAll, &QPushButton::clicked, [this] { btnReadAllClick(); });
  Wire(ui->RegStringGrid1, &StringGrid::currentCellChanged,
       [this](int row, int column) { RegStringGridSelectCell(column, row); });
  Wire(ui->RegStringGrid1, &StringGrid::KeyDown, [this](int qt_key, Qt::KeyboardModifiers shift) {
    RegStringGridKeyDown(ui->RegStringGrid1, velmora::VirtualKeyOf(qt_key), shift);
  });
  // A box toggles and reports the click when the mouse button is released over it.
  for (QCheckBox* box : BitBoxes(*this, "chkBit")) {
    Wire(box, &QCheckBox::clicked, [this] { chkBit0MouseUp(); });
    box->installEventFilter(
        new OtherButtonRelease(box, [this] { Guard([this] { chkBit0MouseUp(); }); }));
  }

  Wire(ui->MainPageControl, &QTabWidget::currentChanged, [this] { MainPageControlChange(); });
  WireKeyDown(ui->edtMI2CAddr, [this](QWidget* sender, int key, Qt::KeyboardModifiers shift) {
    edtMI2CAddrKeyDown(sender, key, shift);
  });
  Wire(ui->btnReadMI2C, &QPushButton::clicked, [this] { btnReadMI2CClick(); });
  Wire(ui->StringGridMIIC, &StringGrid::currentCellChanged,
       [this](int row, int column) { StringGridMIICSelectCell(column, row); });
  Wire(ui->StringGridMIIC, &StringGrid::KeyDown, [this](int qt_key, Qt::KeyboardModifiers shift) {
    StringGridMIICKeyDown(ui->StringGridMIIC, velmora::VirtualKeyOf(qt_key), shift);
  });
  for (QCheckBox* box : BitBoxes(*this, "chkMI2CBit")) {
    Wire(box, &QCheckBox::clicked, [this] { chkMI2CBitMouseUp(); });
    box->installEventFilter(
        new OtherButtonRelease(box, [this] { Guard([this] { chkMI2CBitMouseUp(); }); }));
  }
}
