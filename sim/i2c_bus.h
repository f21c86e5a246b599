// The virtual I2C bus that the chip's master engine drives: it routes each transfer to the slave
// at the addressed bus byte and keeps a log of everything that happened on the wires, so tests can
// check the exact traffic ("start, 0x20 acked, 0x10, 0xAB, stop").
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <vector>

namespace velmora::sim {

class I2cSlave;

struct I2cBusEvent {
  enum class Kind : std::uint8_t {
    kStart,    // start or repeated start condition
    kAddress,  // address byte sent by the master (bit 0 set: read)
    kWrite,    // data byte sent by the master
    kRead,     // data byte sent by the slave; `acked` = the master acknowledged it
    kStop,
  };
  Kind kind;
  std::uint8_t byte = 0;
  bool acked = false;

  bool operator==(const I2cBusEvent&) const = default;

  static I2cBusEvent Start() { return {Kind::kStart}; }
  static I2cBusEvent Stop() { return {Kind::kStop}; }
  static I2cBusEvent Address(std::uint8_t byte, bool acked = true) {
    return {Kind::kAddress, byte, acked};
  }
  static I2cBusEvent Write(std::uint8_t byte, bool acked = true) {
    return {Kind::kWrite, byte, acked};
  }
  static I2cBusEvent Read(std::uint8_t byte, bool acked) { return {Kind::kRead, byte, acked}; }
};

// "start", "address 0x20 ack", "read 0xff nack", ... (test failure messages).
std::ostream& operator<<(std::ostream& out, const I2cBusEvent& event);

class I2cBus {
 public:
  I2cBus();
  ~I2cBus();

  // Attaches (or replaces) a slave at the 8-bit bus address `address` (write form, bit 0 clear).
  I2cSlave& Attach(std::uint8_t address);
  void Detach(std::uint8_t address);
  I2cSlave* SlaveAt(std::uint8_t address);

  // The master's side of the wires. Each returns what the bus answered.
  void Start();
  void Stop();
  // Sends one byte; the first byte after a start is the address. Returns the acknowledge.
  bool SendByte(std::uint8_t byte);
  // Receives one byte from the addressed slave (0xFF when nobody drives the bus); `ack` = the
  // master acknowledges it (more bytes wanted).
  std::uint8_t ReceiveByte(bool ack);

  const std::vector<I2cBusEvent>& events() const { return events_; }
  void ClearEvents() { events_.clear(); }

 private:
  std::map<std::uint8_t, std::unique_ptr<I2cSlave>> slaves_;
  std::vector<I2cBusEvent> events_;
  I2cSlave* current_ = nullptr;  // slave that acknowledged the last address
  bool reading_ = false;
  bool released_ = false;  // the master refused a byte: the slave has let go of the bus
  bool expect_address_ = false;
};

}  // namespace velmora::sim
