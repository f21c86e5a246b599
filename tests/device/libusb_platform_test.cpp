// The libusb back-end against fake devices that umockdev puts in a private /sys and /dev: real
// libusb enumeration, usbfs URBs for every control transfer, stalls, time-outs, unplugging and a
// node the user may not open.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "libusb_usb_platform.h"
#include "umockdev_harness.h"
#include "velmora_usb.h"

namespace velmora {
namespace {

using fake::FakeUsbDevice;
using fake::UmockdevHarness;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// Remembers what arrived, answers IN requests with `reply`, stalls when told to.
class RecordingDevice : public sim::VirtualDevice {
 public:
  bool HandleControl(Backend, const ControlSetup& setup, std::uint8_t* data,
                     std::uint32_t length) override {
    seen.push_back(setup);
    if (stall) return false;
    if (setup.DeviceToHost()) {
      for (std::uint32_t i = 0; i < length && i < reply.size(); ++i) data[i] = reply[i];
    } else {
      received.assign(data, data + length);
    }
    return true;
  }
  bool HandleProbe(Backend) override { return probe_ok; }

  std::vector<ControlSetup> seen;
  std::vector<std::uint8_t> received;
  std::vector<std::uint8_t> reply;
  bool stall = false;
  bool probe_ok = true;
};

constexpr char kAudioPath[] = "usb:vid_6ccf&pid_6012:bus1-port2";
constexpr unsigned kShortTimeoutMs = 150;

class LibusbPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(harness.Ok()) << harness.Error();
    audio = harness.Plug({0x6ccf, 0x6012, 1, "2", &chip});
    ASSERT_GE(audio, 0) << harness.Error();
  }
  // The platform starts after the devices are in place, as libusb reads /sys at start.
  LibusbUsbPlatform& Platform() {
    if (!platform) platform = std::make_unique<LibusbUsbPlatform>(kShortTimeoutMs);
    return *platform;
  }
  UsbHandle OpenAudio() {
    const UsbHandle handle = Platform().Open(kAudioPath);
    EXPECT_GT(handle, 0) << Platform().LastError();
    return handle;
  }

  UmockdevHarness harness;
  RecordingDevice chip;
  int audio = -1;
  std::unique_ptr<LibusbUsbPlatform> platform;
};

TEST(LibusbIdentityPath, IdsInLowerCaseHexThenBusAndPortPath) {
  struct Case {
    std::uint16_t vid, pid;
    std::uint8_t bus;
    std::vector<std::uint8_t> ports;
    std::uint8_t address;
    const char* path;
  } cases[] = {
      {0x6ccf, 0x6012, 1, {2}, 5, "usb:vid_6ccf&pid_6012:bus1-port2"},
      {0x1D7A, 0x6000, 3, {1, 4}, 9, "usb:vid_1d7a&pid_6000:bus3-port1.4"},
      {0x00AB, 0x000C, 12, {}, 7, "usb:vid_00ab&pid_000c:bus12-addr7"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LibusbUsbPlatform::IdentityPath(c.vid, c.pid, c.bus, c.ports, c.address), c.path);
  }
}

TEST_F(LibusbPlatformTest, ListsEveryDeviceUnderBothSelectorsWithItsPortPath) {
  RecordingDevice loader;
  ASSERT_GE(harness.Plug({0x1d7a, 0x6000, 3, "1.4", &loader}), 0) << harness.Error();

  std::vector<std::string> generic, property;
  ASSERT_TRUE(Platform().EnumerateInterfaces(Backend::Generic, generic)) << Platform().LastError();
  ASSERT_TRUE(Platform().EnumerateInterfaces(Backend::Property, property));
  EXPECT_THAT(generic, Contains(kAudioPath));
  EXPECT_THAT(generic, Contains("usb:vid_1d7a&pid_6000:bus3-port1.4"));
  EXPECT_EQ(generic, property);
}

TEST_F(LibusbPlatformTest, VendorRequestsCarrySetupAndDataBothWays) {
  const UsbHandle handle = OpenAudio();

  std::uint8_t out[] = {0x02, 0x01, 0x23, 0x45};
  ASSERT_TRUE(Platform().ControlTransfer(handle, Backend::Generic, {0x43, 0x80, 0x0004, 0x0001},
                                         out, sizeof out))
      << Platform().LastError();
  ASSERT_EQ(chip.seen.size(), 1u);
  EXPECT_EQ(chip.seen[0].request_type, 0x43);
  EXPECT_EQ(chip.seen[0].request, 0x80);
  EXPECT_EQ(chip.seen[0].value, 0x0004);
  EXPECT_EQ(chip.seen[0].index, 0x0001);
  EXPECT_THAT(chip.received, ElementsAre(0x02, 0x01, 0x23, 0x45));

  chip.reply = {0xC2, 0x20, 0x13, 0x77, 0x88};
  std::uint8_t in[5] = {};
  ASSERT_TRUE(Platform().ControlTransfer(handle, Backend::Property, {0xC3, 0x82, 0x1234, 0xBEEF},
                                         in, sizeof in));
  EXPECT_EQ(chip.seen.back().value, 0x1234);
  EXPECT_EQ(chip.seen.back().index, 0xBEEF);
  EXPECT_THAT(in, ElementsAre(0xC2, 0x20, 0x13, 0x77, 0x88));

  // A request without a data stage, as the ISP mode keys are sent.
  ASSERT_TRUE(Platform().ControlTransfer(handle, Backend::Generic, {0x43, 0x84, 0x3B71, 0x9E04},
                                         nullptr, 0));
  EXPECT_EQ(chip.seen.back().request, 0x84);
  Platform().Close(handle);
}

TEST_F(LibusbPlatformTest, StallFailsAndLeavesTheCallersBytes) {
  const UsbHandle handle = OpenAudio();
  chip.stall = true;
  std::uint8_t in[3] = {0xAA, 0xBB, 0xCC};
  EXPECT_FALSE(Platform().ControlTransfer(handle, Backend::Generic, {0xC3, 0x91, 0, 7}, in, 3));
  EXPECT_THAT(in, ElementsAre(0xAA, 0xBB, 0xCC));
  EXPECT_THAT(Platform().LastError(), Not(HasSubstr("permission")));
  EXPECT_NE(Platform().LastError(), "");

  chip.stall = false;  // a stall does not spoil the handle
  chip.reply = {0x5A};
  EXPECT_TRUE(Platform().ControlTransfer(handle, Backend::Generic, {0xC3, 0x91, 0, 7}, in, 1));
  EXPECT_EQ(in[0], 0x5A);
}

TEST_F(LibusbPlatformTest, SilentDeviceTimesOutInBoundedTimeAndTheHandleRecovers) {
  const UsbHandle handle = OpenAudio();
  harness.SetSilent(audio, true);
  std::uint8_t in[1] = {0x11};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Platform().ControlTransfer(handle, Backend::Generic, {0xC3, 0x83, 0, 0}, in, 1));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(kShortTimeoutMs - 20));
  EXPECT_LT(waited, std::chrono::milliseconds(kShortTimeoutMs + 2000));
  EXPECT_EQ(in[0], 0x11);
  EXPECT_THAT(Platform().LastError(), HasSubstr("time"));

  harness.SetSilent(audio, false);
  chip.reply = {0x01};
  EXPECT_TRUE(Platform().ControlTransfer(handle, Backend::Generic, {0xC3, 0x83, 0, 0}, in, 1))
      << Platform().LastError();
  EXPECT_EQ(in[0], 0x01);
}

TEST_F(LibusbPlatformTest, UnpluggedDeviceFailsTransfersAndLeavesTheList) {
  const UsbHandle handle = OpenAudio();
  harness.Unplug(audio);
  std::uint8_t out[1] = {0};
  EXPECT_FALSE(Platform().ControlTransfer(handle, Backend::Generic, {0x43, 0x90, 1, 2}, out, 1));
  EXPECT_FALSE(Platform().Probe(handle, Backend::Generic));
  Platform().Close(handle);

  std::vector<std::string> paths;
  ASSERT_TRUE(Platform().EnumerateInterfaces(Backend::Generic, paths));
  EXPECT_THAT(paths, Not(Contains(kAudioPath)));
  EXPECT_EQ(Platform().Open(kAudioPath), kInvalidHandle);
  EXPECT_THAT(Platform().LastError(), HasSubstr("not connected"));
}

TEST_F(LibusbPlatformTest, NodeWithoutPermissionNamesTheUdevRule) {
  Platform();  // enumerate while the node is still readable, as the running tool would
  ASSERT_TRUE(harness.DenyAccess(audio)) << harness.Error();
  EXPECT_EQ(Platform().Open(kAudioPath), kInvalidHandle);
  const std::string words = Platform().LastError();
  EXPECT_THAT(words, HasSubstr("no permission"));
  EXPECT_THAT(words, HasSubstr("70-velmora-usbtool.rules"));
  EXPECT_THAT(words, HasSubstr("plug"));

  harness.AllowAccess(audio);
  const UsbHandle handle = Platform().Open(kAudioPath);
  EXPECT_GT(handle, 0) << Platform().LastError();
  Platform().Close(handle);
}

TEST_F(LibusbPlatformTest, ProbeReadsTheDeviceDescriptorOnEitherSelector) {
  const UsbHandle handle = OpenAudio();
  EXPECT_TRUE(Platform().Probe(handle, Backend::Generic));
  EXPECT_TRUE(Platform().Probe(handle, Backend::Property));
  EXPECT_TRUE(chip.seen.empty());  // answered as a standard request, not a vendor one
  chip.probe_ok = false;
  EXPECT_FALSE(Platform().Probe(handle, Backend::Generic));
  EXPECT_EQ(harness.TransferCount(audio), 3u);
  // Each is GET_DESCRIPTOR of the 18-byte device descriptor: 0x80 0x06 0x0100 0x0000, 18.
  for (const auto& packet : harness.Setups(audio)) {
    EXPECT_EQ(packet.setup.request_type, 0x80);
    EXPECT_EQ(packet.setup.request, 0x06);
    EXPECT_EQ(packet.setup.value, 0x0100);
    EXPECT_EQ(packet.setup.index, 0x0000);
    EXPECT_EQ(packet.length, 18);
  }
}

// The answer is copied only as far as the device answered: the caller's bytes beyond a short
// answer stay as they were.
TEST_F(LibusbPlatformTest, AShortAnswerLeavesTheRestOfTheCallersBuffer) {
  const UsbHandle handle = OpenAudio();
  chip.reply = {0xC2, 0x20, 0x13, 0x77, 0x88};
  harness.SetShortAnswers(audio, 2);
  std::uint8_t in[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_TRUE(Platform().ControlTransfer(handle, Backend::Generic, {0xC3, 0x82, 0, 0}, in, 5))
      << Platform().LastError();
  EXPECT_THAT(in, ElementsAre(0xC2, 0x20, 0xEE, 0xEE, 0xEE));
  EXPECT_EQ(harness.Setups(audio).back().length, 5);  // asked for all five
  harness.SetShortAnswers(audio, SIZE_MAX);
  EXPECT_TRUE(Platform().ControlTransfer(handle, Backend::Generic, {0xC3, 0x82, 0, 0}, in, 5));
  EXPECT_THAT(in, ElementsAre(0xC2, 0x20, 0x13, 0x77, 0x88));
  Platform().Close(handle);
}

TEST_F(LibusbPlatformTest, RequestsThatCannotBeSentFailWithoutReachingTheDevice) {
  const UsbHandle handle = OpenAudio();
  std::vector<std::uint8_t> big(0x10000);
  struct Case {
    UsbHandle handle;
    std::uint8_t request_type;
    std::uint8_t* data;
    std::uint32_t length;
  } cases[] = {
      {handle, 0x43, big.data(), 0x10000},    // longer than wLength can say
      {kInvalidHandle, 0x43, big.data(), 1},  // what a failed open leaves
      {kNoHandle, 0x43, big.data(), 1},       // never opened
      {handle + 100, 0x43, big.data(), 1},    // not a handle of this platform
      {handle, 0x43, nullptr, 4},             // a data stage without a buffer, either way
      {handle, 0xC3, nullptr, 4},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Platform().ControlTransfer(c.handle, Backend::Generic,
                                            {c.request_type, 0x90, 0, 0}, c.data, c.length));
    EXPECT_NE(Platform().LastError(), "");
  }
  EXPECT_EQ(harness.TransferCount(audio), 0u);
  Platform().Close(handle);
  EXPECT_FALSE(
      Platform().ControlTransfer(handle, Backend::Generic, {0x43, 0x90, 0, 0}, big.data(), 1));
}

TEST_F(LibusbPlatformTest, DeviceLinkFindsOpensAndTalksOverLibusb) {
  RecordingDevice other;
  ASSERT_GE(harness.Plug({0x6ccf, 0x6000, 1, "3", &other}), 0) << harness.Error();
  VelmoraUsb link(Platform());
  link.SetBackend(VelmoraUsb::kPropertyBackend);
  link.SetMatchText("vid_6ccf&pid_6012");

  ASSERT_TRUE(link.FindDevice()) << Platform().LastError();
  EXPECT_EQ(link.IsFound(), 1);
  EXPECT_EQ(link.DevicePath(), kAudioPath);
  EXPECT_EQ(harness.TransferCount(audio), 1u);  // the probe, on a handle of its own

  ASSERT_TRUE(link.Open()) << Platform().LastError();
  chip.reply = {0x42};
  std::uint8_t value = 0;
  EXPECT_TRUE(link.ControlTransfer(0xC3, 0x91, 0, 0x0D05, &value, 1));
  EXPECT_EQ(value, 0x42);
  EXPECT_EQ(chip.seen.back().index, 0x0D05);
  link.Close();
  EXPECT_TRUE(other.seen.empty());

  harness.Unplug(audio);
  EXPECT_FALSE(link.CheckPresence());
  EXPECT_FALSE(link.Open());
}

}  // namespace
}  // namespace velmora
