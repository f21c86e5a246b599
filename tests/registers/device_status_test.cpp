// The status read-out's core: the words and enabled states each status gives. The reading of the
// registers is tested through the window (tests/params/information_tab_test.cpp).
#include "device_status.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace velmora {
namespace {

using Text = std::optional<std::string>;

TEST(DescribeStatusTest, FlagsChooseTheWordsAndWhatIsGreyed) {
  const struct {
    std::uint8_t flags, rate_code;
    StatusDisplay shown;
  } cases[] = {
      {0x01, 0x05, {"USB connected", true, "Playing", true, "PCM", "  192KHz"}},
      {0x03, 0x09, {"USB connected", true, "Playing", true, "DSD", " DSD 128"}},
      {0x03, 0x02, {"USB connected", true, "Playing", true, "DSD", " DoP 256"}},
      {0x03, 0x0B, {"USB connected", true, "Playing", true, "DSD", " DSD 512"}},
      // The rate code's upper nibble and the flags' bits 3-7 play no part.
      {0xF9, 0xF7, {"USB connected", true, "Playing", true, "PCM", "  384KHz"}},
      {0x05, 0x05, {"USB connected", true, "Mute", false, {}, {}}},
      {0x00, 0x05, {"USB Disconnected", false, {}, false, {}, {}}},
      {0xFE, 0x05, {"USB Disconnected", false, {}, false, {}, {}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DescribeStatus({c.rate_code, 0x00, c.flags}), c.shown)
        << std::hex << "flags " << int{c.flags} << " rate " << int{c.rate_code};
  }
}

TEST(DescribeStatusTest, RateCodesWithoutARateShowEightBlanks) {
  for (int rate = 0; rate < 16; ++rate) {
    const Text pcm = DescribeStatus({static_cast<std::uint8_t>(rate), 0, 0x01}).rate;
    const Text dsd = DescribeStatus({static_cast<std::uint8_t>(rate), 0, 0x03}).rate;
    ASSERT_TRUE(pcm && dsd);
    EXPECT_EQ(pcm->size(), 8u) << rate;
    EXPECT_EQ(dsd->size(), 8u) << rate;
    EXPECT_EQ(*pcm == "        ", rate >= 10) << rate;
    EXPECT_EQ(*dsd == "        ", (rate & 0x04) != 0) << rate;  // 4-7 and 12-15
  }
}

}  // namespace
}  // namespace velmora
