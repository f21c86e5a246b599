// velmora-isp end to end over the virtual chip: what only the command line does. Its arguments
// and refusals, exit codes, the verdict line and the --log report, the files it writes, its
// progress and request lines, and the choice of device.
#include <algorithm>
#include <filesystem>

#include "cli_fixture.h"
#include "device_lock.h"
#include "program_image.h"
#include "velmora_version.h"
#include "virtual_flash_files.h"

namespace velmora::cli::testing {
namespace {

using ::testing::AllOf;
using ::testing::Not;

TEST_F(CliTest, UsageErrorsExitTwoAndHelpExitsZero) {
  const struct {
    std::vector<std::string> args;
    int code;
    std::string says;  // on stdout for help, on stderr for errors
  } cases[] = {
      {{}, 2, "subcommand"},
      {{"frobnicate"}, 2, "Unknown command \"frobnicate\" (commands: detect, auto, "},
      {{"reg", "rd", "00", "12"}, 2, "did you mean \"read\"?"},
      {{"auto", "x.hex", "--no-verfy"}, 2, "Unknown option --no-verfy; did you mean --no-verify?"},
      {{"--virtual", "i2c", "write", "55", "05", "80"}, 2, "give the write form 54"},
      {{"--virtual", "params", "set"}, 2, "at least one option"},
      {{"--virtual-flash", "f.bin", "detect"}, 2, "--virtual"},
      {{"--virtual", "--virtual-id", "C220", "detect"}, 2, "six hexadecimal digits"},
      {{"--virtual", "--virtual-id", "123456", "detect"}, 2, "no such part (C22010, "},
      {{"reg", "read", "100", "00"}, 2, "8 bits"},
      {{"detect", "--vid", "6ccfz"}, 2, "16 bits"},
      {{"auto", "x.hex", "--range", "32"}, 2, "START_KB:SIZE_KB"},
      {{"auto", "x.hex", "--range", "-4:8"}, 2, "START_KB:SIZE_KB"},
      {{"auto", "x.hex", "--range", "0:-4"}, 2, "START_KB:SIZE_KB"},
      {{"i2c", "read", "20", "00", "0"}, 2, "COUNT"},
      {{"patch-table", "a", "b", "--serial", std::string(33, 'x')}, 2, "32 printable"},
      {{"patch-table", "a", "b", "--product", "Caf\xC3\xA9"}, 2, "32 printable"},
      {{"--virtual", "params", "set", "--mclk", "333"}, 2, "333"},
      {{"--virtual", "params", "set-id"}, 2, "--vid"},
      {{"--virtual", "params", "set-string", "3", std::string(32, 'S')},
       2,
       "String is longer than 31 characters: nothing sent\n"},
      {{"auto", "x.hex", "--fast", "--changed-only"}, 2, "excludes"},
      {{"--help"}, 0, "read-back"},
      {{"auto", "--help"}, 0, "sectors is left as it is"},
      {{"read-back", "--help"}, 0, "Examples:\n  velmora-isp read-back flash.bin\n"},
      {{"--version"}, 0, std::string("velmora-isp ") + kVersion + "\n"},
  };
  for (const auto& c : cases) {
    bool looked_for_device = false;
    chip_made = [&](sim::VirtualChip&) { looked_for_device = true; };
    const CliRun run = Run(c.args);
    const std::string name = c.args.empty() ? "(none)" : c.args.back();
    EXPECT_EQ(run.code, c.code) << name << run.err;
    EXPECT_THAT(c.code == 0 ? run.out : run.err, HasSubstr(c.says)) << name;
    EXPECT_FALSE(looked_for_device) << name;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  }
}

TEST_F(CliTest, DetectFindsTheNamedDeviceAndLeavesOneInUseAlone) {
  sim::VirtualUsbPlatform two;
  sim::VirtualChip board(bus_clock), loader(bus_clock);
  board.PlugInto(two, "usb:vid_6ccf&pid_6012:bus1-port4.2");
  loader.PlugInto(two, "usb:vid_1d7a&pid_6000:bus1-port3", sim::Visibility::GenericOnly);
  two.SetSerialNumber("usb:vid_6ccf&pid_6012:bus1-port4.2", "VL000001");
  sim::VirtualUsbPlatform one;
  sim::VirtualChip only(bus_clock);
  only.PlugInto(one, sim::kAudioPath);
  const struct {
    UsbPlatform* on;
    std::vector<std::string> args;
    int code;
    std::string out, err;
  } cases[] = {
      {&empty_bus, {"detect"}, 3, "No device is available\n", ""},
      {&one, {"detect"}, 0, "Device 6012 is exist\n", ""},
      {&one, {"detect", "--pid", "6013"}, 3, "No device is available\n", ""},
      {&empty_bus, {"--virtual", "detect", "--vid", "6CCE"}, 3, "No device is available\n", ""},
      {&two,
       {"detect", "--list"},
       0,
       "1-4.2  6ccf:6012  audio device  serial VL000001\n"
       "1-3  1d7a:6000  firmware-update loader  serial (none)\n",
       ""},
      {&two, {"detect"}, 2, "", "name one with --device PATH:\n1-4.2  6ccf:6012"},
      {&two, {"--device", "1-3", "detect"}, 0, "Firmware update device 1D7A is exist\n", ""},
      {&two, {"--device", "1-4", "detect"}, 3, "", "No device at 1-4. Devices present:\n1-4.2"},
      {&two, {"--device", "1-4.2", "detect"}, 1, "", "The device 1-4.2 is in use by another "},
  };
  std::string error;
  const auto held = DeviceLock::Acquire("1-4.2", error);
  ASSERT_NE(held, nullptr) << error;
  for (const auto& c : cases) {
    bus = c.on;
    const CliRun run = Run(c.args);
    EXPECT_EQ(run.code, c.code) << c.args.back();
    EXPECT_EQ(run.out, c.out) << c.args.back();
    EXPECT_THAT(run.err, HasSubstr(c.err));
  }
}

TEST_F(CliTest, AutoProgramsTheKeptFlashAndReadBackReturnsIt) {
  const std::string flash = Path("f.bin"), log = Path("auto.json"),
                    hex = Sample("velmora-demo-fw.hex");
  const CliRun run = Run({"--virtual", "--virtual-flash", flash, "--log", log, "auto", hex});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_THAT(run.out,
              HasSubstr(hex + ": length 0x01200, Checksum : 0xF1AA\nDevice 6012 is exist\n"
                              "JEDEC id C2 20 13, status register 0x00\nEnter ISP Mode\n"));
  EXPECT_THAT(run.out, HasSubstr("\nVerifying Success\nVerdict: success: Verifying Success; flash "
                                 "protected, ISP mode left ("));
  const Bytes image = Read(Sample("velmora-demo-fw.bin")), kept = Read(flash);
  ASSERT_EQ(kept.size(), 512u * 1024);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), kept.begin()));

  const nlohmann::json report = ReadJson(log);
  EXPECT_EQ(report["schema"], 1);
  EXPECT_NE(report["host"], "");
  EXPECT_THAT(report["device"]["path"].get<std::string>(), HasSubstr("6ccf"));
  EXPECT_EQ(report["device"]["detection"], "Device 6012 is exist");
  EXPECT_EQ(report["range"]["size"], 512 * 1024);  // "All": the whole part
  EXPECT_THAT(report["started"].get<std::string>(),
              ::testing::MatchesRegex("20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:"
                                      "[0-6][0-9]\\.[0-9]{3}Z"));
  EXPECT_LE(report["started"], report["finished"]);
  EXPECT_EQ(report["exit_code"], 0);
  EXPECT_EQ(report["jedec_id"], "C2 20 13");
  EXPECT_EQ(report["file"]["length"], 4608);
  EXPECT_EQ(report["file"]["checksum"], "0xF1AA");
  EXPECT_EQ(report["status_before"], "0x00");
  EXPECT_EQ(report["status_after"], "0x9C");  // BP0-BP2 and SRWD: every bit the part lets set
  EXPECT_EQ(report["arguments"][6], hex);

  // The next runs find the flash where this one left it.
  ASSERT_EQ(Run({"--virtual", "--virtual-flash", flash, "read-back", Path("all.bin")}).code, 0);
  EXPECT_EQ(Read(Path("all.bin")), Bytes(kept.begin(), kept.begin() + 0x20000));
  const CliRun part = Run({"--virtual", "--virtual-flash", flash, "read-back", Path("part.bin"),
                           "--start", "4", "--size", "8"});
  EXPECT_THAT(part.out, HasSubstr("Verdict: success: Read Flash content Success"));
  EXPECT_EQ(Read(Path("part.bin")), Bytes(kept.begin() + 4096, kept.begin() + 12288));
}

// Each way a run ends: its exit code, the verdict in the report, the words on stdout and each
// step's outcome (o ok, - off, f failed, s skipped, x stopped; c the changed-only comparison).
TEST_F(CliTest, EachWayARunEndsHasItsExitCodeVerdictWordsAndSteps) {
  const std::string bin = Sample("velmora-demo-fw.bin");
  const std::string flipped = Write("x40.bin", Bytes(4096, 0x40));
  const struct {
    std::vector<std::string> args;
    std::function<void(sim::VirtualChip&)> arrange;
    int code;
    const char* verdict;
    std::string says, steps;
    const char* profile = "design";
  } cases[] = {
      {{"auto", bin, "--fast"}, nullptr, 0, "success", "Verifying Success", "oooo-oooo", "fast"},
      {{"auto", bin, "--changed-only"},
       nullptr,
       0,
       "success",
       "Programming Success",
       "oocoo-oooo",
       "changed-only"},
      {{"auto", bin, "--range", "64:0", "--no-erase"},
       [](sim::VirtualChip& chip) { chip.Flash().Fill(0x00); },
       1,
       "failed",
       "Blank check mismatches (first 8):\n  0x010000: expected 0xFF, read 0x00\n",
       "oo--fssoo"},
      {{"auto", flipped, "--no-blank"},
       [](sim::VirtualChip& chip) { chip.FlipReadBits(0x41, sim::VirtualChip::Flip::Always, 5); },
       1,
       "failed",
       "  0x0001C5: expected 0x40, read 0x01\n"
       "  bits 0x40 read 0 where 1 was expected: not erased, or protected\n"
       "  bits 0x01 read 1 where 0 was expected: not written\n"
       "Verdict: failed: Verifying Fail at 0x000005; flash protected, ISP mode left",
       "oooo-ofoo"},
      {{"auto", bin},
       [this](sim::VirtualChip& chip) {
         chip.SetTransferHook([this, &chip](std::uint32_t) {
           if (chip.Flash().PagePrograms() == 3) interrupted = true;
         });
       },
       1,
       "stopped",
       "Ctrl-C: stopping at the next chunk, page or poll",
       "oooooxsoo"},
      {{"auto", bin},
       [](sim::VirtualChip& chip) {
         chip.SetFlashStuckBusy(true);
         chip.SetTransferHook([&chip](std::uint32_t n) {
           if (n == 60) chip.SetFlashStuckBusy(false);
         });
       },
       0,
       "success",
       "Verifying Success",
       "ooooooooo"},
      {{"auto", bin},
       [](sim::VirtualChip& chip) { chip.SetFlashStuckBusy(true); },
       2,
       "refused",
       "Verdict: refused: Flash is busy",
       ""},
      {{"auto", "missing.bin"}, nullptr, 2, "refused", "Verdict: refused: Cannot open", ""},
  };
  const std::string log = Path("r.json");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    interrupted = false;
    chip_made = c.arrange;
    std::vector<std::string> args{"--virtual", "--log", log};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = Run(args);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_THAT(run.out, HasSubstr(c.says));
    const nlohmann::json report = ReadJson(log);
    EXPECT_EQ(report["verdict"], c.verdict);
    std::string steps;
    for (const auto& step : report.value("steps", nlohmann::json::array())) {
      const std::string outcome = step["outcome"];
      steps += step["step"] == "compare" ? 'c'
               : outcome == "off"        ? '-'
               : outcome == "stopped"    ? 'x'
                                         : outcome[0];
    }
    EXPECT_EQ(steps, c.steps);
    if (!steps.empty()) {
      EXPECT_EQ(report["profile"], c.profile);
    }
  }
  // Stopped before the run began: nothing is written at all.
  interrupted = true;
  chip_made = nullptr;
  chip_done = [](sim::VirtualChip& chip) { EXPECT_EQ(chip.Flash().PagePrograms(), 0u); };
  EXPECT_THAT(Run({"--virtual", "auto", bin}).out, HasSubstr("Verdict: stopped: Stopped by user"));
  // No device: the report says so as well.
  interrupted = false;
  EXPECT_EQ(Run({"--log", log, "detect"}).code, 3);
  EXPECT_EQ(ReadJson(log)["verdict"], "no device");
}

}  // namespace
}  // namespace velmora::cli::testing
