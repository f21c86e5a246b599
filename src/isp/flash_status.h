// The flash status register as the flash engine's waits read it. The bridge keeps the answer of
// its last read command in its buffer: when the status command itself fails, a fetch hands back
// that stale byte, which may read "idle" while the part is still erasing. So the waits count a
// read whose command failed as busy, never as idle.
#pragma once

#include <cstdint>
#include <optional>

#include "chip_commands.h"
#include "flash_geometry.h"

namespace velmora {

inline constexpr std::uint8_t kStatusBusy = 0x01;  // write in progress

inline bool IsBusy(std::uint8_t status) {
  return (status & kStatusBusy) != 0;
}

// One status read, the same requests as FlashReadStatus (0x81, up to 10 ready polls, 0x82), but
// nothing when any of them failed or the bridge never reported the command done. The link must
// be open.
std::optional<std::uint8_t> ReadStatusChecked(ChipLink& link);

// A status read for a wait: a read that failed reads 0xFF (busy).
std::uint8_t StatusForWait(ChipLink& link);

// Reads the status up to `polls` times, 10 ms apart, until bit 0 (busy) reads clear. Returns the
// idle status byte, or nothing when the part stayed busy (or unreadable) through every read.
std::optional<std::uint8_t> WaitUntilIdle(ChipLink& link, int polls = kStatusPolls);

// WaitUntilIdle with the design's 1000 polls; true when the part turned idle.
bool WaitWhileBusy(ChipLink& link);

// Write enable, write status, then WaitUntilIdle. Returns the status read once the part was
// idle again, or nothing when a request failed (the status write is then not sent, or may not
// have arrived) or the part stayed busy. The caller decides whether to look at the result.
std::optional<std::uint8_t> WriteStatusAndWait(ChipLink& link, std::uint8_t value);

}  // namespace velmora
