#include "chip_commands.h"

#include <cstring>

namespace velmora {
namespace {

constexpr int kIdReadyPolls = 100;
constexpr int kStatusReadyPolls = 10;
constexpr int kReadReadyPolls = 100;
constexpr int kI2cDonePolls = 20;
constexpr int kI2cAddressAttempts = 10;
constexpr int kMailboxPolls = 20;
constexpr unsigned kMailboxPollPauseMs = 10;
constexpr std::uint8_t kMailboxDone = 0xEE;

// I2C engine registers (bank 0x0E) and their command values.
constexpr std::uint16_t kI2cCommand = 0x10, kI2cSetup = 0x11, kI2cTxByte = 0x12, kI2cRxByte = 0x13,
                        kI2cGo = 0x14;
constexpr std::uint8_t kI2cCmdStart = 0xC0, kI2cCmdStop = 0xA0, kI2cCmdReceiveAck = 0x80,
                       kI2cCmdReceiveLast = 0x90, kI2cGoSend = 0x01, kI2cGoReceive = 0x03;

// Mailbox registers (bank 0x00).
constexpr std::uint16_t kMailboxCommand = 0x90, kMailboxP1 = 0x91, kMailboxP2 = 0x92,
                        kMailboxData = 0x93;
constexpr std::uint8_t kMailboxMaxData = 0x100 - kMailboxData;

bool Out(ChipLink& link, std::uint8_t request, std::uint16_t value, std::uint16_t index,
         const std::uint8_t* data, std::uint32_t length) {
  // The link's transfer takes a mutable buffer for both directions; OUT transfers only read it.
  return link.usb.ControlTransfer(request::kHostToDevice, request, value, index,
                                  const_cast<std::uint8_t*>(data), length);
}

bool In(ChipLink& link, std::uint8_t request, std::uint16_t value, std::uint16_t index,
        std::uint8_t* data, std::uint32_t length) {
  return link.usb.ControlTransfer(request::kDeviceToHost, request, value, index, data, length);
}

void PutAddress(std::uint8_t* out, std::uint32_t address) {
  out[0] = static_cast<std::uint8_t>(address >> 16);
  out[1] = static_cast<std::uint8_t>(address >> 8);
  out[2] = static_cast<std::uint8_t>(address);
}

// Start and address byte, retried with a fresh start until acknowledged; a stop after the last
// unacknowledged attempt.
bool I2cAddressPhase(ChipLink& link, std::uint8_t address) {
  for (int attempt = 0; attempt < kI2cAddressAttempts; ++attempt) {
    I2cStart(link);
    if (I2cWriteByte(link, address)) return true;
  }
  I2cStop(link);
  return false;
}

}  // namespace

bool IspEnter(ChipLink& link) {
  const bool ok =
      Out(link, request::kIspEnter, request::kIspEnterValue, request::kIspEnterIndex, nullptr, 0);
  RegWrite(link, 0x00, 0x0D);
  RegWrite(link, 0x07, 0x10);
  RegWrite(link, 0x01, 0x03);
  return ok;
}

bool IspExit(ChipLink& link) {
  const bool ok =
      Out(link, request::kIspExit, request::kIspExitValue, request::kIspExitIndex, nullptr, 0);
  RegWrite(link, 0x00, 0x0D);
  RegWrite(link, 0x07, 0x00);
  return ok;
}

bool SpiReady(ChipLink& link) {
  std::uint8_t ready = 0;
  return In(link, request::kSpiStatus, 0, 0, &ready, 1) && ready != 0;
}

bool SpiWrite(ChipLink& link, std::uint8_t op, std::uint8_t count, const std::uint8_t* data) {
  if (count > 3) return false;
  std::uint8_t stage[4] = {op};
  if (count > 0) std::memcpy(stage + 1, data, count);
  return Out(link, request::kSpiWrite, 0, 1, stage, count + 1u);
}

bool SpiReadCommand(ChipLink& link, std::uint8_t op, std::uint8_t count) {
  return Out(link, request::kSpiReadCommand, count, 1, &op, 1);
}

bool SpiReadData(ChipLink& link, std::uint8_t count, std::uint8_t* dst) {
  return In(link, request::kSpiReadData, 0, 0, dst, count);
}

bool FlashReadId(ChipLink& link, ChipIdBytes& id) {
  // Without the command the read-back buffer holds an older answer: never take it for the id.
  if (!SpiReadCommand(link, opcode::kReadId, 3)) return false;
  for (int poll = 0; poll < kIdReadyPolls; ++poll) {
    if (SpiReady(link)) {
      ChipIdBytes answer = id;
      if (!SpiReadData(link, 3, answer.data())) return false;
      id = answer;
      return true;
    }
  }
  return false;
}

std::uint8_t FlashReadStatus(ChipLink& link) {
  // Without the command the read-back buffer holds an older answer, which could read "idle".
  if (!SpiReadCommand(link, opcode::kReadStatus, 1)) return 0xFF;
  for (int poll = 0; poll < kStatusReadyPolls; ++poll) {
    if (SpiReady(link)) {
      std::uint8_t status = 0xFF;
      return SpiReadData(link, 1, &status) ? status : 0xFF;
    }
  }
  return 0xFF;
}

bool FlashWriteStatus(ChipLink& link, std::uint8_t value) {
  return SpiWrite(link, opcode::kWriteStatus, 1, &value);
}

bool FlashWriteEnable(ChipLink& link) {
  return SpiWrite(link, opcode::kWriteEnable, 0, nullptr);
}

bool FlashWriteDisable(ChipLink& link) {
  return SpiWrite(link, opcode::kWriteDisable, 0, nullptr);
}

bool FlashChipErase(ChipLink& link) {
  return SpiWrite(link, opcode::kChipErase, 0, nullptr);
}

bool FlashSectorErase(ChipLink& link, std::uint32_t address) {
  std::uint8_t bytes[3];
  PutAddress(bytes, address);
  return SpiWrite(link, opcode::kSectorErase, 3, bytes);
}

bool FlashRead(ChipLink& link, std::uint32_t address, std::uint32_t count, std::uint8_t* dst) {
  if (count < 1 || count > 255) return false;
  std::uint8_t command[4] = {opcode::kRead};
  PutAddress(command + 1, address);
  if (!Out(link, request::kSpiReadCommand, static_cast<std::uint16_t>(count), 1, command, 4)) {
    return false;
  }
  for (int poll = 0;;) {
    if (SpiReady(link)) break;
    link.sleeper.SleepMs(1);
    if (++poll == kReadReadyPolls) return false;
  }
  return SpiReadData(link, static_cast<std::uint8_t>(count), dst);
}

bool FlashPageProgram(ChipLink& link, std::uint32_t address, std::uint32_t count,
                      const std::uint8_t* data) {
  if (count < 1 || count > 256) return false;
  std::uint8_t command[4] = {opcode::kPageProgram};
  PutAddress(command + 1, address);
  // Without the header the data would reach the flash as a command of its own (a 0x02 there
  // would program a page at an address taken from the data).
  if (!Out(link, request::kSpiWrite, 0, 0, command, 4)) return false;
  return Out(link, request::kSpiWrite, 0, 1, data, count);
}

bool RegRead(ChipLink& link, std::uint16_t index, std::uint8_t& value) {
  std::uint8_t byte = value;
  if (!In(link, request::kRegRead, 0, index, &byte, 1)) return false;
  value = byte;
  return true;
}

bool RegWrite(ChipLink& link, std::uint16_t index, std::uint8_t value) {
  return Out(link, request::kRegWrite, 0, index, &value, 1);
}

bool RegSelectBank(ChipLink& link, std::uint8_t bank) {
  return RegWrite(link, 0x00, bank);
}

bool I2cMasterSetup(ChipLink& link) {
  RegWrite(link, 0x00, 0x0E);
  return RegWrite(link, kI2cSetup, 0x04);
}

bool I2cStart(ChipLink& link) {
  return RegWrite(link, kI2cCommand, kI2cCmdStart);
}

bool I2cStop(ChipLink& link) {
  return RegWrite(link, kI2cCommand, kI2cCmdStop);
}

bool I2cIsDone(ChipLink& link) {
  std::uint8_t status = 0;
  RegRead(link, kI2cCommand, status);
  return (status & 0x01) != 0;
}

bool I2cIsAcked(ChipLink& link) {
  // An unreadable status counts as "no acknowledge": a dead link must not look like a slave.
  std::uint8_t status = 0x08;
  RegRead(link, kI2cCommand, status);
  return (status & 0x08) == 0;
}

bool I2cWriteByte(ChipLink& link, std::uint8_t byte) {
  RegWrite(link, kI2cGo, kI2cGoSend);
  RegWrite(link, kI2cTxByte, byte);
  for (int poll = 0; poll < kI2cDonePolls; ++poll) {
    if (I2cIsDone(link)) break;
  }
  return I2cIsAcked(link);
}

bool I2cReadByte(ChipLink& link, bool last, std::uint8_t& dst) {
  RegWrite(link, kI2cCommand, last ? kI2cCmdReceiveLast : kI2cCmdReceiveAck);
  RegWrite(link, kI2cGo, kI2cGoReceive);
  for (int poll = 0; poll < kI2cDonePolls; ++poll) {
    if (I2cIsDone(link)) break;
  }
  RegRead(link, kI2cRxByte, dst);
  return true;
}

bool I2cWriteRegs(ChipLink& link, std::uint8_t address, std::uint8_t reg, std::uint8_t count,
                  const std::uint8_t* data) {
  return I2cWriteRaw(link, address, 1, &reg, count, data);
}

bool I2cReadRegs(ChipLink& link, std::uint8_t address, std::uint8_t reg, std::uint8_t count,
                 std::uint8_t* dst) {
  return I2cReadRaw(link, address, 1, &reg, count, dst);
}

bool I2cWriteRaw(ChipLink& link, std::uint8_t address, std::uint8_t command_count,
                 const std::uint8_t* command, std::uint8_t data_count, const std::uint8_t* data) {
  if (!I2cAddressPhase(link, address)) return false;
  for (int i = 0; i < command_count; ++i) I2cWriteByte(link, command[i]);
  for (int i = 0; i < data_count; ++i) I2cWriteByte(link, data[i]);
  I2cStop(link);
  return true;
}

bool I2cReadRaw(ChipLink& link, std::uint8_t address, std::uint8_t command_count,
                const std::uint8_t* command, std::uint8_t data_count, std::uint8_t* dst) {
  if (!I2cAddressPhase(link, address)) return false;
  for (int i = 0; i < command_count; ++i) I2cWriteByte(link, command[i]);
  if (!I2cAddressPhase(link, address | 0x01)) return false;
  for (int i = 0; i < data_count; ++i) I2cReadByte(link, i == data_count - 1, dst[i]);
  I2cStop(link);
  return true;
}

bool MailboxCommand(ChipLink& link, std::uint8_t command, std::uint8_t p1, std::uint8_t p2,
                    std::uint8_t count, std::uint8_t* data) {
  // The data registers run from 0x93 to 0xFF; a longer block would wrap onto the bank select
  // and the command register, so it is refused with nothing sent.
  if (count > kMailboxMaxData) return false;
  const bool returns_data = (p1 & 0x01) != 0;
  link.usb.Open();
  RegWrite(link, 0x00, 0x00);
  if (!returns_data) {
    for (int i = 0; i < count; ++i) RegWrite(link, kMailboxData + i, data[i]);
  }
  RegWrite(link, kMailboxP1, p1);
  RegWrite(link, kMailboxP2, p2);
  RegWrite(link, kMailboxCommand, command);
  for (int poll = 0; poll < kMailboxPolls; ++poll) {
    link.sleeper.SleepMs(kMailboxPollPauseMs);
    std::uint8_t state = 0;
    if (RegRead(link, kMailboxCommand, state) && state == kMailboxDone) break;
  }
  if (returns_data) {
    for (int i = 0; i < count; ++i) RegRead(link, kMailboxData + i, data[i]);
  } else {
    RegWrite(link, kMailboxCommand, 0x00);
  }
  link.usb.Close();
  return true;
}

}  // namespace velmora
