// velmora-isp end to end over the virtual chip: exit codes, detection, the Auto run with its
// flash kept in a file, the refusals that leave the device untouched, the verify explanation,
// Ctrl-C, progress, --verbose, --log and the words for a device that cannot be opened.
#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>

#include "cli_fixture.h"
#include "program_image.h"
#include "run_report.h"
#include "virtual_flash_files.h"

namespace velmora::cli::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

constexpr std::uint32_t kPartSize = 512 * 1024;  // the default virtual part, C2 20 13

Bytes Filled(std::size_t size, std::uint8_t value) {
  return Bytes(size, value);
}

// Lines of the output that are not indented totals or explanations.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("  ")) lines.push_back(line);
  }
  return lines;
}

// Whether the run wrote nothing to the part and left ISP mode.
struct Untouched {
  bool seen = false;
  bool untouched = false;
  void operator()(sim::VirtualChip& chip) {
    seen = true;
    sim::SpiFlashModel& flash = chip.Flash();
    untouched = flash.StatusWrites() == 0 && flash.PagePrograms() == 0 &&
                flash.SectorErases() == 0 && flash.ChipErases() == 0 && !chip.InIspMode();
  }
};

TEST_F(CliTest, UsageErrorsExitTwoAndHelpExitsZero) {
  const struct {
    std::vector<std::string> args;
    int code;
    const char* says;  // on stdout for help, on stderr for errors
  } cases[] = {
      {{}, 2, "subcommand"},
      {{"frobnicate"}, 2, "Unknown command \"frobnicate\" (commands: detect, auto, "},
      {{"reg", "rd", "00", "12"}, 2, "did you mean \"read\"?"},
      {{"auto", "x.hex", "--no-verfy"}, 2, "Unknown option --no-verfy; did you mean --no-verify?"},
      {{"--log", "--virtual", "detect", "--verbos"}, 2, "did you mean --verbose?"},
      {{"--virtual", "i2c", "write", "55", "05", "80"}, 2, "give the write form 54"},
      {{"--virtual", "params", "set"}, 2, "at least one option"},
      {{"--virtual", "read-back", "x.bin", "--start", "480", "--size", "64"}, 2, "holds 512 KiB"},
      {{"auto"}, 2, "FILE"},
      {{"--virtual-flash", "f.bin", "detect"}, 2, "--virtual"},
      {{"--virtual", "--virtual-id", "C220", "detect"}, 2, "six hexadecimal digits"},
      {{"--virtual", "--virtual-id", "123456", "detect"}, 2, "no such part (C22010, "},
      {{"--virtual-latency-us", "250", "detect"}, 2, "--virtual"},
      {{"--virtual", "--virtual-latency-us", "-1", "detect"}, 2, "--virtual-latency-us"},
      {{"reg", "read", "100", "00"}, 2, "8 bits"},
      {{"detect", "--vid", "6ccfz"}, 2, "16 bits"},
      {{"auto", "x.hex", "--range", "32"}, 2, "START_KB:SIZE_KB"},
      {{"auto", "x.hex", "--range", "-4:8"}, 2, "START_KB:SIZE_KB"},
      {{"i2c", "read", "20", "00", "0"}, 2, "COUNT"},
      {{"patch-table", "a", "b", "--serial", std::string(33, 'x')}, 2, "32 printable"},
      {{"patch-table", "a", "b", "--product", "Caf\xC3\xA9"}, 2, "32 printable"},
      {{"--help"}, 0, "read-back"},
      {{"auto", "--help"}, 0, "--no-erase"},
      {{"auto", "--help"}, 0, "sectors is left as it is"},
      {{"auto", "x.hex", "--fast", "--changed-only"}, 2, "excludes"},
      {{"i2c", "read", "--help"}, 0, "ADDR"},
      {{"read-back", "--help"}, 0, "Examples:\n  velmora-isp read-back flash.bin\n"},
  };
  for (const auto& c : cases) {
    const CliRun run = Run(c.args);
    const std::string joined = c.args.empty() ? "(none)" : c.args.front();
    EXPECT_EQ(run.code, c.code) << joined << run.err;
    EXPECT_THAT(c.code == 0 ? run.out : run.err, HasSubstr(c.says)) << joined;
    for (const std::string& line : Lines(run.out)) EXPECT_LE(line.size(), 80u) << line;
  }
}

TEST_F(CliTest, DetectLooksOnceForTheUserIdsAndBothLoaders) {
  const struct {
    const char* path;  // where a chip is plugged into the bus, or nullptr
    sim::Visibility visibility;
    std::vector<std::string> options;
    int code;
    const char* label;
  } cases[] = {
      {nullptr, sim::Visibility::Both, {}, 3, "No device is available"},
      {sim::kAudioPath, sim::Visibility::Both, {}, 0, "Device 6012 is exist"},
      {sim::kAudioPath, sim::Visibility::Both, {"--pid", "6013"}, 3, "No device is available"},
      {sim::kLoaderPath1d7a,
       sim::Visibility::GenericOnly,
       {},
       0,
       "Firmware update device 1D7A is exist"},
  };
  for (const auto& c : cases) {
    sim::VirtualUsbPlatform platform;
    sim::VirtualChip chip(bus_clock);
    if (c.path != nullptr) chip.PlugInto(platform, c.path, c.visibility);
    real_bus = &platform;
    std::vector<std::string> args{"detect"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CliRun run = Run(args);
    EXPECT_EQ(run.code, c.code) << c.label;
    EXPECT_EQ(run.out, std::string(c.label) + "\n");
  }
  real_bus = &bus;
  EXPECT_EQ(Run({"--virtual", "detect"}).out, "Device 6012 is exist\n");
  EXPECT_EQ(Run({"detect", "--virtual", "--vid", "6CCE"}).code, 3);
}

TEST_F(CliTest, AutoProgramsTheKeptFlashAndReadBackReturnsIt) {
  const std::string flash = Path("f.bin");
  const std::string log = Path("auto.json");
  const CliRun run = Run(
      {"--virtual", "--virtual-flash", flash, "--log", log, "auto", Sample("velmora-demo-fw.hex")});
  ASSERT_EQ(run.code, 0) << run.err;
  const std::vector<std::string> expected_lines = {
      Sample("velmora-demo-fw.hex") + ": length 0x01200, Checksum : 0xF1AA",
      "Device 6012 is exist",
      "JEDEC id C2 20 13, status register 0x00",
      "Enter ISP Mode",
      "Clear Status register",
      "Flash Erase All",
      "Start Blanking Check",
      "Blanking Success",
      "Start Programming",
      "Programming Success",
      "Start Verifying Check",
      "Verifying Success"};
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), expected_lines.size() + 1) << run.out;
  EXPECT_THAT(lines.back(),
              HasSubstr("Verdict: success: Verifying Success; flash protected, ISP mode left"));
  lines.pop_back();
  EXPECT_EQ(lines, expected_lines);

  // At the device: the image from address 0, everything after it erased.
  const Bytes image = Read(Sample("velmora-demo-fw.bin"));
  const Bytes kept = Read(flash);
  ASSERT_EQ(kept.size(), kPartSize);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), kept.begin()));
  EXPECT_TRUE(
      std::all_of(kept.begin() + image.size(), kept.end(), [](auto b) { return b == 0xFF; }));

  const nlohmann::json report = ReadJson(log);
  EXPECT_EQ(report["schema"], 1);
  EXPECT_NE(report["host"], "");
  EXPECT_THAT(report["device"]["path"].get<std::string>(), HasSubstr("6ccf"));
  EXPECT_EQ(report["range"]["size"], kPartSize);  // "All": the whole part
  const std::string started = report["started"], finished = report["finished"];
  EXPECT_THAT(started, MatchesRegex("20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-9]{2}:[0-9]{2}:[0-9]{2}"
                                    "\\.[0-9]{3}Z"));
  EXPECT_LE(started, finished);
  using namespace std::chrono;
  EXPECT_EQ(UtcTimestamp(sys_days{2024y / February / 29} + 23h + 59min + 58s + 7ms),
            "2024-02-29T23:59:58.007Z");
  EXPECT_EQ(report["verdict"], "success");
  EXPECT_EQ(report["exit_code"], 0);
  EXPECT_EQ(report["jedec_id"], "C2 20 13");
  EXPECT_EQ(report["device"]["detection"], "Device 6012 is exist");
  EXPECT_EQ(report["file"]["length"], 4608);
  EXPECT_EQ(report["file"]["checksum"], "0xF1AA");
  EXPECT_EQ(report["status_before"], "0x00");
  EXPECT_EQ(report["status_after"], "0x9C");  // BP0-BP2 and SRWD: every bit the part lets set
  ASSERT_EQ(report["steps"].size(), 9u);
  for (const auto& step : report["steps"]) EXPECT_EQ(step["outcome"], "ok") << step["step"];

  // The next run finds the flash where this one left it.
  const CliRun back = Run({"--virtual", "--virtual-flash", flash, "read-back", Path("back.bin")});
  EXPECT_EQ(back.code, 0) << back.err;
  EXPECT_THAT(back.out, HasSubstr("Verdict: success: Read Flash content Success"));
  EXPECT_EQ(Read(Path("back.bin")), Bytes(kept.begin(), kept.begin() + 0x20000));
  const CliRun part = Run({"--virtual", "--virtual-flash", flash, "--log", log, "read-back",
                           Path("part.bin"), "--start", "4", "--size", "8"});
  EXPECT_EQ(part.code, 0) << part.err;
  EXPECT_EQ(Read(Path("part.bin")), Bytes(kept.begin() + 4096, kept.begin() + 12288));
}

// -q leaves only the verdict or the values read on stdout; stdout that cannot take the output
// fails the run.
TEST_F(CliTest, QuietKeepsTheResultAndUnwritableOutputFails) {
  const struct {
    std::vector<std::string> args;
    bool out_broken;
    int code;
    const char* out;  // all of stdout, up to the verdict's words
  } cases[] = {
      {{"--virtual", "-q", "auto", Sample("velmora-demo-fw.hex")}, false, 0, "Verdict: success"},
      {{"--virtual", "reg", "read", "00", "12", "--quiet"}, false, 0, "Reg 0x12 = 0x00\n"},
      {{"image", "info", Sample("velmora-demo-fw.hex")}, true, 1, ""},
  };
  for (const auto& c : cases) {
    out_broken = c.out_broken;
    const CliRun run = Run(c.args);
    EXPECT_EQ(run.code, c.code) << c.args[2] << run.err;
    EXPECT_EQ(run.out.substr(0, std::string(c.out).size()), c.out) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), c.code == 0 ? 1 : 0) << run.out;
  }
}

TEST_F(CliTest, EachProfileProgramsTheImageAndTheReportNamesIt) {
  const struct {
    std::string profile;
    std::string blank_check;   // its outcome in the report
    std::uint8_t after_image;  // the flash past the image's sectors, 0x00 before the run
  } cases[] = {{"design", "ok", 0xFF}, {"fast", "off", 0xFF}, {"changed-only", "off", 0x00}};
  const std::string demo = Sample("velmora-demo-fw.bin"), log = Path("p.json");
  const Bytes bin = Read(demo);
  for (const auto& c : cases) {
    const std::string flash = Write("f.bin", Filled(kPartSize, 0x00));
    std::vector<std::string> args{"--virtual", "--virtual-flash", flash, "--log", log, "auto",
                                  demo};
    if (c.profile != "design") args.push_back("--" + c.profile);
    ASSERT_EQ(Run(args).code, 0) << c.profile;
    const Bytes kept = Read(flash);
    EXPECT_TRUE(std::equal(bin.begin(), bin.end(), kept.begin())) << c.profile;
    EXPECT_EQ(kept[0x2000], c.after_image) << c.profile;
    const nlohmann::json report = ReadJson(log);
    EXPECT_EQ(report["profile"], c.profile);
    const int blank_at = c.profile == "changed-only" ? 5 : 4;  // after the comparison
    EXPECT_EQ(report["steps"][blank_at]["outcome"], c.blank_check) << c.profile;
  }
}

TEST_F(CliTest, AssignedRangeErasesOnlyItsSectorsAndAnUnerasedBlankCheckIsExplained) {
  const std::string flash = Write("f.bin", Filled(kPartSize, 0x00));
  const std::string image = Sample("velmora-demo-fw.bin");
  const CliRun placed =
      Run({"--virtual", "--virtual-flash", flash, "auto", image, "--range", "32:8"});
  ASSERT_EQ(placed.code, 0) << placed.err;
  EXPECT_THAT(placed.out, HasSubstr("Flash Sector Erase\n"));
  const Bytes kept = Read(flash);
  const Bytes bin = Read(image);
  EXPECT_TRUE(std::equal(bin.begin(), bin.end(), kept.begin() + 0x8000));
  EXPECT_TRUE(std::all_of(kept.begin() + 0x8000 + bin.size(), kept.begin() + 0xA000,
                          [](auto b) { return b == 0xFF; }));
  EXPECT_EQ(kept[0x7FFF], 0x00);
  EXPECT_EQ(kept[0xA000], 0x00);

  const std::string log = Path("blank.json");
  const CliRun blank = Run({"--virtual", "--virtual-flash", flash, "--log", log, "auto", image,
                            "--range", "64:0", "--no-erase"});
  EXPECT_EQ(blank.code, 1);
  EXPECT_THAT(
      blank.out,
      AllOf(HasSubstr("Blank check mismatches (first 8):\n"
                      "  0x010000: expected 0xFF, read 0x00\n"),
            HasSubstr("  0x010007: expected 0xFF, read 0x00\n"
                      "  bits 0xFF read 0 where 1 was expected: not erased, or protected\n"),
            Not(HasSubstr("0x010008")),
            HasSubstr("Verdict: failed: Blanking Fail at 0x010000; flash protected, ISP "
                      "mode left")));
  const nlohmann::json report = ReadJson(log);
  EXPECT_EQ(report["verdict"], "failed");
  EXPECT_EQ(report["message"], "Blanking Fail at 0x010000");
  EXPECT_EQ(report["mismatches"].size(), 8u);
  const std::vector<std::string> outcomes = {"ok",      "ok",      "off", "off", "failed",
                                             "skipped", "skipped", "ok",  "ok"};
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    EXPECT_EQ(report["steps"][i]["outcome"], outcomes[i]) << report["steps"][i]["step"];
  }
  EXPECT_EQ(Read(flash), kept) << "nothing was programmed";
}

// A read-back that fails or is stopped never replaces OUT: what was read goes to OUT.partial
// (the chunks read before the failure, then the 0x5A fill), and nothing is written when nothing
// was read. No flash on the bus, or none reachable outside ISP mode, is a failure.
TEST_F(CliTest, AFailedReadBackLeavesOutAsItWasAndKeepsWhatWasReadBesideIt) {
  const struct {
    const char* name;
    std::vector<std::string> extra;
    std::function<void(sim::VirtualChip&)> arrange;
    const char* verdict;
    bool partial;
  } cases[] = {
      {"unplugged midway",
       {},
       [](sim::VirtualChip& chip) { chip.UnplugAfterTransfers(400); },
       "Verdict: failed: Verifying Fail at 0x",
       true},
      {"stopped midway",
       {},
       [this](sim::VirtualChip& chip) {
         chip.SetTransferHook([this](std::uint32_t n) { interrupted = interrupted || n == 400; });
       },
       "Verdict: stopped: Stopped by user",
       true},
      {"outside ISP mode",
       {"--no-isp-mode"},
       nullptr,
       "Verdict: failed: No flash answers: JEDEC id 00 00 00",
       false},
      {"no flash",
       {"--virtual-id", "FFFFFF"},
       nullptr,
       "Verdict: failed: No flash answers: JEDEC id FF FF FF",
       false},
      {"part stays busy",
       {},
       [](sim::VirtualChip& chip) { chip.SetFlashStuckBusy(true); },
       "Verdict: failed: Flash is busy",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    interrupted = false;
    chip_made = [&c](sim::VirtualChip& chip) {
      chip.Flash().Fill(0x3C);
      if (c.arrange) c.arrange(chip);
    };
    const std::string out = Write(std::string(c.name) + ".bin", "an earlier good copy");
    std::vector<std::string> args{"--virtual", "read-back", out};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const CliRun run = Run(args);
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.out, HasSubstr(c.verdict));
    EXPECT_EQ(Read(out), Bytes(std::string_view("an earlier good copy").begin(),
                               std::string_view("an earlier good copy").end()));
    EXPECT_EQ(std::filesystem::exists(out + ".partial"), c.partial);
    if (!c.partial) continue;
    EXPECT_THAT(run.out, HasSubstr("what was read is in " + out + ".partial"));
    const Bytes file = Read(out + ".partial");
    ASSERT_EQ(file.size(), 0x20000u);
    const auto first_fill = std::find(file.begin(), file.end(), 0x5A);
    EXPECT_GT(first_fill - file.begin(), 0x400) << "about 65 chunks were read";
    EXPECT_TRUE(std::all_of(file.begin(), first_fill, [](auto b) { return b == 0x3C; }));
    EXPECT_TRUE(std::all_of(first_fill, file.end(), [](auto b) { return b == 0x5A; }));
  }
}

TEST_F(CliTest, RefusalsExitTwoBeforeAnythingIsWritten) {
  Bytes big(100 * 1024);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  const std::string big_file = Write("big.bin", big);
  const std::string demo = Sample("velmora-demo-fw.hex");
  Bytes past_image(kProgramImageSize + 1, 0xFF);
  past_image.back() = 0x00;  // firmware past 256 KiB, which a cut would lose
  const std::string read_only = Write("read-only.json", "{}");
  std::filesystem::permissions(read_only, std::filesystem::perms::owner_read);
  const struct {
    std::vector<std::string> args;
    std::string says;
    bool looked_for_device;
  } cases[] = {
      {{"auto", big_file, "--range", "32:4"},
       "Image longer than the range: 102400 bytes, range 4 KB",
       false},
      {{"auto", Write("long.bin", past_image)}, "holds 262145 bytes", false},
      {{"--log", big_file, "auto", big_file},
       "Cannot write the report (--log) \"" + big_file + "\": it is the program file",
       false},
      {{"--virtual-flash", big_file, "auto", big_file}, "it is the program file", false},
      {{"--log", Path("nodir/r.json"), "auto", demo},
       "\"" + Path("nodir/r.json") + "\": No such file or directory",
       false},
      {{"--log", read_only, "auto", demo}, "the file is read-only", false},
      {{"--log", Path("dump.bin"), "read-back", Path("dump.bin")},
       "it is also the read-back file",
       false},
      {{"patch-table", big_file, big_file},
       "Cannot write OUT \"" + big_file + "\": it is the image IN",
       false},
      {{"read-back", Path("nodir/dump.bin")},
       "Cannot write the read-back file \"" + Path("nodir/dump.bin") +
           "\": No such file or directory",
       false},
      {{"auto", Write("bad.hex", ":10000000ZZ\r\n:00000001FF\r\n")}, "bad.hex", false},
      {{"auto", Write("cut.hex", ":0400000001020304F2\r\n")}, "cut.hex", false},
      {{"auto", Write("empty.bin", "")}, "Program File is empty !!", false},
      {{"auto", Write("fw.txt", "data")}, "fw.txt", false},
      {{"auto", Path("missing.bin")},
       "Cannot open the program file \"" + Path("missing.bin") + "\": No such file or directory.",
       false},
      {{"auto", demo, "--range", "1:4"}, "multiples of 4 KB", false},
      {{"auto", demo, "--changed-only", "--no-verify"}, "erase, program and verify", false},
      {{"auto", demo, "--range", "16384:0"}, "Range beyond flash address 0xFFFFFF", false},
      {{"--virtual-id", "C22010", "auto", big_file},
       "Range beyond flash address 0x00FFFF (C2 20 10 holds 64 KiB)",
       true},
      {{"auto", demo, "--range", "480:64"},
       "Range beyond flash address 0x07FFFF (C2 20 13 holds 512 KiB)",
       true},
      {{"--virtual-id", "FFFFFF", "auto", demo}, "No flash answers: JEDEC id FF FF FF", true},
      {{"--virtual-id", "000000", "auto", demo}, "No flash answers: JEDEC id 00 00 00", true},
  };
  for (const auto& c : cases) {
    Untouched check;
    chip_done = std::ref(check);
    std::vector<std::string> args{"--virtual"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = Run(args);
    EXPECT_EQ(run.code, 2) << c.says << run.err;
    EXPECT_THAT(run.err, HasSubstr(c.says));
    EXPECT_THAT(run.out, HasSubstr("Verdict: refused: "));
    EXPECT_EQ(run.out.find("is exist") != std::string::npos, c.looked_for_device) << c.says;
    EXPECT_EQ(check.seen, c.looked_for_device) << c.says;
    if (check.seen) {
      EXPECT_TRUE(check.untouched) << c.says;
    }
  }

  chip_done = nullptr;  // it names the loop's check, gone now
  // A damaged file against a kept flash: the file stays byte for byte.
  const Bytes pattern = Filled(kPartSize, 0xA5);
  const std::string flash = Write("kept.bin", pattern);
  EXPECT_EQ(Run({"--virtual", "--virtual-flash", flash, "auto", Path("bad.hex")}).code, 2);
  EXPECT_EQ(Read(flash), pattern);
  // A kept flash of another size than the part's is not used.
  const CliRun wrong =
      Run({"--virtual", "--virtual-flash", Write("small.bin", Filled(4096, 0)), "auto", demo});
  EXPECT_EQ(wrong.code, 2);
  EXPECT_THAT(wrong.err, HasSubstr("holds 4096 bytes, but the part C2 20 13 holds 524288"));
  EXPECT_EQ(Read(big_file), big) << "neither the report nor the flash went over the firmware";
  // A kept flash another run is working on.
  std::string error;
  const auto held = FlashFileLock::Take(flash, error);
  ASSERT_TRUE(held) << error;
  const CliRun locked = Run({"--virtual", "--virtual-flash", flash, "auto", demo});
  EXPECT_EQ(locked.code, 2);
  EXPECT_THAT(locked.err, HasSubstr("is in use by another run (lock \"" + flash + ".lock\")"));
  EXPECT_EQ(Read(flash), pattern);
}

TEST_F(CliTest, VerifyFailureListsTheFirstEightWrongBytesAndWhichWayTheirBitsAreWrong) {
  // Byte 5 of every 64-byte chunk is 0x40; the chip flips bits 0x41 of byte 5 in every answer.
  Bytes image(4096, 0x12);
  for (std::size_t a = 5; a < image.size(); a += 64) image[a] = 0x40;
  const std::string file = Write("fw.bin", image);
  Bytes flashed;
  chip_made = [](sim::VirtualChip& chip) {
    chip.FlipReadBits(0x41, sim::VirtualChip::Flip::Always, 5);
  };
  chip_done = [&](sim::VirtualChip& chip) { flashed = chip.Flash().ReadRange(0, 4096); };
  const std::string log = Path("verify.json");
  const CliRun run = Run({"--virtual", "--log", log, "auto", file, "--no-blank"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(flashed, image) << "the flash holds the image: the fault is on the way back";
  std::string expected = "Verify mismatches (first 8):\n";
  for (std::uint32_t a = 5; a < 8 * 64; a += 64) {
    char line[64];
    std::snprintf(line, sizeof line, "  0x%06X: expected 0x40, read 0x01\n", a);
    expected += line;
  }
  expected +=
      "  bits 0x40 read 0 where 1 was expected: not erased, or protected\n"
      "  bits 0x01 read 1 where 0 was expected: not written\n";
  EXPECT_THAT(run.out, HasSubstr(expected));
  EXPECT_THAT(run.out, HasSubstr("Verdict: failed: Verifying Fail at 0x000005"));
  const nlohmann::json report = ReadJson(log);
  ASSERT_EQ(report["mismatches"].size(), 8u);
  EXPECT_EQ(report["mismatches"][7]["address"], "0x0001C5");
  EXPECT_EQ(report["mismatches"][7]["actual"], "0x01");
}

TEST_F(CliTest, CtrlCStopsAtTheNextBoundaryAndStillProtectsAndLeavesIsp) {
  sim::VirtualChip* chip_seen = nullptr;
  chip_made = [&](sim::VirtualChip& chip) {
    chip_seen = &chip;
    chip.SetTransferHook([&](std::uint32_t) {
      if (chip_seen->Flash().PagePrograms() == 3) interrupted = true;  // Ctrl-C mid-programming
    });
  };
  std::uint32_t pages = 0;
  bool protected_at_end = false, in_isp_at_end = true;
  chip_done = [&](sim::VirtualChip& chip) {
    pages = chip.Flash().PagePrograms();
    protected_at_end = (chip.Flash().Status() & 0x9C) == 0x9C;
    in_isp_at_end = chip.InIspMode();
  };
  const std::string log = Path("stop.json");
  const CliRun run = Run({"--virtual", "--log", log, "auto", Sample("velmora-demo-fw.bin")});
  EXPECT_EQ(run.code, 1);
  EXPECT_THAT(run.out, HasSubstr("Ctrl-C: stopping at the next chunk, page or poll"));
  EXPECT_THAT(run.out,
              HasSubstr("Verdict: stopped: Stopped by user; flash protected, ISP mode left"));
  EXPECT_EQ(pages, 3u) << "of 18";
  EXPECT_TRUE(protected_at_end);
  EXPECT_FALSE(in_isp_at_end);
  const nlohmann::json report = ReadJson(log);
  EXPECT_EQ(report["verdict"], "stopped");
  EXPECT_EQ(report["steps"][5]["outcome"], "stopped");  // program
  EXPECT_EQ(report["steps"][6]["outcome"], "skipped");  // verify
  EXPECT_EQ(report["steps"][7]["outcome"], "ok");       // protect

  // Ctrl-C before the run: nothing is written at all.
  interrupted = true;
  Untouched check;
  chip_made = nullptr;
  chip_done = std::ref(check);
  const CliRun early = Run({"--virtual", "auto", Sample("velmora-demo-fw.bin")});
  EXPECT_EQ(early.code, 1);
  EXPECT_THAT(early.out, HasSubstr("Verdict: stopped: Stopped by user"));
  EXPECT_TRUE(check.untouched);
}

TEST_F(CliTest, ATerminalGetsUpdatingBarsAndAnythingElsePlainLines) {
  for (const bool on_terminal : {true, false}) {
    terminal = on_terminal;
    const CliRun run = Run({"--virtual", "auto", Sample("velmora-demo-fw.bin")});
    ASSERT_EQ(run.code, 0) << run.err;
    if (on_terminal) {
      EXPECT_THAT(run.out, HasSubstr("\rStart Verifying Check    [########################] "
                                     "4608/4608 bytes"));
    } else {
      EXPECT_EQ(run.out.find('\r'), std::string::npos);
      EXPECT_THAT(run.out, HasSubstr("Start Verifying Check\n  4608 bytes in "));
    }
  }
}

TEST_F(CliTest, VerboseShowsEveryRequestWithItsAnswer) {
  const CliRun run = Run({"--virtual", "--verbose", "reg", "read", "0D", "07"});
  EXPECT_EQ(run.code, 0);
  EXPECT_THAT(run.err, AllOf(HasSubstr("usb: open usb:vid_6ccf&pid_6012:bus1-port1 -> ok\n"),
                             HasSubstr("usb: 43 90 0000 0000 len 1 [ 0D ] -> ok\n"),
                             HasSubstr("usb: C3 91 0000 0007 len 1 -> ok 00\n")));
  const CliRun isp = Run({"--virtual", "--verbose", "auto", Sample("velmora-demo-fw.bin")});
  EXPECT_THAT(isp.err, AllOf(HasSubstr("usb: 43 84 3B71 9E04 len 0 -> ok\n"),
                             HasSubstr("usb: C3 82 0000 0000 len 3 -> ok C2 20 13\n")));
}

TEST_F(CliTest, VirtualLatencyMovesTheChipsClockByEveryTransfer) {
  for (const std::uint64_t latency : {0u, 250u}) {
    std::uint64_t now_us = 1, transfers = 0;
    chip_done = [&](sim::VirtualChip& chip) {
      now_us = chip.NowUs();
      transfers = chip.TransfersAnswered() + chip.TransfersRefused();
    };
    const std::string us = std::to_string(latency);
    EXPECT_EQ(Run({"--virtual", "--virtual-latency-us", us, "reg", "read", "0D", "07"}).code, 0);
    EXPECT_GT(transfers, 0u);
    EXPECT_EQ(now_us, transfers * latency) << us;  // a register read makes no pause of its own
  }
}

// The folder was there when the run began and is gone when the report is written: the run
// fails, and its last verdict line says so, as the exit code does.
TEST_F(CliTest, AReportThatCannotBeWrittenFailsAnOtherwiseGoodRun) {
  std::filesystem::create_directory(Path("gone"));
  chip_done = [&](sim::VirtualChip&) { std::filesystem::remove(Path("gone")); };
  const CliRun run =
      Run({"--virtual", "--log", Path("gone/r.json"), "auto", Sample("velmora-demo-fw.bin")});
  EXPECT_EQ(run.code, 1);
  EXPECT_THAT(run.err, HasSubstr("Cannot create \"" + Path("gone/r.json") +
                                 "\": No such file or directory"));
  const std::string last_verdict = run.out.substr(run.out.rfind("Verdict: "));
  EXPECT_THAT(last_verdict, ::testing::StartsWith("Verdict: failed: Cannot create"));
}

// A part still busy from a cut-short run: the run waits for it (bounded) before the status
// clear, which a busy part would ignore, and says "Flash is busy" when it stays busy.
TEST_F(CliTest, AutoWaitsForABusyPartAndRefusesOneThatStaysBusy) {
  const struct {
    std::uint32_t busy_transfers;  // the part turns idle after this many transfers
    int code;
    const char* verdict;
  } cases[] = {{60, 0, "Verdict: success: Verifying Success"},
               {~0u, 2, "Verdict: refused: Flash is busy"}};
  for (const auto& c : cases) {
    Bytes left;
    chip_made = [&](sim::VirtualChip& chip) {
      chip.Flash().Fill(0x3C);
      chip.SetFlashStuckBusy(true);
      chip.SetTransferHook([&chip, &c](std::uint32_t n) {
        if (n == c.busy_transfers) chip.SetFlashStuckBusy(false);
      });
    };
    chip_done = [&](sim::VirtualChip& chip) { left = chip.Flash().ReadRange(0, 16); };
    const CliRun run = Run({"--virtual", "auto", Sample("velmora-demo-fw.bin")});
    EXPECT_EQ(run.code, c.code) << run.out;
    EXPECT_THAT(run.out, HasSubstr(c.verdict));
    EXPECT_EQ(left == Filled(16, 0x3C), c.code != 0) << "a busy part is not written";
  }
}

// Arguments are bytes, not always UTF-8 (a file name from another system, a stray byte): the
// report keeps each one, the bytes that are no UTF-8 written as \xNN, and is always written.
TEST_F(CliTest, ArgumentsThatAreNoUtf8AreEscapedInTheReport) {
  const struct {
    std::string name, in_report;
  } cases[] = {
      {"caf\xC3\xA9.bin", "caf\xC3\xA9.bin"},  // UTF-8 stays as it is
      {"\xFF\xFE.bin", "\\xFF\\xFE.bin"},
      {"\xED\xA0\x80.bin", "\\xED\\xA0\\x80.bin"},  // a surrogate
      {"\xC0\xAF.bin", "\\xC0\\xAF.bin"},           // an overlong '/'
      {"cut\xE2\x82.bin", "cut\\xE2\\x82.bin"},
  };
  const std::string log = Path("r.json");
  for (const auto& c : cases) {
    const CliRun run = Run({"--virtual", "--log", log, "auto", Path(c.name)});
    EXPECT_EQ(run.code, 2) << run.err;
    EXPECT_EQ(ReadJson(log)["arguments"][4], Path(c.in_report));
  }
  std::mt19937 random(20);
  for (int i = 0; i < 50; ++i) {
    std::string name(1 + random() % 12, ' ');
    for (char& ch : name) ch = static_cast<char>(1 + random() % 255);
    std::erase(name, '/');
    const CliRun run = Run({"--virtual", "--log", log, "image", "info", "x" + name + ".bin"});
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(ReadJson(log)["verdict"], "refused");
  }
}

// A device that is there but cannot be opened (no permission on Linux): the platform's words,
// which name the udev rule, and exit 1 for a command; detect still finds it.
TEST_F(CliTest, ADeviceThatCannotBeOpenedIsReportedInThePlatformsWords) {
  class DeniedBus final : public UsbPlatform {
   public:
    bool EnumerateInterfaces(Backend, std::vector<std::string>& paths) override {
      paths = {sim::kAudioPath};
      return true;
    }
    UsbHandle Open(const std::string&) override { return kInvalidHandle; }
    void Close(UsbHandle) override {}
    bool ControlTransfer(UsbHandle, Backend, const ControlSetup&, std::uint8_t*,
                         std::uint32_t) override {
      return false;
    }
    bool Probe(UsbHandle, Backend) override { return false; }
    std::string LastError() const override {
      return "Cannot open the device: no permission to use the USB device. Install the udev rule "
             "70-velmora-usbtool.rules";
    }
  } denied;
  real_bus = &denied;
  const CliRun detect = Run({"detect"});
  EXPECT_EQ(detect.code, 0);
  EXPECT_THAT(detect.err, HasSubstr("70-velmora-usbtool.rules"));
  const CliRun flash = Run({"auto", Sample("velmora-demo-fw.bin")});
  EXPECT_EQ(flash.code, 1);
  EXPECT_THAT(flash.err, HasSubstr("no permission to use the USB device"));
  EXPECT_THAT(flash.out, Not(HasSubstr("Enter ISP Mode")));
}

}  // namespace
}  // namespace velmora::cli::testing

namespace velmora::cli::testing {
namespace {

// A negative size is refused like a negative start: exit 2 before the chip is looked for.
TEST_F(CliTest, ANegativeRangeSizeIsRefusedBeforeTheChipIsLookedFor) {
  bool chip_made_at_all = false;
  chip_made = [&](sim::VirtualChip&) { chip_made_at_all = true; };
  const CliRun run = Run({"--virtual", "auto", Sample("velmora-demo-fw.hex"), "--range", "0:-4"});
  EXPECT_EQ(run.code, 2);
  EXPECT_THAT(run.err, HasSubstr("START_KB:SIZE_KB"));
  EXPECT_FALSE(chip_made_at_all);
}

// The report's verdict for each way a run ends without writing: a refused file, no device.
TEST_F(CliTest, TheReportNamesTheVerdictOfARefusedRunAndOfNoDevice) {
  const struct {
    std::vector<std::string> args;
    int code;
    const char* verdict;
  } cases[] = {
      {{"--virtual", "auto", "missing.bin"}, 2, "refused"},
      {{"auto", Sample("velmora-demo-fw.bin")}, 3, "no device"},
      {{"detect"}, 3, "no device"},
  };
  for (const auto& c : cases) {
    const std::string log = Path("verdict.json");
    std::vector<std::string> args{"--log", log};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = Run(args);
    EXPECT_EQ(run.code, c.code) << c.verdict << run.err;
    EXPECT_EQ(ReadJson(log)["verdict"], c.verdict) << c.args.back();
  }
}

}  // namespace
}  // namespace velmora::cli::testing
