// The demo's pauses: real ones, so the window behaves as with hardware, which also move the
// virtual chip's clock, so the chip's flash finishes its work in step with the tool's polls.
#pragma once

#include "sleeper.h"
#include "virtual_clock.h"

namespace velmora {

class DemoSleeper final : public Sleeper {
 public:
  explicit DemoSleeper(sim::VirtualClock& clock) : clock_(clock) {}
  void SleepMs(unsigned ms) override {
    real_.SleepMs(ms);
    clock_.SleepMs(ms);
  }

 private:
  RealSleeper real_;
  sim::VirtualClock& clock_;
};

}  // namespace velmora
