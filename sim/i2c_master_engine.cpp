#include "i2c_master_engine.h"

namespace velmora::sim {

namespace {
constexpr std::uint8_t kCommandStatus = 0x10, kSetup = 0x11, kTxByte = 0x12, kRxByte = 0x13,
                       kGo = 0x14;
constexpr std::uint8_t kCmdStart = 0xC0, kCmdStop = 0xA0, kCmdReceiveAck = 0x80,
                       kCmdReceiveLast = 0x90;
constexpr std::uint8_t kGoSend = 0x01, kGoReceive = 0x03;
constexpr std::uint8_t kStatusDone = 0x01, kStatusNack = 0x08;
}  // namespace

void I2cMasterEngine::BeginByte() {
  if (start_pending_) {
    bus_.Start();
    start_pending_ = false;
  }
  done_ = false;
}

void I2cMasterEngine::FinishByte(bool nack) {
  nack_ = nack;
  done_ = true;
  reads_until_done_ = done_delay_reads_;
}

void I2cMasterEngine::Write(std::uint8_t reg, std::uint8_t value) {
  switch (reg) {
    case kCommandStatus:
      if (value == kCmdStart) {
        start_pending_ = true;
      } else if (value == kCmdStop) {
        start_pending_ = false;
        send_armed_ = false;
        bus_.Stop();
      } else if (value == kCmdReceiveAck) {
        ack_received_byte_ = true;
      } else if (value == kCmdReceiveLast) {
        ack_received_byte_ = false;
      }
      break;
    case kSetup:
      setup_ = value;
      break;
    case kTxByte:
      tx_byte_ = value;
      if (send_armed_) {
        send_armed_ = false;
        BeginByte();
        FinishByte(!bus_.SendByte(tx_byte_));
      }
      break;
    case kRxByte:
      break;  // read-only
    case kGo:
      go_ = value;
      if (value == kGoSend) {
        send_armed_ = true;
        done_ = false;
      } else if (value == kGoReceive) {
        send_armed_ = false;
        BeginByte();
        rx_byte_ = bus_.ReceiveByte(ack_received_byte_);
        FinishByte(false);
      }
      break;
    default:
      break;
  }
}

std::uint8_t I2cMasterEngine::Read(std::uint8_t reg) {
  switch (reg) {
    case kCommandStatus: {
      bool done = done_;
      if (done && reads_until_done_ > 0) {
        --reads_until_done_;
        done = false;
      }
      return static_cast<std::uint8_t>((done ? kStatusDone : 0) | (nack_ ? kStatusNack : 0));
    }
    case kSetup:
      return setup_;
    case kTxByte:
      return tx_byte_;
    case kRxByte:
      return rx_byte_;
    case kGo:
      return go_;
    default:
      return 0;
  }
}

}  // namespace velmora::sim
