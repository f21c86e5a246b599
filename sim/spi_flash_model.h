// A strict SPI NOR flash on the chip's serial bus. The bridge asserts chip-select, clocks bytes
// (each byte out brings one byte back) and releases chip-select; a write-type command executes at
// the release. The model keeps the rules that let a test catch a tool's mistakes: write enable is
// required and consumed, a busy part ignores everything but read status, page program only clears
// bits and wraps inside its page, protected areas refuse program and erase. Busy time runs on the
// virtual clock, so a part stays busy until the tool pauses or a test advances the clock.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "flash_parts.h"
#include "virtual_clock.h"

namespace velmora::sim {

struct FlashConfig {
  // Manufacturer, memory type, capacity code: a part of the part table (flash_parts.h), which
  // gives its size, pages, erase block, protect bits and times. Any other identifier makes the
  // model's constructor throw std::invalid_argument.
  FlashId id{0xC2, 0x20, 0x13};
  // Contents of never-written flash. Tests use 0xCC so that "blank" or "zeroed" cannot pass by
  // accident; the demo uses 0xFF like a factory-fresh part.
  std::uint8_t fill = 0xFF;
  // Cycle times; empty: the part's typical times from the table.
  std::optional<FlashTimes> times;
  // What the bridge reads while the part does not drive its output (busy, absent, past the end
  // of an answer). Pull-ups make it 0xFF on most boards.
  std::uint8_t floating = 0xFF;
};

class SpiFlashModel {
 public:
  static constexpr std::uint8_t kWip = 0x01;
  static constexpr std::uint8_t kWel = 0x02;
  static constexpr std::uint8_t kSrwd = 0x80;

  // Throws std::invalid_argument when `config.id` is not in the part table.
  explicit SpiFlashModel(VirtualClock& clock, FlashConfig config = {});

  // --- the serial bus, as the bridge drives it ---
  // Asserts chip-select: the next byte is an opcode. Selecting while selected does nothing.
  void Select();
  // Clocks one byte out to the part and returns the byte it drove back.
  std::uint8_t Transfer(std::uint8_t mosi);
  // Releases chip-select: a complete write-type command executes now, an incomplete one is
  // dropped. Releasing while not selected does nothing.
  void Deselect();
  bool Selected() const { return selected_; }

  // --- geometry, from the part table ---
  const FlashPart& Part() const { return part_; }
  const FlashId& Id() const { return part_.id; }
  std::uint32_t Size() const { return part_.size; }
  std::uint32_t PageSize() const { return part_.page_size; }
  std::uint32_t SectorSize() const { return part_.sector_size; }
  // Status bits that write status can set: the part's block-protect bits and SRWD.
  std::uint8_t WritableStatusBits() const { return part_.block_protect_bits | kSrwd; }
  // Size of the protected area at the top of the array for the current BP bits.
  std::uint32_t ProtectedBytes() const;
  bool IsProtected(std::uint32_t address) const;

  // --- inspection and set-up for tests (no bus rules, no busy time) ---
  std::uint8_t Peek(std::uint32_t address) const { return memory_[address & address_mask_]; }
  std::vector<std::uint8_t> ReadRange(std::uint32_t address, std::uint32_t count) const;
  void WriteRange(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
  void Fill(std::uint8_t value);
  // The status register as read status would answer it now (WIP included).
  std::uint8_t Status();
  // Sets the stored bits (WEL, BP, SRWD); WIP follows the busy timer and cannot be set here.
  void SetStatus(std::uint8_t value) { status_ = value & static_cast<std::uint8_t>(~kWip); }
  bool Busy();
  void SetTimes(const FlashTimes& times) { times_ = times; }
  const FlashTimes& Times() const { return times_; }

  // Completed write commands, for tests that count work done.
  std::uint32_t PagePrograms() const { return page_programs_; }
  std::uint32_t SectorErases() const { return sector_erases_; }
  std::uint32_t ChipErases() const { return chip_erases_; }
  std::uint32_t StatusWrites() const { return status_writes_; }
  void ResetCounters() { page_programs_ = sector_erases_ = chip_erases_ = status_writes_ = 0; }

  // Power goes away: chip-select drops without executing, write enable and a running cycle are
  // lost. Contents and the non-volatile status bits (BP, SRWD) stay.
  void PowerCycle();

  // --- faults ---
  // WIP stays set (the part never finishes): every command but read status is ignored.
  void SetStuckBusy(bool stuck) { stuck_busy_ = stuck; }
  // No part on the bus: nothing executes and every byte reads as the floating value.
  void SetAbsent(bool absent) { absent_ = absent; }

 private:
  enum class Phase { Idle, Ignored, Collecting };

  void Settle();  // ends a write cycle whose time has run out
  void StartCycle(std::uint64_t duration_us);
  std::uint32_t CommandAddress() const;
  std::uint8_t AnswerRead(std::uint32_t position);
  void Execute();
  void ProgramPage();
  void EraseSector(std::uint32_t address);
  void EraseChip();
  void WriteStatus(std::uint8_t value);

  VirtualClock& clock_;
  const FlashPart& part_;
  FlashConfig config_;
  FlashTimes times_;
  std::vector<std::uint8_t> memory_;
  std::uint32_t address_mask_ = 0;

  std::uint8_t status_ = 0;  // WEL, BP, SRWD; WIP is derived from the cycle timer
  bool cycle_running_ = false;
  std::uint64_t cycle_ends_us_ = 0;
  bool stuck_busy_ = false;
  bool absent_ = false;

  // The command being clocked while chip-select is asserted.
  bool selected_ = false;
  Phase phase_ = Phase::Idle;
  std::uint8_t opcode_ = 0;
  std::uint32_t bytes_in_ = 0;            // bytes clocked since chip-select, the opcode included
  std::array<std::uint8_t, 4> header_{};  // opcode and up to 3 address (or status) bytes
  std::vector<std::uint8_t> page_latch_;  // page program data, by column
  std::vector<bool> latched_;

  std::uint32_t page_programs_ = 0, sector_erases_ = 0, chip_erases_ = 0, status_writes_ = 0;
};

}  // namespace velmora::sim
