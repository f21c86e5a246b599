// The Parameter tab's device traffic: mailbox command 0x10, whose first parameter selects the
// item. Each call opens and closes the device link itself (MailboxCommand). The device answers
// nothing but "done", so the results only say whether the request could be formed; with no
// device present every call does nothing visible.
#pragma once

#include <cstdint>
#include <vector>

#include "chip_commands.h"
#include "parameter_block.h"

namespace velmora {

inline constexpr std::uint8_t kParameterMailboxCommand = 0x10;

// Items (the mailbox's p1): odd ones read the data registers back, even ones write them.
namespace parameter_item {
inline constexpr std::uint8_t kVendorId = 0x08;
inline constexpr std::uint8_t kProductId = 0x0A;
inline constexpr std::uint8_t kString1 = 0x10;  // manufacturer
inline constexpr std::uint8_t kString2 = 0x14;  // model name
inline constexpr std::uint8_t kString3 = 0x18;  // serial number
inline constexpr std::uint8_t kOptionsWrite = 0x20;
inline constexpr std::uint8_t kOptionsRead = 0x21;
}  // namespace parameter_item

// The pause after each chunk of a string, so the firmware has stored it before the next.
inline constexpr unsigned kStringChunkPauseMs = 50;

// "Set": the four option bytes as they stand.
bool WriteParameterBlock(ChipLink& link, const ParameterBlock& block);
// "Read back": the four option bytes into `block`; a register read that fails leaves its byte
// as it was.
bool ReadParameterBlock(ChipLink& link, ParameterBlock& block);
// Item kVendorId or kProductId with its four bytes.
bool WriteIdentifier(ChipLink& link, std::uint8_t item, const IdentifierField& field);
// Item kString1/2/3: one request per chunk (p2 = the chunk number, count = its size), each
// followed by the chunk pause.
bool WriteStringChunks(ChipLink& link, std::uint8_t item, const std::vector<StringChunk>& chunks);

}  // namespace velmora
