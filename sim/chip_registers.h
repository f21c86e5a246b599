// The chip's register side, reached through requests 0x90 (write) and 0x91 (read) with the
// register index in wIndex; the chip decodes the low 8 bits of the index. Register 0x00 selects
// the bank the other indexes address (any bank 0x00-0xFF). Bank 0x0E registers 0x10-0x14 are the
// I2C master engine, bank 0x00 registers 0x90-0x92 the mailbox (with the HID key handshake);
// every other register, the ISP set-up of bank 0x0D and the status registers 0xA4-0xA6 of bank
// 0x00 included, is plain storage.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "chip_mailbox.h"
#include "i2c_bus.h"
#include "i2c_master_engine.h"
#include "i2c_slave.h"
#include "virtual_clock.h"

namespace velmora::sim {

class ChipRegisters {
 public:
  // The bus address byte (write form) of the slave present from the start: 7-bit address 0x10.
  static constexpr std::uint8_t kDefaultSlaveAddress = 0x20;
  static constexpr std::uint8_t kIspBank = 0x0D, kI2cBank = 0x0E, kMailboxBank = 0x00;
  static constexpr std::uint8_t kRateCode = 0xA4, kStatusA5 = 0xA5, kStatusFlags = 0xA6;

  explicit ChipRegisters(VirtualClock& clock);
  ChipRegisters(const ChipRegisters&) = delete;
  ChipRegisters& operator=(const ChipRegisters&) = delete;

  void Write(std::uint16_t index, std::uint8_t value);  // request 0x90 (wIndex = index)
  std::uint8_t Read(std::uint16_t index);               // request 0x91

  // --- inspection and set-up for tests and the demo ---
  std::uint8_t bank() const { return bank_; }
  // The stored byte of a register without the side effects of an access (the engine's
  // registers show what was last written to them).
  std::uint8_t Peek(std::uint8_t bank, std::uint8_t reg) const;
  void Poke(std::uint8_t bank, std::uint8_t reg, std::uint8_t value);

  I2cBus& i2c_bus() { return bus_; }
  // The slave at 0x20 (attached afresh if a test detached it).
  I2cSlave& default_slave();
  I2cMasterEngine& i2c_engine() { return engine_; }
  ChipMailbox& mailbox() { return mailbox_; }

  MailboxItems& mailbox_items() { return mailbox_.items(); }
  const MailboxItems& mailbox_items() const { return mailbox_.items(); }
  const std::vector<MailboxStart>& mailbox_starts() const { return mailbox_.starts(); }
  void SetMailboxDelayUs(std::uint64_t us) { mailbox_.SetCommandDelayUs(us); }
  void SetMailboxNeverCompletes(bool never) { mailbox_.SetCommandsNeverComplete(never); }
  const std::vector<std::uint8_t>& hid_keys_sent() const { return mailbox_.hid_keys(); }
  void SetHidDelayUs(std::uint64_t us) { mailbox_.SetHidDelayUs(us); }
  void SetHidNeverAnswers(bool never) { mailbox_.SetHidNeverAnswers(never); }

  // Status registers 0xA4 (rate code), 0xA5, 0xA6 (flags) of bank 0x00.
  void SetStatus(std::uint8_t rate_code, std::uint8_t a5, std::uint8_t flags);

 private:
  using Bank = std::array<std::uint8_t, 256>;
  Bank& Table(std::uint8_t bank) { return banks_[bank]; }

  std::uint8_t bank_ = 0;
  std::map<std::uint8_t, Bank> banks_;  // tables of the banks used so far, zero when first used
  I2cBus bus_;
  I2cMasterEngine engine_{bus_};
  ChipMailbox mailbox_;
};

}  // namespace velmora::sim
