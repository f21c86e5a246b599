// The chip command set: the eight vendor requests of the chip and the flash, register, I2C and
// mailbox operations built from them. Every operation runs on the one device link; all except
// MailboxCommand expect the caller to have opened the link and to close it afterwards.
// Results are values: a bool success (FlashReadStatus: the status byte). Nothing throws.
#pragma once

#include <array>
#include <cstdint>

#include "sleeper.h"
#include "velmora_usb.h"

namespace velmora {

// The device link together with the sleeper that times its polls.
struct ChipLink {
  VelmoraUsb& usb;
  Sleeper& sleeper;
};

// Manufacturer id, memory type, capacity code, as the flash answers its read-id command.
using ChipIdBytes = std::array<std::uint8_t, 3>;

namespace request {
inline constexpr std::uint8_t kHostToDevice = 0x43;  // vendor, recipient other, OUT
inline constexpr std::uint8_t kDeviceToHost = 0xC3;  // vendor, recipient other, IN
inline constexpr std::uint8_t kSpiWrite = 0x80;
inline constexpr std::uint8_t kSpiReadCommand = 0x81;
inline constexpr std::uint8_t kSpiReadData = 0x82;
inline constexpr std::uint8_t kSpiStatus = 0x83;
inline constexpr std::uint8_t kIspEnter = 0x84;
inline constexpr std::uint8_t kIspExit = 0x85;
inline constexpr std::uint8_t kRegWrite = 0x90;
inline constexpr std::uint8_t kRegRead = 0x91;
inline constexpr std::uint16_t kIspEnterValue = 0x3B71, kIspEnterIndex = 0x9E04;
inline constexpr std::uint16_t kIspExitValue = 0x6D2A, kIspExitIndex = 0xC85E;
}  // namespace request

namespace opcode {
inline constexpr std::uint8_t kReadId = 0x9F;
inline constexpr std::uint8_t kReadStatus = 0x05;
inline constexpr std::uint8_t kWriteStatus = 0x01;
inline constexpr std::uint8_t kWriteEnable = 0x06;
inline constexpr std::uint8_t kWriteDisable = 0x04;
inline constexpr std::uint8_t kChipErase = 0xC7;
inline constexpr std::uint8_t kSectorErase = 0x20;
inline constexpr std::uint8_t kPageProgram = 0x02;
inline constexpr std::uint8_t kRead = 0x03;
}  // namespace opcode

// ISP mode: the keyed 0x84/0x85 request (no data stage), then the bank 0x0D set-up writes, which
// are made whatever the key request returned. Result: whether the key request went through.
bool IspEnter(ChipLink& link);
bool IspExit(ChipLink& link);

// 0x83: true only when the transfer worked and the chip answered nonzero (command finished).
bool SpiReady(ChipLink& link);
// 0x80 wIndex 1 with the opcode and `count` (0..3) following bytes. Other counts: false, nothing
// sent.
bool SpiWrite(ChipLink& link, std::uint8_t op, std::uint8_t count, const std::uint8_t* data);
// 0x81 wValue count, wIndex 1, data stage the opcode.
bool SpiReadCommand(ChipLink& link, std::uint8_t op, std::uint8_t count);
// 0x82: fetches `count` bytes of the read-back buffer into `dst`.
bool SpiReadData(ChipLink& link, std::uint8_t count, std::uint8_t* dst);

// Reads the 3 identifier bytes into `id`: 0x81, up to 100 ready polls, 0x82. False, with `id`
// untouched, when the 0x81 fails (nothing more is sent), the chip is not ready or 0x82 fails.
bool FlashReadId(ChipLink& link, ChipIdBytes& id);
// Returns the status register: 0x81, up to 10 ready polls, 0x82. 0xFF when the 0x81 fails
// (nothing more is sent), the chip was not ready after 10 polls or the 0x82 failed.
std::uint8_t FlashReadStatus(ChipLink& link);
bool FlashWriteStatus(ChipLink& link, std::uint8_t value);
bool FlashWriteEnable(ChipLink& link);
bool FlashWriteDisable(ChipLink& link);
bool FlashChipErase(ChipLink& link);
bool FlashSectorErase(ChipLink& link, std::uint32_t address);
// Reads `count` (1..255) bytes at the 24-bit `address`: 0x81, up to 100 ready polls with a 1 ms
// pause after each not-ready answer, then 0x82. Other counts: false, nothing sent.
bool FlashRead(ChipLink& link, std::uint32_t address, std::uint32_t count, std::uint8_t* dst);
// 0x80 wIndex 0 (opcode and address), then 0x80 wIndex 1 with `count` (1..256) data bytes.
// Result: the second request's. When the first fails, the data is not sent and the result is
// false. Completion is left to the caller's status polls.
bool FlashPageProgram(ChipLink& link, std::uint32_t address, std::uint32_t count,
                      const std::uint8_t* data);

// One chip register: 0x91 (IN, 1 byte) / 0x90 (OUT, 1 byte), wIndex = register index.
bool RegRead(ChipLink& link, std::uint16_t index, std::uint8_t& value);
bool RegWrite(ChipLink& link, std::uint16_t index, std::uint8_t value);
bool RegSelectBank(ChipLink& link, std::uint8_t bank);

// The I2C master engine in register bank 0x0E. Addresses are 8-bit bus bytes in write form.
bool I2cMasterSetup(ChipLink& link);
bool I2cStart(ChipLink& link);
bool I2cStop(ChipLink& link);
bool I2cIsDone(ChipLink& link);
bool I2cIsAcked(ChipLink& link);
bool I2cWriteByte(ChipLink& link, std::uint8_t byte);
bool I2cReadByte(ChipLink& link, bool last, std::uint8_t& dst);
// The transactions fail only when the slave never acknowledged its address (10 attempts).
bool I2cWriteRegs(ChipLink& link, std::uint8_t address, std::uint8_t reg, std::uint8_t count,
                  const std::uint8_t* data);
bool I2cReadRegs(ChipLink& link, std::uint8_t address, std::uint8_t reg, std::uint8_t count,
                 std::uint8_t* dst);
bool I2cWriteRaw(ChipLink& link, std::uint8_t address, std::uint8_t command_count,
                 const std::uint8_t* command, std::uint8_t data_count, const std::uint8_t* data);
bool I2cReadRaw(ChipLink& link, std::uint8_t address, std::uint8_t command_count,
                const std::uint8_t* command, std::uint8_t data_count, std::uint8_t* dst);

// The register mailbox (bank 0x00): opens the link, writes the data registers (p1 bit 0 clear),
// starts `command`, polls register 0x90 for 0xEE (20 x 10 ms), reads the data back (p1 bit 0
// set) or clears 0x90, closes the link. True, as the device gives no other answer; false with
// nothing sent only for a data block longer than the 109 data registers (0x93-0xFF).
bool MailboxCommand(ChipLink& link, std::uint8_t command, std::uint8_t p1, std::uint8_t p2,
                    std::uint8_t count, std::uint8_t* data);

}  // namespace velmora
