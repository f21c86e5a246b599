// The chip's I2C master engine: registers 0x10-0x14 of bank 0x0E, driving an I2cBus.
//   0x10 write: 0xC0 start condition before the next byte, 0xA0 stop condition (at once),
//        0x80 / 0x90 how the next received byte is answered (acknowledge / not, the last byte).
//   0x10 read:  bit 0 = byte done, bit 3 = the slave did not acknowledge the byte sent.
//   0x11 set-up (stored), 0x12 byte to send, 0x13 byte received,
//   0x14 go: 0x01 arms a send, 0x03 receives a byte at once.
// A send goes out when 0x12 is written after a go 0x01, so the command set's order (go first,
// then the byte) sends the new byte; a byte written to 0x12 without a go is only stored.
#pragma once

#include <cstdint>

#include "i2c_bus.h"

namespace velmora::sim {

class I2cMasterEngine {
 public:
  static constexpr std::uint8_t kFirstRegister = 0x10, kLastRegister = 0x14;
  static bool Owns(std::uint8_t reg) { return reg >= kFirstRegister && reg <= kLastRegister; }

  explicit I2cMasterEngine(I2cBus& bus) : bus_(bus) {}

  void Write(std::uint8_t reg, std::uint8_t value);
  std::uint8_t Read(std::uint8_t reg);

  std::uint8_t setup() const { return setup_; }
  // Fault: after each byte the done bit reads 0 for this many status reads (a slow or stuck
  // engine; 20 or more outlasts the command set's polls).
  void SetDoneAfterStatusReads(unsigned reads) { done_delay_reads_ = reads; }

 private:
  void BeginByte();  // clears done and puts a pending start on the wires
  void FinishByte(bool nack);

  I2cBus& bus_;
  std::uint8_t setup_ = 0;
  std::uint8_t tx_byte_ = 0;
  std::uint8_t rx_byte_ = 0xFF;
  std::uint8_t go_ = 0;
  bool start_pending_ = false;
  bool send_armed_ = false;
  bool ack_received_byte_ = true;
  bool done_ = true;
  bool nack_ = false;
  unsigned done_delay_reads_ = 0;
  unsigned reads_until_done_ = 0;
};

}  // namespace velmora::sim
