// A grid page's device traffic against the virtual chip: single reads, write-then-read-back and
// the full read with its stop and its end when a nested handler takes the link.
#include "register_access.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "i2c_slave.h"
#include "transcript.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

namespace velmora {
namespace {

using sim::TranscriptEvent;

class RegisterAccessTest : public ::testing::Test {
 protected:
  RegisterAccessTest() {
    chip.PlugInto(platform);
    usb.SetMatchText("vid_6ccf&pid_6012");
    usb.FindDevice();
    transcript.Clear();
  }

  // "open", "close", "p3" (a pause), "W12=34" (register write), "R12" (register read), with "-"
  // after a failed transfer.
  std::vector<std::string> Trace() const {
    std::vector<std::string> out;
    char word[16];
    for (const TranscriptEvent& e : transcript.Events()) {
      if (e.kind == TranscriptEvent::Kind::Open) out.push_back("open");
      if (e.kind == TranscriptEvent::Kind::Close) out.push_back("close");
      if (e.kind == TranscriptEvent::Kind::Pause) out.push_back("p" + std::to_string(e.ms));
      if (e.kind != TranscriptEvent::Kind::Transfer) continue;
      if (e.setup.request == 0x90) {
        std::snprintf(word, sizeof word, "W%02X=%02X", e.setup.index, e.data.at(0));
      } else {
        std::snprintf(word, sizeof word, "R%02X", e.setup.index);
      }
      out.push_back(std::string(word) + (e.ok ? "" : "-"));
    }
    return out;
  }

  sim::Transcript transcript;
  sim::VirtualClock clock{&transcript};
  sim::VirtualUsbPlatform platform{&transcript};
  sim::VirtualChip chip{clock};
  VelmoraUsb usb{platform};
  ChipLink link{usb, clock};
  ChipRegisterPort chip_port{link};
  RegisterTable image{};
  RegisterAccess access{usb, clock, chip_port, image};
};

TEST_F(RegisterAccessTest, ReadOneStoresTheRegisterAndAFailedReadKeepsTheEntry) {
  chip.Registers().Poke(0x00, 0x12, 0x5A);
  EXPECT_EQ(access.ReadOne(0x12), 0x5A);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"open", "R12", "close"}));

  chip.Registers().Poke(0x00, 0x12, 0x77);
  chip.FailRequest(0x91);
  EXPECT_EQ(access.ReadOne(0x12), 0x5A);
  EXPECT_EQ(image[0x12], 0x5A);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(RegisterAccessTest, WriteShowsTheValueReadBackAfterThePause) {
  // The mailbox command register reads 0xEE once the firmware has run what was written there.
  chip.Registers().SetMailboxDelayUs(0);
  EXPECT_EQ(access.WriteAndReadBack(0x90, 0x55, 3), 0xEE);
  EXPECT_EQ(image[0x90], 0xEE);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"open", "W90=55", "p3", "R90", "close"}));

  // Without a read-back the entry is the value that was written.
  chip.FailRequest(0x91);
  EXPECT_EQ(access.WriteAndReadBack(0x41, 0x3C, 1), 0x3C);
  EXPECT_EQ(chip.Registers().Peek(0x00, 0x41), 0x3C);
}

TEST_F(RegisterAccessTest, SlavePortFollowsTheAddressAndAnAbsentSlaveLeavesTheEntry) {
  std::uint8_t address = 0x20;
  I2cSlaveRegisterPort slave_port(link, address);
  RegisterAccess slave_access(usb, clock, slave_port, image);
  usb.Open();
  I2cMasterSetup(link);
  usb.Close();
  sim::I2cSlave& other = chip.Registers().i2c_bus().Attach(0xA0);
  other.SetReg(0x05, 0x99);

  EXPECT_EQ(slave_access.WriteAndReadBack(0x05, 0x42, 30), 0x42);
  EXPECT_EQ(chip.Registers().default_slave().reg(0x05), 0x42);
  address = 0xA0;
  EXPECT_EQ(slave_access.ReadOne(0x05), 0x99);

  address = 0x40;  // nobody there
  EXPECT_EQ(slave_access.ReadOne(0x05), 0x99);
  EXPECT_EQ(image[0x05], 0x99);
}

// Records what a full read shows and runs a hook at every pump.
class RecordingFront final : public FullReadFront {
 public:
  void Show(std::uint8_t index, std::uint8_t value) override {
    shown.push_back(index);
    values.push_back(value);
  }
  void Pump() override {
    ++pumps;
    if (on_pump) on_pump(pumps);
  }
  bool StopRequested() const override { return stop; }

  std::vector<int> shown, values;
  int pumps = 0;
  bool stop = false;
  std::function<void(int)> on_pump;
};

TEST_F(RegisterAccessTest, FullReadReadsEveryRegisterInRowOrderOnOneOpenedLink) {
  for (int i = 1; i < 256; ++i) chip.Registers().Poke(0x00, i, static_cast<std::uint8_t>(i ^ 0x5A));
  RecordingFront front;
  EXPECT_EQ(access.ReadAll(front), FullReadEnd::Completed);
  ASSERT_EQ(front.shown.size(), 256u);
  for (int i = 1; i < 256; ++i) {
    EXPECT_EQ(front.shown[i], i);
    EXPECT_EQ(image[i], i ^ 0x5A) << i;
  }
  EXPECT_EQ(front.pumps, 256);
  EXPECT_EQ(transcript.Count(TranscriptEvent::Kind::Open), 1u);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(RegisterAccessTest, FullReadEndsBeforeTheNextRegisterOnAStopOrWhenTheLinkWasTaken) {
  const struct {
    const char* name;
    std::function<void(RecordingFront&)> at_pump_5;
    FullReadEnd end;
  } cases[] = {
      {"stop", [](RecordingFront& front) { front.stop = true; }, FullReadEnd::Stopped},
      {"nested open and close", [this](RecordingFront&) { usb.Open(), usb.Close(); },
       FullReadEnd::LinkLost},
      {"nested open", [this](RecordingFront&) { usb.Open(); }, FullReadEnd::LinkLost},
  };
  for (const auto& c : cases) {
    RecordingFront front;
    front.on_pump = [&](int pump) {
      if (pump == 5) c.at_pump_5(front);
    };
    transcript.Clear();
    EXPECT_EQ(access.ReadAll(front), c.end) << c.name;
    EXPECT_EQ(front.shown.size(), 5u) << c.name;
    EXPECT_EQ(transcript.Transfers().size(), 5u) << c.name;
    EXPECT_EQ(platform.OpenHandleCount(), 0u) << c.name;
  }
}

}  // namespace
}  // namespace velmora
