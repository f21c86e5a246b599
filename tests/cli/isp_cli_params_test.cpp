// velmora-isp params and status against the virtual chip's mailbox and status registers: what
// the firmware side received, and the Parameter and Information tabs' words.
#include <gmock/gmock.h>

#include "cli_fixture.h"
#include "velmora_version.h"

namespace velmora::cli::testing {
namespace {

using ::testing::HasSubstr;

TEST_F(CliTest, ParamsShowPrintsTheBlockInTheTabsWords) {
  chip_made = [](sim::VirtualChip& chip) {
    chip.Registers().mailbox_items().options = {0x7E, 0xE0, 0x5A, 0x80};
  };
  const CliRun run = Run({"--virtual", "params", "show"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out,
            "Device 6012 is exist\n"
            "Parameter block: 7E E0 5A 80\n"
            "I2S Output length: 24 bit\n"
            "SPDIF Output length: 32 bit\n"
            "I2S Output Channel Swap: yes\n"
            "DSD Output Channel Swap: yes\n"
            "I2S MCLK Output Frequency: 1024 Fs\n"
            "I2S Format: Left Justify\n"
            "Output when  DSD in: DoP\n"
            "MCLK Output Off: yes\n"
            "I2S Output Off: yes\n"
            "SPDIF Output Off: yes\n"
            "EEPROM Exist\n");
}

TEST_F(CliTest, ParamsSetChangesOnlyTheOptionsGivenAndCarriesTheRest) {
  std::array<std::uint8_t, 4> kept{};
  std::vector<std::uint8_t> items;  // the p1 of each mailbox command the firmware took
  chip_made = [](sim::VirtualChip& chip) {
    chip.Registers().mailbox_items().options = {0x7E, 0xE0, 0x5A, 0x80};
  };
  chip_done = [&](sim::VirtualChip& chip) {
    kept = chip.Registers().mailbox_items().options;
    for (const auto& start : chip.Registers().mailbox_starts()) items.push_back(start.p1);
  };
  const CliRun run = Run({"--virtual", "params", "set", "--mclk", "256", "--i2s-format", "standard",
                          "--spdif-output", "on"});
  EXPECT_EQ(run.code, 0) << run.err;
  // Bits 4-5 become 01, bit 6 clears, byte 1 bit 5 clears; byte 2 and the EEPROM bit travel.
  EXPECT_EQ(kept, (std::array<std::uint8_t, 4>{0x1E, 0xC0, 0x5A, 0x80}));
  EXPECT_EQ(items, (std::vector<std::uint8_t>{0x21, 0x20, 0x21}));
  EXPECT_THAT(run.out, HasSubstr("Parameter block: 1E C0 5A 80\n"));
  EXPECT_EQ(Run({"--virtual", "params", "set", "--mclk", "333"}).code, 2);
}

TEST_F(CliTest, ParamsSetIdAndSetStringReachTheFirmwareAsTheTabSendsThem) {
  std::array<std::uint8_t, 4> vendor{}, product{};
  std::string serial;
  chip_done = [&](sim::VirtualChip& chip) {
    vendor = chip.Registers().mailbox_items().vendor_id;
    product = chip.Registers().mailbox_items().product_id;
    serial = chip.Registers().mailbox_items().StringText(2);
  };
  const CliRun ids = Run({"--virtual", "params", "set-id", "--vid", "0x6cc1", "--pid", "613"});
  EXPECT_EQ(ids.code, 0) << ids.err;
  EXPECT_EQ(vendor, (std::array<std::uint8_t, 4>{'6', 'c', 'c', '1'}));
  EXPECT_EQ(product, (std::array<std::uint8_t, 4>{'0', '6', '1', '3'}));
  EXPECT_EQ(Run({"--virtual", "params", "set-id"}).code, 2) << "neither id given";

  const CliRun text = Run({"--virtual", "params", "set-string", "3", "SN-000042"});
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(serial, "SN-000042");
  EXPECT_THAT(text.out, HasSubstr("String 3 (Serial Number): \"SN-000042\" sent in 2 requests\n"));

  bool chip_made_at_all = false;
  chip_made = [&](sim::VirtualChip&) { chip_made_at_all = true; };
  const CliRun too_long = Run({"--virtual", "params", "set-string", "3", std::string(32, 'S')});
  EXPECT_EQ(too_long.code, 2);
  EXPECT_EQ(too_long.err, "String is longer than 31 characters: nothing sent\n");
  EXPECT_FALSE(chip_made_at_all) << "refused before the device was looked for";
}

TEST_F(CliTest, StatusShowsWhatTheInformationTabShows) {
  const struct {
    std::uint8_t rate, flags;
    const char* shown;
  } cases[] = {
      {0x05, 0x01, "USB connected\nPlaying\nInput Format: PCM\nInput Freq:    192KHz\n"},
      {0x09, 0x03, "USB connected\nPlaying\nInput Format: DSD\nInput Freq:   DSD 128\n"},
      {0x02, 0x03, "USB connected\nPlaying\nInput Format: DSD\nInput Freq:   DoP 256\n"},
      {0x05, 0x05, "USB connected\nMute\n"},
      {0x05, 0x00, "USB Disconnected\n"},
  };
  for (const auto& c : cases) {
    chip_made = [&](sim::VirtualChip& chip) { chip.Registers().SetStatus(c.rate, 0x77, c.flags); };
    const CliRun run = Run({"--virtual", "status"});
    EXPECT_EQ(run.code, 0);
    char registers[64];
    std::snprintf(registers, sizeof registers, "Status registers 0xA4-0xA6: %02X 77 %02X\n", c.rate,
                  c.flags);
    EXPECT_EQ(run.out, "Device 6012 is exist\n" + std::string(registers) + c.shown);
  }
  chip_made = nullptr;
  EXPECT_THAT(Run({"--virtual", "status"}).out, HasSubstr("Input Freq:     48KHz\n"))
      << "the virtual chip's audio side plays 48 kHz PCM, as the demo's does";
  chip_made = [](sim::VirtualChip& chip) { chip.FailRequest(0x91); };
  EXPECT_EQ(Run({"--virtual", "status"}).code, 1);
}

TEST_F(CliTest, VersionIsTheProjectsOne) {
  const CliRun run = Run({"--version"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, std::string("velmora-isp ") + kVersion + "\n");
}

}  // namespace
}  // namespace velmora::cli::testing
