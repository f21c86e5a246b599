#include "i2c_bus.h"

#include <ostream>

#include "i2c_slave.h"

namespace velmora::sim {

namespace {
constexpr std::uint8_t kReadBit = 0x01;
constexpr std::uint8_t kIdleBus = 0xFF;  // nobody pulls the data line low
}  // namespace

std::ostream& operator<<(std::ostream& out, const I2cBusEvent& event) {
  static const char* const kNames[] = {"start", "address", "write", "read", "stop"};
  out << kNames[static_cast<int>(event.kind)];
  if (event.kind == I2cBusEvent::Kind::kStart || event.kind == I2cBusEvent::Kind::kStop) {
    return out;
  }
  return out << " 0x" << std::hex << int{event.byte} << std::dec
             << (event.acked ? " ack" : " nack");
}

I2cBus::I2cBus() = default;
I2cBus::~I2cBus() = default;

I2cSlave& I2cBus::Attach(std::uint8_t address) {
  auto& slot = slaves_[address & ~kReadBit];
  if (current_ == slot.get()) current_ = nullptr;
  slot = std::make_unique<I2cSlave>();
  return *slot;
}

void I2cBus::Detach(std::uint8_t address) {
  const auto it = slaves_.find(address & ~kReadBit);
  if (it == slaves_.end()) return;
  if (current_ == it->second.get()) current_ = nullptr;
  slaves_.erase(it);
}

I2cSlave* I2cBus::SlaveAt(std::uint8_t address) {
  const auto it = slaves_.find(address & ~kReadBit);
  return it == slaves_.end() ? nullptr : it->second.get();
}

void I2cBus::Start() {
  events_.push_back({I2cBusEvent::Kind::kStart});
  current_ = nullptr;
  expect_address_ = true;
  released_ = false;
}

void I2cBus::Stop() {
  events_.push_back({I2cBusEvent::Kind::kStop});
  current_ = nullptr;
  expect_address_ = false;
}

bool I2cBus::SendByte(std::uint8_t byte) {
  bool acked = false;
  if (expect_address_) {
    expect_address_ = false;
    reading_ = (byte & kReadBit) != 0;
    I2cSlave* slave = SlaveAt(byte);
    acked = slave != nullptr && slave->Addressed(reading_);
    current_ = acked ? slave : nullptr;
    events_.push_back({I2cBusEvent::Kind::kAddress, byte, acked});
    return acked;
  }
  // A byte outside a write transfer (no start, no slave, or a slave that is transmitting)
  // finds nobody listening.
  if (current_ != nullptr && !reading_) acked = current_->Receive(byte);
  events_.push_back({I2cBusEvent::Kind::kWrite, byte, acked});
  return acked;
}

std::uint8_t I2cBus::ReceiveByte(bool ack) {
  std::uint8_t byte = kIdleBus;
  // A slave stops transmitting once the master has refused a byte.
  if (current_ != nullptr && reading_ && !released_) byte = current_->Transmit();
  if (!ack) released_ = true;
  events_.push_back({I2cBusEvent::Kind::kRead, byte, ack});
  return byte;
}

}  // namespace velmora::sim
