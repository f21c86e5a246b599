// How the flash engine reports progress and lets the front end breathe. The window implements it
// with its three progress labels and the event pump; a command-line front end prints instead.
#pragma once

#include <cstdint>
#include <string>

#include "flash_texts.h"

namespace velmora {

class FlashProgress {
 public:
  virtual ~FlashProgress() = default;
  // The current step and its outcome ("Start Blanking Check", "Verifying Fail at 0x000045").
  virtual void ProcessText(const std::string& text) = 0;
  // The address being worked on ("Blanking Addr: 0x000040").
  virtual void AddressText(const std::string& text) = 0;
  // The same address as a number, given right after AddressText (and for each sector of a sector
  // erase), for front ends that draw a bar. The window has its label and ignores it.
  virtual void Reached(std::uint32_t /*address*/) {}
  // The last status byte read while erasing ("Status Register: 0x03").
  virtual void StatusText(const std::string& text) = 0;
  // Lets the front end process pending events once (a nested click runs its handler here).
  virtual void Pump() = 0;
  // True once the user asked the running job to stop; checked at chunk, page and poll boundaries.
  virtual bool StopRequested() const { return false; }
};

// The check every chunk, page and poll boundary makes: when a stop was asked for, shows "Stopped by
// user" and returns true, and the caller ends its pass as a failure.
inline bool StopShown(FlashProgress& progress) {
  if (!progress.StopRequested()) return false;
  progress.ProcessText(texts::kStopped);
  return true;
}

}  // namespace velmora
