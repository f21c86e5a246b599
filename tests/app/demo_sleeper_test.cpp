// The demo's sleeper pauses for real and moves the virtual chip's clock by the same time.
#include "demo_sleeper.h"

#include <gtest/gtest.h>

#include <chrono>

namespace velmora {
namespace {

TEST(DemoSleeper, PausesForRealAndAdvancesTheChipClock) {
  sim::VirtualClock clock;
  DemoSleeper sleeper(clock);
  const auto start = std::chrono::steady_clock::now();
  sleeper.SleepMs(20);
  sleeper.SleepMs(5);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
  EXPECT_EQ(clock.NowUs(), 25000u);
}

}  // namespace
}  // namespace velmora
