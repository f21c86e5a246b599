#include "spi_flash_model.h"

#include <algorithm>

namespace velmora::sim {
namespace {

constexpr std::uint8_t kReadId = 0x9F, kReadStatus = 0x05, kWriteStatus = 0x01, kWriteEnable = 0x06,
                       kWriteDisable = 0x04, kChipErase = 0xC7, kChipEraseAlt = 0x60,
                       kSectorErase = 0x20, kPageProgram = 0x02, kRead = 0x03;

}  // namespace

SpiFlashModel::SpiFlashModel(VirtualClock& clock, FlashConfig config)
    : clock_(clock),
      part_(FlashPartFor(config.id)),
      config_(config),
      times_(config.times.value_or(part_.times)) {
  memory_.assign(part_.size, config_.fill);
  address_mask_ = Size() - 1;
  page_latch_.assign(PageSize(), 0xFF);
  latched_.assign(PageSize(), false);
}

void SpiFlashModel::Settle() {
  if (cycle_running_ && !stuck_busy_ && clock_.NowUs() >= cycle_ends_us_) {
    cycle_running_ = false;
    status_ &= static_cast<std::uint8_t>(~kWel);  // the finished cycle consumes write enable
  }
}

bool SpiFlashModel::Busy() {
  Settle();
  return stuck_busy_ || cycle_running_;
}

std::uint8_t SpiFlashModel::Status() {
  const bool busy = Busy();
  return static_cast<std::uint8_t>(status_ | (busy ? kWip : 0));
}

void SpiFlashModel::StartCycle(std::uint64_t duration_us) {
  cycle_running_ = true;
  cycle_ends_us_ = clock_.NowUs() + duration_us;
  Settle();
}

std::uint32_t SpiFlashModel::ProtectedBytes() const {
  const std::uint8_t bp_mask = part_.block_protect_bits;
  const std::uint32_t level = (status_ & bp_mask) >> 2;
  if (level == 0) return 0;
  if (level == static_cast<std::uint32_t>(bp_mask >> 2)) return Size();
  // The part's protect unit at level 1, doubling per level from the top down.
  const std::uint64_t unit = part_.protect_unit;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(Size(), unit << (level - 1)));
}

bool SpiFlashModel::IsProtected(std::uint32_t address) const {
  return (address & address_mask_) >= Size() - ProtectedBytes();
}

void SpiFlashModel::Select() {
  if (selected_) return;
  selected_ = true;
  phase_ = Phase::Idle;
  bytes_in_ = 0;
}

std::uint32_t SpiFlashModel::CommandAddress() const {
  const std::uint32_t address = (std::uint32_t{header_[1]} << 16) |
                                (std::uint32_t{header_[2]} << 8) | std::uint32_t{header_[3]};
  return address & address_mask_;
}

std::uint8_t SpiFlashModel::Transfer(std::uint8_t mosi) {
  if (!selected_ || absent_) return config_.floating;
  const std::uint32_t position = bytes_in_++;
  if (position == 0) {
    opcode_ = mosi;
    header_ = {mosi, 0, 0, 0};
    // A busy part listens only for read status; the rest of the command goes nowhere.
    phase_ = (Busy() && mosi != kReadStatus) ? Phase::Ignored : Phase::Collecting;
    if (opcode_ == kPageProgram) {
      std::fill(page_latch_.begin(), page_latch_.end(), 0xFF);
      std::fill(latched_.begin(), latched_.end(), false);
    }
    return config_.floating;
  }
  if (phase_ == Phase::Ignored) return config_.floating;
  if (position < header_.size()) header_[position] = mosi;
  if (opcode_ == kPageProgram && position >= 4) {
    // The column wraps inside the page; a later byte for a column replaces the earlier one.
    const std::uint32_t column = (CommandAddress() + (position - 4)) % PageSize();
    page_latch_[column] = mosi;
    latched_[column] = true;
  }
  return AnswerRead(position);
}

std::uint8_t SpiFlashModel::AnswerRead(std::uint32_t position) {
  switch (opcode_) {
    case kReadStatus:
      return Status();  // repeats for as long as the bridge clocks, WIP live
    case kReadId:
      return position <= 3 ? part_.id[position - 1] : config_.floating;
    case kRead:
      if (position < 4) return config_.floating;
      return memory_[(CommandAddress() + (position - 4)) & address_mask_];
    default:
      return config_.floating;
  }
}

void SpiFlashModel::Deselect() {
  if (!selected_) return;
  selected_ = false;
  if (phase_ == Phase::Collecting && !absent_) Execute();
  phase_ = Phase::Idle;
  bytes_in_ = 0;
}

void SpiFlashModel::PowerCycle() {
  selected_ = false;
  phase_ = Phase::Idle;
  bytes_in_ = 0;
  cycle_running_ = false;
  status_ &= static_cast<std::uint8_t>(~kWel);
}

// Commands execute only when chip-select rises right after their last needed byte; a command cut
// short or run long is dropped, as the parts' datasheets require.
void SpiFlashModel::Execute() {
  const bool write_enabled = (status_ & kWel) != 0;
  switch (opcode_) {
    case kWriteEnable:
      if (bytes_in_ == 1) status_ |= kWel;
      break;
    case kWriteDisable:
      if (bytes_in_ == 1) status_ &= static_cast<std::uint8_t>(~kWel);
      break;
    case kChipErase:
    case kChipEraseAlt:
      if (bytes_in_ == 1 && write_enabled) EraseChip();
      break;
    case kSectorErase:
      if (bytes_in_ == 4 && write_enabled) EraseSector(CommandAddress());
      break;
    case kPageProgram:
      if (bytes_in_ >= 5 && write_enabled) ProgramPage();
      break;
    case kWriteStatus:
      if (bytes_in_ == 2 && write_enabled) WriteStatus(header_[1]);
      break;
    default:
      break;  // reads need nothing at the release; unknown opcodes are ignored
  }
}

void SpiFlashModel::ProgramPage() {
  const std::uint32_t page = CommandAddress() & ~(PageSize() - 1);
  if (IsProtected(page)) return;
  for (std::uint32_t column = 0; column < PageSize(); ++column) {
    if (latched_[column]) memory_[page + column] &= page_latch_[column];  // only clears bits
  }
  ++page_programs_;
  StartCycle(times_.page_program_us);
}

void SpiFlashModel::EraseSector(std::uint32_t address) {
  const std::uint32_t sector = address & ~(SectorSize() - 1);
  const std::uint32_t length = std::min(SectorSize(), Size());
  if (IsProtected(sector) || IsProtected(sector + length - 1)) return;
  std::fill_n(memory_.begin() + sector, length, std::uint8_t{0xFF});
  ++sector_erases_;
  StartCycle(times_.sector_erase_us);
}

void SpiFlashModel::EraseChip() {
  if ((status_ & part_.block_protect_bits) != 0)
    return;  // any protect bit blocks the whole-chip erase
  std::fill(memory_.begin(), memory_.end(), std::uint8_t{0xFF});
  ++chip_erases_;
  StartCycle(times_.chip_erase_us);
}

void SpiFlashModel::WriteStatus(std::uint8_t value) {
  const std::uint8_t writable = WritableStatusBits();
  status_ = static_cast<std::uint8_t>((status_ & ~writable) | (value & writable));
  ++status_writes_;
  StartCycle(times_.write_status_us);
}

std::vector<std::uint8_t> SpiFlashModel::ReadRange(std::uint32_t address,
                                                   std::uint32_t count) const {
  std::vector<std::uint8_t> out(count);
  for (std::uint32_t i = 0; i < count; ++i) out[i] = memory_[(address + i) & address_mask_];
  return out;
}

void SpiFlashModel::WriteRange(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    memory_[(address + i) & address_mask_] = bytes[i];
  }
}

void SpiFlashModel::Fill(std::uint8_t value) {
  std::fill(memory_.begin(), memory_.end(), value);
}

}  // namespace velmora::sim
