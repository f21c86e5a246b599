#include "chip_registers.h"

namespace velmora::sim {

namespace {
constexpr std::uint8_t kBankSelect = 0x00;
}  // namespace

ChipRegisters::ChipRegisters(VirtualClock& clock) : mailbox_(clock, banks_[kMailboxBank]) {
  bus_.Attach(kDefaultSlaveAddress);
}

void ChipRegisters::Write(std::uint16_t index, std::uint8_t value) {
  const auto reg = static_cast<std::uint8_t>(index);
  mailbox_.Settle();
  if (reg == kBankSelect) {
    bank_ = value;
    return;
  }
  if (bank_ == kI2cBank && I2cMasterEngine::Owns(reg)) {
    Table(bank_)[reg] = value;
    engine_.Write(reg, value);
    return;
  }
  if (bank_ == kMailboxBank && reg == ChipMailbox::kCommand) {
    mailbox_.WriteCommand(value);
    return;
  }
  Table(bank_)[reg] = value;
}

std::uint8_t ChipRegisters::Read(std::uint16_t index) {
  const auto reg = static_cast<std::uint8_t>(index);
  mailbox_.Settle();
  if (reg == kBankSelect) return bank_;
  if (bank_ == kI2cBank && I2cMasterEngine::Owns(reg)) return engine_.Read(reg);
  return Table(bank_)[reg];
}

std::uint8_t ChipRegisters::Peek(std::uint8_t bank, std::uint8_t reg) const {
  if (reg == kBankSelect) return bank_;
  const auto it = banks_.find(bank);
  return it == banks_.end() ? 0 : it->second[reg];
}

void ChipRegisters::Poke(std::uint8_t bank, std::uint8_t reg, std::uint8_t value) {
  if (reg == kBankSelect) {
    bank_ = value;
    return;
  }
  Table(bank)[reg] = value;
}

I2cSlave& ChipRegisters::default_slave() {
  I2cSlave* slave = bus_.SlaveAt(kDefaultSlaveAddress);
  return slave != nullptr ? *slave : bus_.Attach(kDefaultSlaveAddress);
}

void ChipRegisters::SetStatus(std::uint8_t rate_code, std::uint8_t a5, std::uint8_t flags) {
  Bank& regs = Table(kMailboxBank);
  regs[kRateCode] = rate_code;
  regs[kStatusA5] = a5;
  regs[kStatusFlags] = flags;
}

}  // namespace velmora::sim
