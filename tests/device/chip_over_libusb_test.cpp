// The chip command set over the real libusb back-end: the virtual chip answers the usbfs URBs of
// a fake umockdev device, so every request goes through libusb's encoding and back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "chip_commands.h"
#include "libusb_usb_platform.h"
#include "umockdev_harness.h"
#include "velmora_usb.h"
#include "virtual_chip.h"
#include "virtual_clock.h"

namespace velmora {
namespace {

using ::testing::ElementsAre;

constexpr std::uint8_t kFill = 0xCC;  // never-written flash reads neither blank nor zeroed

sim::FlashConfig TestFlash(ChipIdBytes id = {0xC2, 0x20, 0x13}) {
  sim::FlashConfig flash;
  flash.id = id;
  flash.fill = kFill;
  return flash;
}

// One chip on the fake bus, found and opened through the device link.
struct ChipOnLibusb {
  explicit ChipOnLibusb(sim::FlashConfig flash = TestFlash()) : chip(clock, flash) {}

  // Plugs the chip in, starts libusb, finds and opens the device. Returns a failure message or "".
  std::string Connect() {
    if (!harness.Ok()) return harness.Error();
    id = harness.Plug({0x6ccf, 0x6012, 1, "4", &chip});
    if (id < 0) return harness.Error();
    platform = std::make_unique<LibusbUsbPlatform>(200);
    usb = std::make_unique<VelmoraUsb>(*platform);
    usb->SetMatchText("vid_6ccf&pid_6012");
    if (!usb->FindDevice()) return "not found: " + platform->LastError();
    if (!usb->Open()) return "not opened: " + platform->LastError();
    link = std::make_unique<ChipLink>(ChipLink{*usb, clock});
    return "";
  }

  // Polls the flash status, pausing 1 ms between polls, until the write cycle has ended.
  bool WaitWhileBusy() {
    for (int poll = 0; poll < 100; ++poll) {
      const std::uint8_t status = FlashReadStatus(*link);
      if (status != 0xFF && (status & 0x01) == 0) return true;
      clock.SleepMs(1);
    }
    return false;
  }

  fake::UmockdevHarness harness;  // before libusb starts
  sim::VirtualClock clock;
  sim::VirtualChip chip;
  int id = -1;
  std::unique_ptr<LibusbUsbPlatform> platform;
  std::unique_ptr<VelmoraUsb> usb;
  std::unique_ptr<ChipLink> link;
};

TEST(ChipOverLibusb, ReadIdAnswersInIspModeOnly) {
  struct Case {
    ChipIdBytes id;
  } cases[] = {{{0xC2, 0x20, 0x13}}, {{0xC2, 0x22, 0x11}}, {{0xEF, 0x40, 0x14}}};
  for (const Case& c : cases) {
    ChipOnLibusb bench(TestFlash(c.id));
    ASSERT_EQ(bench.Connect(), "");
    ChipIdBytes id = {0x11, 0x22, 0x33};
    // Outside ISP mode the bridge's firmware owns the flash and never reports the read done.
    EXPECT_FALSE(FlashReadId(*bench.link, id));
    EXPECT_THAT(id, ElementsAre(0x11, 0x22, 0x33));

    ASSERT_TRUE(IspEnter(*bench.link));
    EXPECT_TRUE(bench.chip.InIspMode());
    ASSERT_TRUE(FlashReadId(*bench.link, id));
    EXPECT_EQ(id, c.id);
    EXPECT_TRUE(IspExit(*bench.link));
    EXPECT_FALSE(bench.chip.InIspMode());
  }
}

TEST(ChipOverLibusb, PageProgramThenReadReturnsTheBytes) {
  ChipOnLibusb bench;
  ASSERT_EQ(bench.Connect(), "");
  ASSERT_TRUE(IspEnter(*bench.link));

  std::vector<std::uint8_t> page(256);
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const std::uint32_t address = 0x001100;
  // The fill 0xCC has bits that programming cannot set: erase the sector first.
  ASSERT_TRUE(FlashWriteEnable(*bench.link));
  ASSERT_TRUE(FlashSectorErase(*bench.link, address));
  bench.clock.SleepMs(100);
  ASSERT_TRUE(bench.WaitWhileBusy());
  ASSERT_TRUE(FlashWriteEnable(*bench.link));
  ASSERT_TRUE(FlashPageProgram(*bench.link, address, 256, page.data()));
  ASSERT_TRUE(bench.WaitWhileBusy());
  EXPECT_EQ(bench.chip.Flash().PagePrograms(), 1u);

  // Read back in the largest pieces a read can carry, one byte past the page as well.
  std::vector<std::uint8_t> back(257, 0x00);
  ASSERT_TRUE(FlashRead(*bench.link, address, 255, back.data()));
  ASSERT_TRUE(FlashRead(*bench.link, address + 255, 2, back.data() + 255));
  EXPECT_EQ(std::vector<std::uint8_t>(back.begin(), back.begin() + 256), page);
  EXPECT_EQ(back[256], 0xFF);  // erased, not programmed
  EXPECT_EQ(bench.chip.Flash().ReadRange(address, 256), page);
}

TEST(ChipOverLibusb, RegisterAndI2cWritesReadBack) {
  ChipOnLibusb bench;
  ASSERT_EQ(bench.Connect(), "");
  struct Case {
    std::uint8_t bank, reg, value;
  } cases[] = {{0x05, 0x33, 0x5A}, {0x0D, 0x01, 0xA5}, {0x00, 0xA6, 0x81}};
  for (const Case& c : cases) {
    ASSERT_TRUE(RegSelectBank(*bench.link, c.bank));
    ASSERT_TRUE(RegWrite(*bench.link, c.reg, c.value));
    std::uint8_t value = 0;
    ASSERT_TRUE(RegRead(*bench.link, c.reg, value));
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(bench.chip.Registers().Peek(c.bank, c.reg), c.value);
  }

  ASSERT_TRUE(I2cMasterSetup(*bench.link));
  const std::uint8_t out[] = {0x12, 0x34};
  ASSERT_TRUE(I2cWriteRegs(*bench.link, 0x20, 0x07, 2, out));
  EXPECT_EQ(bench.chip.Registers().default_slave().reg(0x08), 0x34);
  std::uint8_t in[2] = {};
  ASSERT_TRUE(I2cReadRegs(*bench.link, 0x20, 0x07, 2, in));
  EXPECT_THAT(in, ElementsAre(0x12, 0x34));
}

TEST(ChipOverLibusb, RefusedAndLostTransfersFailWithoutChangingTheCallersValue) {
  ChipOnLibusb bench;
  ASSERT_EQ(bench.Connect(), "");
  bench.chip.FailNextTransfers(1);
  std::uint8_t value = 0x77;
  EXPECT_FALSE(RegRead(*bench.link, 0x10, value));
  EXPECT_EQ(value, 0x77);
  EXPECT_TRUE(RegRead(*bench.link, 0x10, value));

  bench.harness.Unplug(bench.id);
  value = 0x66;
  EXPECT_FALSE(RegRead(*bench.link, 0x10, value));
  EXPECT_EQ(value, 0x66);
  EXPECT_FALSE(IspEnter(*bench.link));
}

}  // namespace
}  // namespace velmora
