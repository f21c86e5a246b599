// The status read-out's words: what each status shows, and which labels it greys.
#include "device_status.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(DescribeStatusTest, FlagsChooseTheWordsAndTheRateCodesLowNibbleTheRate) {
  const std::string blank(8, ' ');
  const struct {
    std::uint8_t flags, rate_code;
    StatusDisplay shown;
  } cases[] = {
      {0x01, 0x00, {"USB connected", true, "Playing", true, "PCM", " 44.1KHz"}},
      {0x01, 0x05, {"USB connected", true, "Playing", true, "PCM", "  192KHz"}},
      // The rate code's upper nibble and the flags' bits 3-7 play no part.
      {0xF9, 0xF9, {"USB connected", true, "Playing", true, "PCM", "  768KHz"}},
      {0x01, 0x0A, {"USB connected", true, "Playing", true, "PCM", blank}},
      {0x03, 0x02, {"USB connected", true, "Playing", true, "DSD", " DoP 256"}},
      {0x03, 0x04, {"USB connected", true, "Playing", true, "DSD", blank}},
      {0x03, 0x09, {"USB connected", true, "Playing", true, "DSD", " DSD 128"}},
      {0x03, 0x0F, {"USB connected", true, "Playing", true, "DSD", blank}},
      {0x05, 0x05, {"USB connected", true, "Mute", false, {}, {}}},
      {0xFE, 0x05, {"USB Disconnected", false, {}, false, {}, {}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DescribeStatus({c.rate_code, 0x00, c.flags}), c.shown)
        << std::hex << "flags " << int{c.flags} << " rate " << int{c.rate_code};
  }
}

}  // namespace
}  // namespace velmora
