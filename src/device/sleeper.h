// The sleeper seam: every fixed pause of the tool goes through it, so tests run on a virtual
// clock and still see each pause.
#pragma once

namespace velmora {

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  // Pauses for `ms` milliseconds (0 yields nothing).
  virtual void SleepMs(unsigned ms) = 0;
};

// Sleeps the calling thread for real.
class RealSleeper final : public Sleeper {
 public:
  void SleepMs(unsigned ms) override;
};

}  // namespace velmora
