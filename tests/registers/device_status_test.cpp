// The status read-out's core: the chip's three status registers read over the virtual chip, and
// the words and enabled states each status gives.
#include "device_status.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

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
      {0x01, 0x00, {"USB connected", true, "Playing", true, "PCM", " 44.1KHz"}},
      {0x03, 0x0B, {"USB connected", true, "Playing", true, "DSD", " DSD 512"}},
      // The rate code's upper nibble and the flags' bits 3-7 play no part.
      {0xF9, 0xF7, {"USB connected", true, "Playing", true, "PCM", "  384KHz"}},
      {0x05, 0x05, {"USB connected", true, "Mute", false, {}, {}}},
      {0x07, 0x05, {"USB connected", true, "Mute", false, {}, {}}},
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

class ReadDeviceStatusTest : public ::testing::Test {
 protected:
  ReadDeviceStatusTest() {
    chip.PlugInto(platform);
    usb.SetMatchText("vid_6ccf&pid_6012");
    EXPECT_TRUE(usb.FindDevice());
    // Another page left the I2C engine's bank selected: the read must select bank 0x00 itself.
    chip.Registers().Write(0x00, 0x0E);
    chip.Registers().SetStatus(0x19, 0x77, 0x03);
  }

  sim::VirtualClock clock;
  sim::VirtualUsbPlatform platform;
  sim::VirtualChip chip{clock};
  VelmoraUsb usb{platform};
  ChipLink link{usb, clock};
};

TEST_F(ReadDeviceStatusTest, ReadsTheThreeRegistersOfBankZeroAndClosesTheLink) {
  DeviceStatus status;
  EXPECT_TRUE(ReadDeviceStatus(link, status));
  EXPECT_EQ(status, (DeviceStatus{0x19, 0x77, 0x03}));
  EXPECT_EQ(chip.Registers().bank(), 0x00);
  EXPECT_EQ(usb.Handle(), kNoHandle);
}

TEST_F(ReadDeviceStatusTest, FailedReadsKeepTheLastUpdatesBytes) {
  DeviceStatus status{0x05, 0x06, 0x01};
  chip.FailRequest(0x91);
  EXPECT_FALSE(ReadDeviceStatus(link, status));
  EXPECT_EQ(status, (DeviceStatus{0x05, 0x06, 0x01}));

  chip.FailRequest(0x91, false);
  chip.Unplug();
  EXPECT_FALSE(ReadDeviceStatus(link, status));
  EXPECT_EQ(status, (DeviceStatus{0x05, 0x06, 0x01}));
}

}  // namespace
}  // namespace velmora
