// The firmware's command mailbox in register bank 0x00: 0x90 command, 0x91 p1, 0x92 p2, 0x93
// onward data. Writing 0x90 hands the command to the firmware, which picks it up after a delay
// on the virtual clock, carries it out and leaves 0xEE in 0x90. Until then 0x90 reads back the
// command; writing 0x00 there first withdraws it unexecuted. Command 0x30 is the HID key
// handshake: the firmware sends the key code in 0x91 and answers 0x31 instead of 0xEE.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "virtual_clock.h"

namespace velmora::sim {

// What the tool stored through mailbox command 0x10, kept for inspection.
struct MailboxItems {
  std::array<std::uint8_t, 4> vendor_id{};   // item 0x08: 4 ASCII chars
  std::array<std::uint8_t, 4> product_id{};  // item 0x0A
  // Items 0x10/0x14/0x18: 32-byte fields (length byte + chars), written in 8-byte chunks.
  std::array<std::array<std::uint8_t, 32>, 3> strings{};
  std::array<std::uint8_t, 4> options{};  // items 0x20 (write) / 0x21 (read)

  // The text of string field 0..2 as its length byte says (at most the 31 chars that fit).
  std::string StringText(int field) const;
};

// One command handed to the firmware through 0x90, with the parameters in place at that time.
struct MailboxStart {
  std::uint8_t command, p1, p2;
  bool operator==(const MailboxStart&) const = default;
};

class ChipMailbox {
 public:
  static constexpr std::uint8_t kCommand = 0x90, kP1 = 0x91, kP2 = 0x92, kData = 0x93;
  static constexpr std::uint8_t kDone = 0xEE, kHidKey = 0x30, kHidDone = 0x31;
  static constexpr std::uint8_t kParameterCommand = 0x10;

  using Registers = std::array<std::uint8_t, 256>;
  // `bank0` is the register table the mailbox lives in; it must outlive the mailbox.
  ChipMailbox(VirtualClock& clock, Registers& bank0) : clock_(clock), regs_(bank0) {}

  // Completes a command whose time has come. Call before every register access.
  void Settle();
  void WriteCommand(std::uint8_t value);

  MailboxItems& items() { return items_; }
  const MailboxItems& items() const { return items_; }
  const std::vector<MailboxStart>& starts() const { return starts_; }
  // Key codes of the HID handshakes the tool started, in order.
  const std::vector<std::uint8_t>& hid_keys() const { return hid_keys_; }
  bool busy() const { return pending_; }

  void SetCommandDelayUs(std::uint64_t us) { command_delay_us_ = us; }
  void SetHidDelayUs(std::uint64_t us) { hid_delay_us_ = us; }
  // Faults: the firmware never picks up mailbox commands / never answers a HID key.
  void SetCommandsNeverComplete(bool never) { commands_never_complete_ = never; }
  void SetHidNeverAnswers(bool never) { hid_never_answers_ = never; }

 private:
  void RunParameterItem(std::uint8_t p1, std::uint8_t p2);

  VirtualClock& clock_;
  Registers& regs_;
  MailboxItems items_;
  std::vector<MailboxStart> starts_;
  std::vector<std::uint8_t> hid_keys_;
  bool pending_ = false;
  bool pending_hid_ = false;
  std::uint64_t due_us_ = 0;
  std::uint64_t command_delay_us_ = 20000;
  std::uint64_t hid_delay_us_ = 5000;
  bool commands_never_complete_ = false;
  bool hid_never_answers_ = false;
};

}  // namespace velmora::sim
