// A clock that only moves when the tool pauses: SleepMs advances it at once and records the
// pause, so loops of a thousand 10 ms polls run in microseconds with every pause still visible.
#pragma once

#include <cstdint>

#include "sleeper.h"
#include "transcript.h"

namespace velmora::sim {

class VirtualClock final : public Sleeper {
 public:
  explicit VirtualClock(Transcript* transcript = nullptr) : transcript_(transcript) {}
  void SleepMs(unsigned ms) override;
  // Moves time without a pause of the tool (device latency, test set-up).
  void Advance(std::uint64_t us) { now_us_ += us; }
  std::uint64_t NowUs() const { return now_us_; }
  void SetTranscript(Transcript* transcript) { transcript_ = transcript; }

 private:
  Transcript* transcript_;
  std::uint64_t now_us_ = 0;
};

}  // namespace velmora::sim
