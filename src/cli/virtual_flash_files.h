// The files beside a --virtual-flash FILE. FILE.lock keeps a second run off the same flash while
// one works on it (both would save, and one image would be lost). FILE.state keeps what a real
// part and bridge keep between runs besides the flash bytes: the status register (its protect
// bits) and whether the bridge is still in ISP mode, so a run after a stopped or failed one
// finds the chip as that run left it, and a test can look at it after the program ended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "atomic_file.h"

namespace velmora::cli {

// An exclusive lock on FILE.lock, held while the object lives (and released by the system when
// the process ends in any way).
class FlashFileLock {
 public:
  // Takes the lock without waiting; `error` names the lock file when another run holds it or it
  // cannot be made.
  static std::optional<FlashFileLock> Take(const std::string& flash_file, std::string& error);
  FlashFileLock(FlashFileLock&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  FlashFileLock& operator=(FlashFileLock&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  FlashFileLock(const FlashFileLock&) = delete;
  ~FlashFileLock();

 private:
  explicit FlashFileLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = -1;
};

struct VirtualChipState {
  bool isp_mode = false;
  std::uint8_t status = 0x00;  // the stored status bits (block protect, SRWD)
};

// FILE.state, or nothing when there is none (a fresh chip) or it cannot be read.
std::optional<VirtualChipState> LoadChipState(const std::string& flash_file);
FileWriteResult SaveChipState(const std::string& flash_file, const VirtualChipState& state);

}  // namespace velmora::cli
