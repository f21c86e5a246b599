#include "parameter_commands.h"

namespace velmora {

bool WriteParameterBlock(ChipLink& link, const ParameterBlock& block) {
  // The mailbox takes a buffer for both directions; a write only reads it.
  ParameterBlock copy = block;
  return MailboxCommand(link, kParameterMailboxCommand, parameter_item::kOptionsWrite, 0,
                        static_cast<std::uint8_t>(copy.size()), copy.data());
}

bool ReadParameterBlock(ChipLink& link, ParameterBlock& block) {
  return MailboxCommand(link, kParameterMailboxCommand, parameter_item::kOptionsRead, 0,
                        static_cast<std::uint8_t>(block.size()), block.data());
}

bool WriteIdentifier(ChipLink& link, std::uint8_t item, const IdentifierField& field) {
  IdentifierField copy = field;
  return MailboxCommand(link, kParameterMailboxCommand, item, 0,
                        static_cast<std::uint8_t>(copy.size()), copy.data());
}

bool WriteStringChunks(ChipLink& link, std::uint8_t item, const std::vector<StringChunk>& chunks) {
  bool ok = true;
  for (const StringChunk& chunk : chunks) {
    std::vector<std::uint8_t> bytes = chunk.bytes;
    ok = MailboxCommand(link, kParameterMailboxCommand, item, chunk.number,
                        static_cast<std::uint8_t>(bytes.size()), bytes.data()) &&
         ok;
    link.sleeper.SleepMs(kStringChunkPauseMs);
  }
  return ok;
}

}  // namespace velmora
