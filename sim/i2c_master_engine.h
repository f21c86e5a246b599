// The chip's I2C master engine: registers 0x10-0x14 of bank 0x0E, driving an I2cBus.
//   0x10 write: 0xC0 start condition before the next byte, 0xA0 stop condition (at once),
//        0x80 / 0x90 how the next received byte is answered (acknowledge / not, the last byte).
//   0x10 read:  bit 0 = byte done, bit 3 = the slave did not acknowledge the byte sent.
//   0x11 set-up (stored), 0x12 byte to send, 0x13 byte received,
//   0x14 go: 0x01 arms a send, 0x03 receives a byte at once.
// A send goes out when 0x12 is written after a go 0x01, so the command set's order (go first,
// then the byte) sends the new byte; a byte written to 0x12 without a go is only stored.
// The engine takes time: after each byte the done bit shows only from the status read after the
// first SetDoneAfterStatusReads (1 by default, never 0), and only then do the acknowledge bit and
// the received byte hold this byte's result. Before that the status reads 0x08 (not done, no
// acknowledge seen yet) and 0x13 still holds the previous byte received, so a tool that reads
// a result without polling done reads a wrong one.
#pragma once

#include <cstdint>
#include <optional>

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
  static constexpr unsigned kDefaultBusyStatusReads = 1;
  // After each byte the done bit reads 0 for this many status reads: 1 by default and at least
  // 1 (the engine is never done at once). 20 or more outlasts the command set's polls: a slow
  // or stuck engine.
  void SetDoneAfterStatusReads(unsigned reads) { done_delay_reads_ = reads > 0 ? reads : 1; }

 private:
  void BeginByte();  // clears done and puts a pending start on the wires
  // The byte is on the wires; its result shows once the engine reports done.
  void FinishByte(bool nack, std::optional<std::uint8_t> received);
  void ShowResult();

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
  // The result of the byte in flight, shown when done comes.
  bool in_flight_ = false;
  bool result_nack_ = false;
  std::optional<std::uint8_t> result_received_;
  unsigned done_delay_reads_ = kDefaultBusyStatusReads;
  unsigned reads_until_done_ = 0;
};

}  // namespace velmora::sim
