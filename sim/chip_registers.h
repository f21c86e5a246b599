// The chip's register side, reached through requests 0x90 (write) and 0x91 (read) with the
// register index in wIndex. Register 0x00 selects the bank the other indexes address. Bank 0x0D
// holds the ISP set-up, bank 0x0E the I2C master engine, bank 0x00 the mailbox, the status
// registers and the HID key handshake. Every other register is plain storage.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "i2c_bus.h"
#include "virtual_clock.h"

namespace velmora::sim {

// What the tool stored through mailbox command 0x10, kept for inspection.
struct MailboxItems {
  std::array<std::uint8_t, 4> vendor_id{};   // item 0x08: 4 ASCII chars
  std::array<std::uint8_t, 4> product_id{};  // item 0x0A
  // Items 0x10/0x14/0x18: 32-byte fields (length byte + chars), written in 8-byte chunks.
  std::array<std::array<std::uint8_t, 32>, 3> strings{};
  std::array<std::uint8_t, 4> options{};  // items 0x20 (write) / 0x21 (read)
};

class ChipRegisters {
 public:
  explicit ChipRegisters(VirtualClock& clock);

  void Write(std::uint16_t index, std::uint8_t value);  // request 0x90 (wIndex = index)
  std::uint8_t Read(std::uint16_t index);               // request 0x91

  // --- inspection and set-up for tests and the demo ---
  std::uint8_t bank() const { return bank_; }
  // The stored byte of a register, without the side effects of a read.
  std::uint8_t Peek(std::uint8_t bank, std::uint8_t reg) const;
  void Poke(std::uint8_t bank, std::uint8_t reg, std::uint8_t value);

  I2cBus& i2c_bus() { return bus_; }

  MailboxItems& mailbox_items() { return items_; }
  const MailboxItems& mailbox_items() const { return items_; }
  // Commands started through register 0x90 (command byte, p1, p2), in order.
  struct MailboxStart {
    std::uint8_t command, p1, p2;
    bool operator==(const MailboxStart&) const = default;
  };
  const std::vector<MailboxStart>& mailbox_starts() const { return mailbox_starts_; }
  void SetMailboxDelayUs(std::uint64_t us) { mailbox_delay_us_ = us; }
  void SetMailboxNeverCompletes(bool never) { mailbox_never_completes_ = never; }

  // Status registers 0xA4 (rate code), 0xA5, 0xA6 (flags) in bank 0x00.
  void SetStatus(std::uint8_t rate_code, std::uint8_t a5, std::uint8_t flags);

  // HID key handshake: 0x91 := key code, then 0x90 := 0x30; 0x90 reads 0x31 after the delay.
  const std::vector<std::uint8_t>& hid_keys_sent() const { return hid_keys_; }
  void SetHidDelayUs(std::uint64_t us) { hid_delay_us_ = us; }
  void SetHidNeverAnswers(bool never) { hid_never_answers_ = never; }

 private:
  using Bank = std::array<std::uint8_t, 256>;
  Bank& BankTable(std::uint8_t bank);
  void WriteI2cEngine(std::uint8_t reg, std::uint8_t value);
  std::uint8_t ReadI2cEngine(std::uint8_t reg);
  void WriteBankZero(std::uint8_t reg, std::uint8_t value);
  std::uint8_t ReadBankZero(std::uint8_t reg);
  void RunMailboxCommand();

  VirtualClock& clock_;
  std::uint8_t bank_ = 0;
  std::map<std::uint8_t, Bank> banks_;
  I2cBus bus_;

  // I2C engine state.
  bool start_pending_ = false;  // 0x10 := 0xC0 puts a start before the next byte
  bool stop_pending_ = false;
  bool send_armed_ = false;  // 0x14 := 0x01 seen; the byte goes out when 0x12 is written
  bool receive_ack_ = true;  // 0x10 := 0x80 (ack) or 0x90 (last byte, no ack)
  std::uint8_t engine_status_ = 0x01;

  // Mailbox and HID handshake.
  MailboxItems items_;
  std::vector<MailboxStart> mailbox_starts_;
  std::uint64_t mailbox_delay_us_ = 20000;
  bool mailbox_never_completes_ = false;
  bool mailbox_busy_ = false;
  std::uint64_t mailbox_done_at_us_ = 0;
  std::vector<std::uint8_t> hid_keys_;
  std::uint64_t hid_delay_us_ = 20000;
  bool hid_never_answers_ = false;
  bool hid_busy_ = false;
  std::uint64_t hid_done_at_us_ = 0;
};

}  // namespace velmora::sim
