// velmora-isp end to end over the virtual chip: what only the command line does. Its arguments
// and refusals, exit codes, the choice of device, the verdict line and the --log report, the files
// it writes (whole or not at all), its request lines, and the pages' words for the
// one-shot commands, with the pause each write needs before its read-back.
#include "cli_fixture.h"
#include "device_lock.h"
#include "user_table.h"
#include "virtual_flash_files.h"

namespace velmora::cli::testing {
namespace {

TEST_F(CliTest, EachCommandLineHasItsExitCodeAndWords) {
  sim::VirtualUsbPlatform two, one;
  Chip board(bus_clock), loader(bus_clock), only(bus_clock);
  board.PlugInto(two, "usb:vid_6ccf&pid_6012:bus1-port4.2");
  loader.PlugInto(two, "usb:vid_1d7a&pid_6000:bus1-port3", sim::Visibility::GenericOnly);
  two.SetSerialNumber("usb:vid_6ccf&pid_6012:bus1-port4.2", "VL000001");
  only.PlugInto(one, sim::kAudioPath);
  const std::string list =
      "1-4.2  6ccf:6012  audio device  serial VL000001\n"
      "1-3  1d7a:6000  firmware-update loader  serial (none)\n";
  std::string error;
  const auto held = DeviceLock::Acquire("1-4.2", error);
  const struct {
    UsbPlatform* on;
    std::vector<std::string> args;
    int code;
    std::string says;  // on stdout or stderr
  } cases[] = {
      {&one, {"auto", "x.hex", "--no-verfy"}, 2, "Unknown option --no-verfy; did you mean --no-v"},
      {&one, {"i2c", "write", "55", "05", "80"}, 2, "give the write form 54"},
      {&one, {"--virtual", "--virtual-id", "123456", "detect"}, 2, "no such part (C22010, "},
      {&one, {"reg", "read", "100", "00"}, 2, "8 bits"},
      {&one, {"auto", "x.hex", "--range", "0:-4"}, 2, "START_KB:SIZE_KB"},
      {&one, {"patch-table", "a", "b", "--serial", std::string(33, 'x')}, 2, "32 printable"},
      {&one, {"params", "set-string", "3", std::string(32, 'S')}, 2, "longer than 31 characters"},
      {&one, {"auto", "x.hex", "--fast", "--changed-only"}, 2, "excludes"},
      {&empty_bus, {"detect"}, 3, "No device is available\n"},
      {&two, {"detect"}, 2, "name one with --device PATH:\n1-4.2  6ccf:6012"},
      {&two, {"detect"}, 2, "Verdict: refused: Several devices match"},
      {&two, {"detect", "--list"}, 0, list},
      {&two, {"--device", "1-3", "detect"}, 0, "Firmware update device 1D7A is exist\n"},
      {&two, {"--device", "1-4", "detect"}, 3, "No device at 1-4. Devices present:\n1-4.2"},
      {&two, {"--device", "1-4.2", "detect"}, 1, "The device 1-4.2 is in use by another "},
  };
  for (const auto& c : cases) {
    bus = c.on;
    const CliRun run = Run(c.args);
    EXPECT_EQ(run.code, c.code) << c.says << run.err;
    EXPECT_THAT(run.out + run.err, HasSubstr(c.says));
  }
}

TEST_F(CliTest, AutoProgramsTheKeptFlashAndReportsEveryField) {
  const std::string flash = Path("f.bin"), log = Path("a.json"),
                    hex = Sample("velmora-demo-fw.hex");
  const CliRun run =
      Run({"--virtual", "--virtual-flash", flash, "--log", log, "--verbose", "auto", hex});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_THAT(run.out,
              HasSubstr(hex + ": length 0x01200, Checksum : 0xF1AA\nDevice 6012 is exist\n"
                              "JEDEC id C2 20 13, status register 0x00\nEnter ISP Mode\n"));
  EXPECT_THAT(run.out, HasSubstr("\nVerifying Success\nVerdict: success: Verifying Success; flash "
                                 "protected, ISP mode left ("));
  const Bytes image = Read(Sample("velmora-demo-fw.bin")), kept = Read(flash);
  EXPECT_EQ(Bytes(kept.begin(), kept.begin() + image.size()), image);
  const nlohmann::json report = ReadJson(log);
  // Status after: BP0-BP2 and SRWD, every bit the part lets set; range: "All", the whole part.
  const auto expected = nlohmann::json::parse(R"({"schema": 1, "exit_code": 0, "status_before":
      "0x00", "status_after": "0x9C", "jedec_id": "C2 20 13", "range": {"size": 524288}, "file":
      {"length": 4608, "checksum": "0xF1AA"}, "device": {"detection": "Device 6012 is exist"}})");
  nlohmann::json merged = report;
  merged.merge_patch(expected);
  EXPECT_EQ(merged, report) << "every field the report should hold has its value";
  EXPECT_EQ(report["arguments"][7], hex);
  EXPECT_THAT(run.err, HasSubstr("usb: C3 82 0000 0000 len 3 -> ok C2 20 13\n"));
  EXPECT_THAT(report["started"].get<std::string>(), ::testing::MatchesRegex("20.{8}T.{12}Z"));
}

// Each way a run ends: its exit code, the verdict in the report, its words and each step's
// outcome (o ok, - off, f failed, s skipped, x stopped). A refusal
// (exit 2) comes before anything is written: before the device is looked for (steps ""), or with
// the device found and left untouched (steps "-").
TEST_F(CliTest, EachWayARunEndsHasItsExitCodeVerdictWordsAndSteps) {
  const Bytes big(100 * 1024, 0x07);
  const std::string fw = Write("big.bin", big), bin = Sample("velmora-demo-fw.bin");
  const std::string read_only = Write("read-only.json", std::string("{}"));
  std::filesystem::permissions(read_only, std::filesystem::perms::owner_read);
  const std::string no_dir = Path("no/r.json"), x40 = Write("x40.bin", Bytes(4096, 0x40));
  const std::string gone = Path("gone/r.json");
  std::filesystem::create_directory(Path("gone"));
  const auto unlog = [&](Chip&) { std::filesystem::remove(Path("gone")); };
  const std::string dump = Write("dump.bin", std::string("an earlier copy"));
  const std::string small = Write("small.bin", Bytes(10, 0xFF)), held = Path("held.bin");
  std::string error;
  const auto held_lock = FlashFileLock::Take(held, error);
  const auto unplug = [](Chip& chip) { chip.Flash().Fill(0x3C), chip.UnplugAfterTransfers(400); };
  const auto zeros = [](Chip& chip) { chip.Flash().Fill(0x00); };
  const auto flip = [](Chip& chip) { chip.FlipReadBits(0x41, Chip::Flip::Always, 5); };
  const auto ctrl_c = [this](Chip& chip) {
    chip.SetTransferHook([&](std::uint32_t) { interrupted = chip.Flash().PagePrograms() >= 3; });
  };
  const std::string verify_fail =
      "  0x0001C5: expected 0x40, read 0x01\n"
      "  bits 0x40 read 0 where 1 was expected: not erased, or protected\n"
      "  bits 0x01 read 1 where 0 was expected: not written\n"
      "Verdict: failed: Verifying Fail at 0x000005; flash protected, ISP mode left";
  const std::string blank_fail =
      "Blank check mismatches (first 8):\n  0x010000: expected 0xFF, read 0x00\n";
  const struct {
    std::vector<std::string> args;
    std::function<void(Chip&)> arrange;
    int code;
    std::string says, steps, profile = "design";
  } cases[] = {
      {{"auto", bin, "--fast"}, nullptr, 0, "Verifying Success", "oooo-oooo", "fast"},
      {{"auto", bin, "--changed-only"}, nullptr, 0, "Program", "ooooo-oooo", "changed-only"},
      {{"auto", bin, "--range", "64:0", "--no-erase"}, zeros, 1, blank_fail, "oo--fssoo"},
      {{"auto", x40, "--no-blank"}, flip, 1, verify_fail, "oooo-ofoo"},
      {{"auto", bin}, ctrl_c, 1, "Ctrl-C: stopping at the next chunk, page or poll", "oooooxsoo"},
      // An argument that is no UTF-8: the report is written all the same.
      {{"auto", "\xFF\xC0\xAF\xED\xA0\x80.bin"}, nullptr, 2, "Verdict: refused: Cannot open", ""},
      {{"auto", fw, "--log", fw}, nullptr, 2, "write the report (--log) \"" + fw + "\": it is", ""},
      {{"auto", bin, "--log", no_dir}, nullptr, 2, no_dir + "\": No such file or directory", ""},
      {{"auto", bin, "--log", read_only}, nullptr, 2, "the file is read-only", ""},
      {{"read-back", Path("d.bin"), "--log", Path("d.bin")}, nullptr, 2, "it is also the read", ""},
      {{"read-back", Path("no/d.bin")}, nullptr, 2, "Cannot write the read-back file \"", ""},
      // A failed read-back keeps OUT as it was and what was read beside it.
      {{"read-back", dump}, unplug, 1, "what was read is in " + dump + ".partial", ""},
      // The folder is gone when the report is written: an otherwise good run fails.
      {{"auto", bin, "--log", gone}, unlog, 1, "Verdict: failed: Cannot create \"" + gone, ""},
      {{"--virtual-id", "FFFFFF", "auto", bin}, nullptr, 2, "No flash answers: JEDEC id FF", "-"},
      {{"--virtual-flash", small, "auto", bin}, nullptr, 2, "holds 10 bytes, but the part", ""},
      {{"--virtual-flash", held, "auto", bin}, nullptr, 2, "in use by another run (lock", ""},
      {{"read-back", "x.bin", "--start", "480", "--size", "64"}, nullptr, 2, "512 KiB", "-"},
  };
  const std::string log = Path("r.json");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    interrupted = false;
    chip_made = c.arrange;
    bool seen = false;
    chip_done = [&](Chip& chip) {
      seen = true;
      const sim::SpiFlashModel& flash = chip.Flash();
      if (c.code != 2) return;
      EXPECT_EQ(flash.StatusWrites() + flash.PagePrograms() + flash.SectorErases(), 0u);
      EXPECT_FALSE(chip.InIspMode());
    };
    const bool own_log = std::find(c.args.begin(), c.args.end(), "--log") != c.args.end();
    std::vector<std::string> args{"--virtual", "--log", log};
    args.erase(args.begin() + 1, args.begin() + (own_log ? 3 : 1));
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::filesystem::remove(log);
    const CliRun run = Run(args);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_THAT(run.out + run.err, HasSubstr(c.says));
    if (c.code == 2) {
      EXPECT_THAT(run.out, HasSubstr("Verdict: refused: "));
      EXPECT_EQ(seen, c.steps == "-");
    }
    if (own_log || c.args[0] == "read-back") continue;
    const nlohmann::json report = ReadJson(log);
    EXPECT_EQ(report["verdict"], c.code == 0                              ? "success"
                                 : c.code == 2                            ? "refused"
                                 : c.steps.find('x') != std::string::npos ? "stopped"
                                                                          : "failed");
    if (c.code == 2) continue;
    std::string steps;
    for (const auto& step : report["steps"]) {
      const std::string outcome = step["outcome"];
      steps += outcome == "off" ? '-' : outcome == "stopped" ? 'x' : outcome[0];
    }
    EXPECT_EQ(steps, c.steps);
    EXPECT_EQ(report["profile"], c.profile);
  }
  EXPECT_EQ(Read(fw), big) << "neither the report nor the flash went over the firmware";
  EXPECT_EQ(ReadText(dump), "an earlier copy");
  Bytes partial(0x20000, 0x5A);  // the 65 chunks read before the unplug, then the fill
  std::fill_n(partial.begin(), 64 * 65, 0x3C);
  EXPECT_EQ(Read(dump + ".partial"), partial);
  // No device: the report says so as well.
  EXPECT_EQ(Run({"--log", log, "detect"}).code, 3);
  EXPECT_EQ(ReadJson(log)["verdict"], "no device");
}

// The one-shot commands' words. The pause a write needs before its read-back, on the virtual chip's
// clock: the chip 3 ms to latch a register, the slave 30 ms to store a value. A register or I2C
// read makes no pause of its own.
TEST_F(CliTest, OneShotCommandsSpeakThePagesWordsAndPauseBeforeAWritesReadBack) {
  const std::string found = "Device 6012 is exist\n";
  const std::string params =  // block 7E E0 5A 80 in the tab's words
      "Parameter block: 7E E0 5A 80\nI2S Output length: 24 bit\nSPDIF Output length: 32 bit\n"
      "I2S Output Channel Swap: yes\nDSD Output Channel Swap: yes\n"
      "I2S MCLK Output Frequency: 1024 Fs\nI2S Format: Left Justify\nOutput when  DSD in: DoP\n"
      "MCLK Output Off: yes\nI2S Output Off: yes\nSPDIF Output Off: yes\nEEPROM Exist\n";
  const struct {
    std::vector<std::string> args;
    int code;
    std::string out, err;
    unsigned pause_ms;
  } cases[] = {
      {{"reg", "write", "0e", "0x11", "A4"}, 0, found + "Reg 0x11 = 0xA4\n", "", 3},
      {{"reg", "read", "3", "40", "-q"}, 0, "Reg 0x40 = 0x5A\n", "", 0},
      {{"reg", "read", "00", "A6"}, 1, found, "Reading register 0xA6 of bank 0x00 failed\n", 0},
      {{"i2c", "write", "20", "10", "AB"}, 0, found + "Reg 0x10 = 0xAB\n", "", 30},
      {{"i2c", "read", "20", "20", "2"}, 0, found + "Reg 0x20 = 0x00\nReg 0x21 = 0x00\n", "", 0},
      {{"i2c", "read", "30", "00"}, 1, found, "The I2C slave at 0x30 did not answer\n", 0},
      {{"params", "show"}, 0, found + params, "", 20},  // waits for the mailbox's answer
  };
  for (const auto& c : cases) {
    chip_made = [&](Chip& chip) {
      chip.Registers().Poke(0x03, 0x40, 0x5A);
      chip.Registers().mailbox_items().options = {0x7E, 0xE0, 0x5A, 0x80};
      chip.FailRequest(0x91, c.code != 0 && c.args[0] == "reg");
    };
    chip_done = [&](Chip& chip) {
      EXPECT_EQ(chip.NowUs(), c.pause_ms * 1000u);
      EXPECT_EQ(chip.Registers().Peek(0x0E, 0x11) == 0xA4, c.pause_ms == 3);
      EXPECT_EQ(chip.Registers().default_slave().reg(0x10) == 0xAB, c.pause_ms == 30);
    };
    std::vector<std::string> args{"--virtual"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = Run(args);
    EXPECT_EQ(run.code, c.code) << c.out;
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
  }
}

}  // namespace
// Each option lands in its own field of the table: ids high byte first, strings space-padded.
TEST_F(CliTest, PatchTablePutsEachOptionInItsField) {
  const std::string out = Path("p.bin");
  ASSERT_EQ(Run({"patch-table", Sample("velmora-demo-fw-table.bin"), out, "--vid", "1234", "--pid",
                 "ABCD", "--manufacturer", "M0", "--product", "P1", "--serial", "S2", "--play-port",
                 "L3", "--record-port", "R4"})
                .code,
            0);
  const Bytes image = Read(out);
  const UserTableSearch table = FindUserTable(image);
  ASSERT_TRUE(table.Found());
  const auto field = [&](std::size_t at, std::size_t n) {
    return std::string(image.begin() + table.offset + at, image.begin() + table.offset + at + n);
  };
  EXPECT_EQ(field(kUserTableVidOffset, 4), "\x12\x34\xAB\xCD");
  for (std::size_t k = 0; k < kUserStringCount; ++k) {
    EXPECT_EQ(field(kUserTableStringsOffset + k * kUserStringSize, 3),
              "MPSLR"[k] + std::to_string(k) + " ");
  }
}

}  // namespace velmora::cli::testing
