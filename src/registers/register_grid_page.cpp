#include "register_grid_page.h"

#include <QColor>
#include <QVariant>

#include "convert_error.h"
#include "register_access.h"

namespace velmora {

namespace {

constexpr const char* kRunningFlag = "Tag";
const QColor kHighlight(0xC0, 0xC0, 0xC0);  // silver

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

// The page's side of a full read: cells, pump and the button's running flag.
class GridFullReadFront final : public FullReadFront {
 public:
  GridFullReadFront(const RegisterGridPage& page, StringGrid* grid, EventPump& pump)
      : page_(page), grid_(grid), pump_(pump) {}
  void Show(std::uint8_t index, std::optional<std::uint8_t> value) override {
    const GridCell cell = CellOfRegister(index);
    grid_->SetCell(cell.col, cell.row, page_.ReadText(index, value));
  }
  void Pump() override { pump_.Pump(); }
  bool StopRequested() const override { return !page_.Reading(); }

 private:
  const RegisterGridPage& page_;
  StringGrid* grid_;
  EventPump& pump_;
};

}  // namespace

RegisterGridPage::RegisterGridPage(GridPageControls controls, const GridPageRules& rules,
                                   GridPageServices services)
    : controls_(controls), rules_(rules), services_(std::move(services)) {}

void RegisterGridPage::WriteHeaders() {
  for (int i = 1; i <= kGridSide; ++i) {
    controls_.grid->SetCell(i, 0, Text(ColumnHeaderText(i)));
    controls_.grid->SetCell(0, i, Text(RowHeaderText(i)));
  }
}

bool RegisterGridPage::Reading() const {
  return controls_.read_button->property(kRunningFlag).toInt() != 0;
}

void RegisterGridPage::SetRunning(bool running) {
  controls_.read_button->setProperty(kRunningFlag, running ? 1 : 0);
  controls_.read_button->setText(running ? kFullReadRunningCaption : rules_.idle_caption);
}

void RegisterGridPage::ReadAllClick() {
  // The stop comes first: a device lost during the read (the presence monitor runs in its
  // pumps) must not leave a button that no longer stops it.
  if (Reading()) {
    SetRunning(false);
    return;
  }
  if (!services_.usb.IsFound()) return;
  SetRunning(true);
  RegisterAccess access(services_.usb, services_.sleeper, services_.port, services_.image());
  GridFullReadFront front(*this, controls_.grid, services_.pump);
  access.ReadAll(front);
  SetRunning(false);
}

GridCell RegisterGridPage::CurrentCell() const {
  return {controls_.grid->Col(), controls_.grid->Row()};
}

void RegisterGridPage::HighlightHeaders(GridCell cell) {
  // Every header goes back to button face, then the selected row's and column's turn silver.
  for (int i = 1; i <= kGridSide; ++i) {
    controls_.grid->SetCellColour(0, i, QColor());
    controls_.grid->SetCellColour(i, 0, QColor());
  }
  controls_.grid->SetCellColour(0, cell.row, kHighlight);
  controls_.grid->SetCellColour(cell.col, 0, kHighlight);
}

void RegisterGridPage::ShowBits(std::uint8_t value) {
  for (int bit = 0; bit < 8; ++bit) controls_.bit_boxes[bit]->setChecked((value >> bit) & 1);
}

std::uint8_t RegisterGridPage::BitsValue() const {
  std::uint8_t value = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (controls_.bit_boxes[bit]->isChecked()) value |= static_cast<std::uint8_t>(1u << bit);
  }
  return value;
}

QString RegisterGridPage::ReadText(std::uint8_t index, std::optional<std::uint8_t> read) const {
  if (!read && rules_.marks_failed_reads) return "--";
  return Text(ByteText(read.value_or(services_.image()[index])));
}

std::uint8_t RegisterGridPage::CellTextValue(GridCell cell) const {
  return static_cast<std::uint8_t>(
      StrToIntOrRaise("0x" + controls_.grid->Cell(cell.col, cell.row)) & 0xFF);
}

void RegisterGridPage::SelectCell(int col, int row) {
  if (StringGrid::IsFixed(col, row) || col > kGridSide || row > kGridSide) return;
  const GridCell cell{col, row};
  const std::uint8_t index = RegisterOfCell(col, row);
  HighlightHeaders(cell);
  controls_.address_label->setText(Text(RegisterLabelText(index)));
  RegisterAccess access(services_.usb, services_.sleeper, services_.port, services_.image());
  const std::optional<std::uint8_t> read = access.ReadOne(index);
  controls_.grid->SetCell(col, row, ReadText(index, read));
  if (read || !rules_.marks_failed_reads) ShowBits(services_.image()[index]);
  controls_.data_label->setText("= 0x" + ReadText(index, read));
}

void RegisterGridPage::KeyDown(int virtual_key) {
  const GridKey key = GridKeyOf(virtual_key);
  if (key == GridKey::Other) return;
  const GridCell cell = CurrentCell();
  const std::uint8_t index = RegisterOfCell(cell.col, cell.row);
  RegisterTable& image = services_.image();
  const std::uint8_t start =
      KeyTakesCellText(key, rules_.step_start) ? CellTextValue(cell) : image[index];
  const KeyEdit edit = EditForKey(key, start);
  image[index] = edit.entry;
  if (!edit.write) return;
  RegisterAccess access(services_.usb, services_.sleeper, services_.port, image);
  const auto read = access.WriteAndReadBack(index, edit.entry, rules_.key_write_pause_ms);
  controls_.grid->SetCell(cell.col, cell.row, ReadText(index, read));
  if (read || !rules_.marks_failed_reads) ShowBits(image[index]);
}

void RegisterGridPage::ShowEntryBits() {
  const GridCell cell = CurrentCell();
  ShowBits(services_.image()[RegisterOfCell(cell.col, cell.row)]);
}

void RegisterGridPage::BitBoxMouseUp() {
  const GridCell cell = CurrentCell();
  const std::uint8_t index = RegisterOfCell(cell.col, cell.row);
  RegisterAccess access(services_.usb, services_.sleeper, services_.port, services_.image());
  const auto read = access.WriteAndReadBack(index, BitsValue(), rules_.bit_write_pause_ms);
  controls_.grid->SetCell(cell.col, cell.row, ReadText(index, read));
  if (read || !rules_.marks_failed_reads) ShowBits(services_.image()[index]);
  controls_.address_label->setText(Text(RegisterLabelText(index)));
  controls_.data_label->setText("= 0x" + ReadText(index, read));
}

}  // namespace velmora
