// velmora-isp reg and i2c against the virtual chip: the value read back is shown in the pages'
// words, and the chip's registers and its I2C slave hold what was written.
#include <gmock/gmock.h>

#include "cli_fixture.h"

namespace velmora::cli::testing {
namespace {

using ::testing::HasSubstr;

TEST_F(CliTest, RegWritesAndReadsARegisterOfTheChosenBank) {
  std::uint8_t stored = 0, bank_after = 0;
  chip_done = [&](sim::VirtualChip& chip) {
    stored = chip.Registers().Peek(0x0E, 0x11);
    bank_after = chip.Registers().bank();
  };
  const CliRun write = Run({"--virtual", "reg", "write", "0e", "0x11", "A4"});
  EXPECT_EQ(write.code, 0) << write.err;
  EXPECT_EQ(write.out, "Device 6012 is exist\nReg 0x11 = 0xA4\n");
  EXPECT_EQ(stored, 0xA4);
  EXPECT_EQ(bank_after, 0x0E);

  chip_made = [](sim::VirtualChip& chip) { chip.Registers().SetStatus(0x05, 0x00, 0x03); };
  const CliRun read = Run({"--virtual", "reg", "read", "00", "A6"});
  EXPECT_EQ(read.code, 0);
  EXPECT_THAT(read.out, HasSubstr("\nReg 0xA6 = 0x03\n"));
  chip_made = [](sim::VirtualChip& chip) { chip.Registers().Poke(0x03, 0x40, 0x5A); };
  EXPECT_THAT(Run({"--virtual", "reg", "read", "3", "40"}).out, HasSubstr("Reg 0x40 = 0x5A"));

  chip_made = [](sim::VirtualChip& chip) { chip.FailRequest(0x91); };
  const CliRun failed = Run({"--virtual", "reg", "read", "00", "A6"});
  EXPECT_EQ(failed.code, 1);
  EXPECT_EQ(failed.err, "Reading register 0xA6 of bank 0x00 failed\n");
  EXPECT_EQ(Run({"reg", "read", "00", "00"}).code, 3) << "nothing on the bus";
}

TEST_F(CliTest, I2cReachesTheSlaveBehindTheChipsMaster) {
  std::array<std::uint8_t, 4> slave{};
  chip_made = [](sim::VirtualChip& chip) {
    for (std::uint8_t i = 0; i < 3; ++i)
      chip.Registers().default_slave().SetReg(0x20 + i, 0xC0 + i);
  };
  chip_done = [&](sim::VirtualChip& chip) {
    for (std::uint8_t i = 0; i < 4; ++i) slave[i] = chip.Registers().default_slave().reg(0x10 + i);
  };
  const CliRun write = Run({"--virtual", "i2c", "write", "20", "10", "AB"});
  EXPECT_EQ(write.code, 0) << write.err;
  EXPECT_THAT(write.out, HasSubstr("\nReg 0x10 = 0xAB\n"));
  EXPECT_EQ(slave, (std::array<std::uint8_t, 4>{0xAB, 0, 0, 0}));

  const CliRun read = Run({"--virtual", "i2c", "read", "20", "20", "3"});
  EXPECT_EQ(read.code, 0);
  EXPECT_THAT(read.out, HasSubstr("\nReg 0x20 = 0xC0\nReg 0x21 = 0xC1\nReg 0x22 = 0xC2\n"));

  const CliRun absent = Run({"--virtual", "i2c", "read", "30", "00"});
  EXPECT_EQ(absent.code, 1);
  EXPECT_EQ(absent.err, "The I2C slave at 0x30 did not answer\n");
}

}  // namespace
}  // namespace velmora::cli::testing

namespace velmora::cli::testing {
namespace {

// The pause between a write and its read-back, on the bus clock: the chip needs 3 ms to latch a
// register and the slave 30 ms to store a value before either reads back what it holds.
TEST_F(CliTest, AWriteWaitsBeforeItsReadBack) {
  const struct {
    std::vector<std::string> args;
    unsigned pause_ms;
  } cases[] = {
      {{"reg", "write", "0e", "11", "A4"}, 3},
      {{"i2c", "write", "20", "10", "AB"}, 30},
  };
  for (const auto& c : cases) {
    sim::Transcript transcript;
    bus.SetTranscript(&transcript);
    bus_clock.SetTranscript(&transcript);
    sim::VirtualChip chip(bus_clock);
    chip.PlugInto(bus, sim::kAudioPath);
    const CliRun run = Run(c.args);
    ASSERT_EQ(run.code, 0) << run.err;
    // The run's only pause, and the write before it: the read-back comes after the wait.
    std::vector<unsigned> pauses;
    bool wrote_before_pause = false;
    const auto& events = transcript.Events();
    for (std::size_t i = 0; i < events.size(); ++i) {
      if (events[i].kind != sim::TranscriptEvent::Kind::Pause) continue;
      pauses.push_back(events[i].ms);
      wrote_before_pause = i > 0 && events[i - 1].kind == sim::TranscriptEvent::Kind::Transfer &&
                           !events[i - 1].setup.DeviceToHost();
    }
    EXPECT_EQ(pauses, std::vector<unsigned>{c.pause_ms}) << c.args.front();
    EXPECT_TRUE(wrote_before_pause) << c.args.front();
    chip.Unplug();
    bus.SetTranscript(nullptr);
    bus_clock.SetTranscript(nullptr);
  }
}

}  // namespace
}  // namespace velmora::cli::testing
