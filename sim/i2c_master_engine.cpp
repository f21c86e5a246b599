#include "i2c_master_engine.h"

namespace velmora::sim {

namespace {
constexpr std::uint8_t kCommandStatus = 0x10, kSetup = 0x11, kTxByte = 0x12, kRxByte = 0x13,
                       kGo = 0x14;
constexpr std::uint8_t kCmdStart = 0xC0, kCmdStop = 0xA0, kCmdReceiveAck = 0x80,
                       kCmdReceiveLast = 0x90;
constexpr std::uint8_t kGoSend = 0x01, kGoReceive = 0x03;
constexpr std::uint8_t kStatusDone = 0x01, kStatusNack = 0x08;
// Not done, and no acknowledge seen yet: what a result read too early finds.
constexpr std::uint8_t kStatusBusy = kStatusNack;
}  // namespace

void I2cMasterEngine::BeginByte() {
  if (start_pending_) {
    bus_.Start();
    start_pending_ = false;
  }
  done_ = false;
}

void I2cMasterEngine::FinishByte(bool nack, std::optional<std::uint8_t> received) {
  in_flight_ = true;
  result_nack_ = nack;
  result_received_ = received;
  reads_until_done_ = done_delay_reads_;
}

void I2cMasterEngine::ShowResult() {
  in_flight_ = false;
  done_ = true;
  nack_ = result_nack_;
  if (result_received_) rx_byte_ = *result_received_;
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
        FinishByte(!bus_.SendByte(tx_byte_), std::nullopt);
      }
      break;
    case kRxByte:
      break;  // read-only
    case kGo:
      go_ = value;
      if (value == kGoSend) {
        send_armed_ = true;
        done_ = false;
        in_flight_ = false;  // a byte still running is overtaken; its result never shows
      } else if (value == kGoReceive) {
        send_armed_ = false;
        BeginByte();
        FinishByte(false, bus_.ReceiveByte(ack_received_byte_));
      }
      break;
    default:
      break;
  }
}

std::uint8_t I2cMasterEngine::Read(std::uint8_t reg) {
  switch (reg) {
    case kCommandStatus:
      if (in_flight_) {
        if (reads_until_done_ > 0) {
          --reads_until_done_;
          return kStatusBusy;
        }
        ShowResult();
      }
      if (!done_) return kStatusBusy;
      return static_cast<std::uint8_t>(kStatusDone | (nack_ ? kStatusNack : 0));
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
