// velmora-isp's one-shot commands on a chip: reg, i2c, params and status in the pages' words,
// with the pause each write needs before its read-back; and the file commands, which need none.
#include <filesystem>

#include "cli_fixture.h"

namespace velmora::cli::testing {
namespace {

using Kind = sim::TranscriptEvent::Kind;

TEST_F(CliTest, RegAndI2cShowTheValueReadBackAfterTheWritesPause) {
  const struct {
    std::vector<std::string> args;
    int code;
    std::string out, err;
    unsigned pause_ms;  // the run's one pause, right after its write; 0: no pause
  } cases[] = {
      {{"reg", "write", "0e", "0x11", "A4"}, 0, "Device 6012 is exist\nReg 0x11 = 0xA4\n", "", 3},
      {{"reg", "read", "3", "40"}, 0, "Device 6012 is exist\nReg 0x40 = 0x5A\n", "", 0},
      {{"reg", "read", "00", "A6"},
       1,
       "Device 6012 is exist\n",
       "Reading register 0xA6 of bank 0x00 failed\n",
       0},
      {{"i2c", "write", "20", "10", "AB"}, 0, "Device 6012 is exist\nReg 0x10 = 0xAB\n", "", 30},
      {{"i2c", "read", "20", "20", "2"},
       0,
       "Device 6012 is exist\nReg 0x20 = 0xC0\nReg 0x21 = 0xC1\n",
       "",
       0},
      {{"i2c", "read", "30", "00"},
       1,
       "Device 6012 is exist\n",
       "The I2C slave at 0x30 did not answer\n",
       0},
  };
  for (const auto& c : cases) {
    sim::Transcript transcript;
    sim::VirtualUsbPlatform platform(&transcript);
    bus_clock.SetTranscript(&transcript);
    sim::VirtualChip chip(bus_clock);
    chip.PlugInto(platform, sim::kAudioPath);
    chip.Registers().Poke(0x03, 0x40, 0x5A);
    chip.Registers().default_slave().SetReg(0x20, 0xC0);
    chip.Registers().default_slave().SetReg(0x21, 0xC1);
    if (c.code != 0 && c.args[0] == "reg") chip.FailRequest(0x91);
    bus = &platform;
    const CliRun run = Run(c.args);
    bus_clock.SetTranscript(nullptr);
    EXPECT_EQ(run.code, c.code) << c.args[1];
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    const auto& events = transcript.Events();
    std::vector<unsigned> pauses;
    for (std::size_t i = 1; i < events.size(); ++i) {
      if (events[i].kind != Kind::Pause) continue;
      pauses.push_back(events[i].ms);
      EXPECT_TRUE(events[i - 1].kind == Kind::Transfer && !events[i - 1].setup.DeviceToHost());
    }
    EXPECT_EQ(pauses, c.pause_ms ? std::vector<unsigned>{c.pause_ms} : std::vector<unsigned>{});
    if (c.args[1] == "write" && c.args[0] == "reg") {
      EXPECT_EQ(chip.Registers().Peek(0x0E, 0x11), 0xA4);
    }
    if (c.args[1] == "write" && c.args[0] == "i2c") {
      EXPECT_EQ(chip.Registers().default_slave().reg(0x10), 0xAB);
    }
  }
}

TEST_F(CliTest, ParamsAndStatusSpeakTheTabsWordsAndSendWhatTheTabSends) {
  std::array<std::uint8_t, 4> kept{};
  std::vector<std::uint8_t> items;  // the p1 of each mailbox command the firmware took
  std::string serial;
  chip_made = [](sim::VirtualChip& chip) {
    chip.Registers().mailbox_items().options = {0x7E, 0xE0, 0x5A, 0x80};
    chip.Registers().SetStatus(0x09, 0x77, 0x03);
  };
  chip_done = [&](sim::VirtualChip& chip) {
    kept = chip.Registers().mailbox_items().options;
    items.clear();
    for (const auto& start : chip.Registers().mailbox_starts()) items.push_back(start.p1);
    serial = chip.Registers().mailbox_items().StringText(2);
  };
  EXPECT_EQ(Run({"--virtual", "params", "show"}).out,
            "Device 6012 is exist\nParameter block: 7E E0 5A 80\nI2S Output length: 24 bit\n"
            "SPDIF Output length: 32 bit\nI2S Output Channel Swap: yes\n"
            "DSD Output Channel Swap: yes\nI2S MCLK Output Frequency: 1024 Fs\n"
            "I2S Format: Left Justify\nOutput when  DSD in: DoP\nMCLK Output Off: yes\n"
            "I2S Output Off: yes\nSPDIF Output Off: yes\nEEPROM Exist\n");
  // Bits 4-5 become 01, bit 6 clears, byte 1 bit 5 clears; byte 2 and the EEPROM bit travel.
  const CliRun set = Run({"--virtual", "params", "set", "--mclk", "256", "--i2s-format", "standard",
                          "--spdif-output", "on"});
  EXPECT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(kept, (std::array<std::uint8_t, 4>{0x1E, 0xC0, 0x5A, 0x80}));
  EXPECT_EQ(items, (std::vector<std::uint8_t>{0x21, 0x20, 0x21}));
  const CliRun text = Run({"--virtual", "params", "set-string", "3", "SN-000042"});
  EXPECT_EQ(serial, "SN-000042");
  EXPECT_THAT(text.out, HasSubstr("String 3 (Serial Number): \"SN-000042\" sent in 2 requests\n"));
  EXPECT_EQ(Run({"--virtual", "params", "set-id", "--vid", "0x6cc1"}).code, 0);
  EXPECT_EQ(Run({"--virtual", "status"}).out,
            "Device 6012 is exist\nStatus registers 0xA4-0xA6: 09 77 03\nUSB connected\nPlaying\n"
            "Input Format: DSD\nInput Freq:   DSD 128\n");
}

TEST_F(CliTest, ImageCommandsLoadAsTheWindowDoesAndPatchTableWritesOnlyTheTable) {
  EXPECT_EQ(Run({"image", "info", Sample("velmora-demo-fw.hex")}).out,
            "length 0x01200\nchecksum 0xF1AA\n");
  ASSERT_EQ(Run({"image", "dump", Sample("velmora-demo-fw.hex"), Path("img.bin")}).code, 0);
  EXPECT_EQ(Read(Path("img.bin")), Read(Sample("velmora-demo-fw.bin")));
  EXPECT_EQ(Run({"image", "dump", Path("missing.hex"), Path("none.bin")}).code, 2);
  EXPECT_FALSE(std::filesystem::exists(Path("none.bin")));

  // A field not given gets the page's text, whatever the image held.
  Bytes input = Read(Sample("velmora-demo-fw-table.bin"));
  std::fill(input.begin() + 0x1091, input.begin() + 0x10B1, 'x');
  const std::string in = Write("fw.bin", input), out = Path("new.bin");
  const CliRun run =
      Run({"patch-table", in, out, "--vid", "1d7a", "--serial", "SN-000123", "--product", "P"});
  ASSERT_EQ(run.code, 0) << run.err;
  Bytes expected = input;
  const auto put = [&](std::size_t at, const std::string& text) {
    for (std::size_t i = 0; i < 32; ++i)
      expected[0x1011 + at + i] = i < text.size() ? text[i] : ' ';
  };
  expected[0x100D] = 0x1D;
  expected[0x100E] = 0x7A;
  put(32, "P");
  put(64, "SN-000123");
  put(128, "Record Interface");
  EXPECT_EQ(Read(out), expected) << "the given fields, every other byte as it was";
  std::uint16_t sum = 0;
  for (std::uint8_t b : expected) sum = static_cast<std::uint16_t>(sum + b);
  char sum_line[32];
  std::snprintf(sum_line, sizeof sum_line, "sum 0x%04X\n", sum);
  EXPECT_EQ(run.out, sum_line);
  const CliRun plain = Run({"patch-table", Sample("velmora-demo-fw.bin"), Path("p.bin")});
  EXPECT_EQ(plain.code, 2);
  EXPECT_THAT(plain.err, HasSubstr("holds no user table"));
  EXPECT_FALSE(std::filesystem::exists(Path("p.bin")));
}

}  // namespace
}  // namespace velmora::cli::testing
