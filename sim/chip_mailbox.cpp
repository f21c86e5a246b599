#include "chip_mailbox.h"

#include <algorithm>
#include <cstring>

namespace velmora::sim {

namespace {
// Items of the parameter command (its p1).
constexpr std::uint8_t kVendorId = 0x08, kProductId = 0x0A, kString1 = 0x10, kString2 = 0x14,
                       kString3 = 0x18, kOptionsWrite = 0x20, kOptionsRead = 0x21;
constexpr std::size_t kChunkBytes = 8;
constexpr std::size_t kChunksPerString = 4;
}  // namespace

std::string MailboxItems::StringText(int field) const {
  const auto& bytes = strings.at(static_cast<std::size_t>(field));
  const std::size_t length = std::min<std::size_t>(bytes[0], bytes.size() - 1);
  return std::string(bytes.begin() + 1, bytes.begin() + 1 + static_cast<std::ptrdiff_t>(length));
}

void ChipMailbox::Settle() {
  if (!pending_ || clock_.NowUs() < due_us_) return;
  if (pending_hid_ ? hid_never_answers_ : commands_never_complete_) return;
  pending_ = false;
  if (pending_hid_) {
    regs_[kCommand] = kHidDone;
    return;
  }
  // The firmware reads the parameters when it picks the command up.
  if (regs_[kCommand] == kParameterCommand) RunParameterItem(regs_[kP1], regs_[kP2]);
  regs_[kCommand] = kDone;
}

void ChipMailbox::WriteCommand(std::uint8_t value) {
  Settle();
  regs_[kCommand] = value;
  // 0x00 is the idle value; the two answer codes are never commands.
  if (value == 0x00 || value == kDone || value == kHidDone) {
    pending_ = false;
    return;
  }
  pending_ = true;
  pending_hid_ = value == kHidKey;
  if (pending_hid_) {
    hid_keys_.push_back(regs_[kP1]);
  } else {
    starts_.push_back({value, regs_[kP1], regs_[kP2]});
  }
  due_us_ = clock_.NowUs() + (pending_hid_ ? hid_delay_us_ : command_delay_us_);
  Settle();  // a zero delay answers at once
}

void ChipMailbox::RunParameterItem(std::uint8_t p1, std::uint8_t p2) {
  std::uint8_t* data = regs_.data() + kData;
  switch (p1) {
    case kVendorId:
      std::memcpy(items_.vendor_id.data(), data, items_.vendor_id.size());
      break;
    case kProductId:
      std::memcpy(items_.product_id.data(), data, items_.product_id.size());
      break;
    case kString1:
    case kString2:
    case kString3: {
      // The mailbox carries no count: the firmware copies a whole chunk, and the tool's length
      // byte says how much of the field is text.
      if (p2 >= kChunksPerString) break;
      auto& field = items_.strings[(p1 - kString1) / 4];
      std::memcpy(field.data() + p2 * kChunkBytes, data, kChunkBytes);
      break;
    }
    case kOptionsWrite:
      std::memcpy(items_.options.data(), data, items_.options.size());
      break;
    case kOptionsRead:
      std::memcpy(data, items_.options.data(), items_.options.size());
      break;
    default:
      break;  // items this firmware does not know are acknowledged and ignored
  }
}

}  // namespace velmora::sim
