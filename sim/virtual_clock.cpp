#include "virtual_clock.h"

namespace velmora::sim {

void VirtualClock::SleepMs(unsigned ms) {
  now_us_ += std::uint64_t{ms} * 1000;
  if (transcript_) transcript_->AddPause(ms);
}

}  // namespace velmora::sim
