// The files velmora-isp writes: refused before the device is touched when they cannot be written
// or would go over an input, never left half-written, and the report written whatever the
// arguments hold. Its output: bars on a terminal, plain lines elsewhere, --verbose, -q.
#include <algorithm>
#include <filesystem>

#include "cli_fixture.h"
#include "program_image.h"
#include "virtual_flash_files.h"

namespace velmora::cli::testing {
namespace {

using ::testing::AllOf;

TEST_F(CliTest, RefusalsExitTwoBeforeAnythingIsWritten) {
  Bytes big(100 * 1024);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  const std::string fw = Write("big.bin", big), demo = Sample("velmora-demo-fw.hex");
  Bytes past_image(kProgramImageSize + 1, 0xFF);
  past_image.back() = 0x00;  // firmware past 256 KiB, which a cut would lose
  const std::string read_only = Write("read-only.json", std::string("{}"));
  std::filesystem::permissions(read_only, std::filesystem::perms::owner_read);
  const std::string kept = Write("kept.bin", Bytes(512 * 1024, 0xA5));
  const std::string no_dir = Path("nodir/r.json");
  const struct {
    std::vector<std::string> args;
    std::string says;
    bool looks_for_device;
  } cases[] = {
      {{"auto", fw, "--range", "32:4"}, "Image longer than the range: 102400 bytes", false},
      {{"auto", Write("long.bin", past_image)}, "holds 262145 bytes", false},
      {{"--log", fw, "auto", fw},
       "Cannot write the report (--log) \"" + fw +
           "\": it is the "
           "program file",
       false},
      {{"--virtual-flash", fw, "auto", fw}, "it is the program file", false},
      {{"--log", no_dir, "auto", demo}, "\"" + no_dir + "\": No such file or directory", false},
      {{"--log", read_only, "auto", demo}, "the file is read-only", false},
      {{"--log", Path("d.bin"), "read-back", Path("d.bin")},
       "it is also the read-back file",
       false},
      {{"patch-table", fw, fw}, "Cannot write OUT \"" + fw + "\": it is the image IN", false},
      {{"read-back", Path("nodir/d.bin")}, "Cannot write the read-back file \"", false},
      {{"auto", Write("empty.bin", std::string())}, "Program File is empty !!", false},
      {{"auto", demo, "--range", "1:4"}, "multiples of 4 KB", false},
      {{"auto", demo, "--changed-only", "--no-verify"}, "erase, program and verify", false},
      {{"--virtual-flash", kept, "auto", Write("bad.hex", std::string(":10000000ZZ\r\n"))},
       "bad.hex",
       false},
      {{"--virtual-id", "C22010", "auto", fw},
       "Range beyond flash address 0x00FFFF (C2 20 10 holds 64 KiB)",
       true},
      {{"auto", demo, "--range", "480:64"}, "Range beyond flash address 0x07FFFF", true},
      {{"--virtual-id", "FFFFFF", "auto", demo}, "No flash answers: JEDEC id FF FF FF", true},
  };
  for (const auto& c : cases) {
    bool seen = false;
    chip_done = [&](sim::VirtualChip& chip) {
      seen = true;
      const sim::SpiFlashModel& flash = chip.Flash();
      EXPECT_EQ(flash.StatusWrites() + flash.PagePrograms() + flash.SectorErases(), 0u);
      EXPECT_FALSE(chip.InIspMode());
    };
    std::vector<std::string> args{"--virtual"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = Run(args);
    EXPECT_EQ(run.code, 2) << c.says << run.err;
    EXPECT_THAT(run.err, HasSubstr(c.says));
    EXPECT_THAT(run.out, HasSubstr("Verdict: refused: "));
    EXPECT_EQ(seen, c.looks_for_device) << c.says;
  }
  EXPECT_EQ(Read(fw), big) << "neither the report nor the flash went over the firmware";
  EXPECT_EQ(Read(kept), Bytes(512 * 1024, 0xA5));
  // A kept flash of another size than the part's, or one another run is working on.
  const CliRun wrong =
      Run({"--virtual", "--virtual-flash", Write("small.bin", Bytes(4096, 0)), "auto", demo});
  EXPECT_EQ(wrong.code, 2);
  EXPECT_THAT(wrong.err, HasSubstr("holds 4096 bytes, but the part C2 20 13 holds 524288"));
  std::string error;
  const auto held = FlashFileLock::Take(kept, error);
  ASSERT_TRUE(held) << error;
  const CliRun locked = Run({"--virtual", "--virtual-flash", kept, "auto", demo});
  EXPECT_EQ(locked.code, 2);
  EXPECT_THAT(locked.err, HasSubstr("is in use by another run (lock \"" + kept + ".lock\")"));
}

// A read-back that fails or is stopped never replaces OUT: what was read goes to OUT.partial
// (the chunks read, then the 0x5A fill), and nothing when nothing was read.
TEST_F(CliTest, AFailedReadBackLeavesOutAsItWasAndKeepsWhatWasReadBesideIt) {
  const struct {
    std::function<void(sim::VirtualChip&)> arrange;
    const char* verdict;
    bool partial;
  } cases[] = {
      {[](sim::VirtualChip& chip) { chip.UnplugAfterTransfers(400); },
       "Verdict: failed: Verifying Fail at 0x", true},
      {[this](sim::VirtualChip& chip) {
         chip.SetTransferHook([this](std::uint32_t n) { interrupted = interrupted || n == 400; });
       },
       "Verdict: stopped: Stopped by user", true},
      {[](sim::VirtualChip& chip) { chip.SetFlashStuckBusy(true); }, "failed: Flash is busy",
       false},
  };
  const std::string earlier = "an earlier good copy";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.verdict);
    interrupted = false;
    chip_made = [&c](sim::VirtualChip& chip) {
      chip.Flash().Fill(0x3C);
      c.arrange(chip);
    };
    const std::string out = Write("dump.bin", earlier);
    std::filesystem::remove(out + ".partial");
    const CliRun run = Run({"--virtual", "read-back", out});
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.out, HasSubstr(c.verdict));
    EXPECT_EQ(ReadText(out), earlier);
    EXPECT_EQ(std::filesystem::exists(out + ".partial"), c.partial);
    if (!c.partial) continue;
    EXPECT_THAT(run.out, HasSubstr("what was read is in " + out + ".partial"));
    const Bytes file = Read(out + ".partial");
    ASSERT_EQ(file.size(), 0x20000u);
    const auto fill = std::find(file.begin(), file.end(), 0x5A);
    EXPECT_GT(fill - file.begin(), 0x400) << "about 65 chunks were read";
    EXPECT_TRUE(std::all_of(file.begin(), fill, [](auto b) { return b == 0x3C; }));
    EXPECT_TRUE(std::all_of(fill, file.end(), [](auto b) { return b == 0x5A; }));
  }
}

// The folder is gone when the report is written: the run fails, and its last verdict says so.
TEST_F(CliTest, AReportThatCannotBeWrittenFailsAnOtherwiseGoodRun) {
  std::filesystem::create_directory(Path("gone"));
  chip_done = [&](sim::VirtualChip&) { std::filesystem::remove(Path("gone")); };
  const CliRun run =
      Run({"--virtual", "--log", Path("gone/r.json"), "auto", Sample("velmora-demo-fw.bin")});
  EXPECT_EQ(run.code, 1);
  EXPECT_THAT(run.err, HasSubstr("Cannot create \"" + Path("gone/r.json") + "\": No such file"));
  EXPECT_THAT(run.out.substr(run.out.rfind("Verdict: ")),
              ::testing::StartsWith("Verdict: failed: Cannot create"));
}

// Arguments are bytes, not always UTF-8: the report keeps each, the bytes that are no UTF-8
// written as \xNN, and is always written.
TEST_F(CliTest, ArgumentsThatAreNoUtf8AreEscapedInTheReport) {
  const struct {
    std::string name, in_report;
  } cases[] = {
      {"caf\xC3\xA9.bin", "caf\xC3\xA9.bin"},  // UTF-8 stays as it is
      {"\xFF\xFE.bin", "\\xFF\\xFE.bin"},
      {"\xED\xA0\x80.bin", "\\xED\\xA0\\x80.bin"},           // a surrogate
      {"\xC0\xAF.bin", "\\xC0\\xAF.bin"},                    // an overlong '/'
      {"\xF4\x90\x80\x80.bin", "\\xF4\\x90\\x80\\x80.bin"},  // past U+10FFFF
      {"cut\xE2\x82.bin", "cut\\xE2\\x82.bin"},
  };
  for (const auto& c : cases) {
    const CliRun run = Run({"--virtual", "--log", Path("r.json"), "auto", Path(c.name)});
    EXPECT_EQ(run.code, 2) << run.err;
    EXPECT_EQ(ReadJson(Path("r.json"))["arguments"][4], Path(c.in_report));
  }
}

TEST_F(CliTest, ATerminalGetsBarsOtherOutputPlainLinesVerboseEveryRequestQuietOnlyTheResult) {
  const std::string bin = Sample("velmora-demo-fw.bin");
  terminal = true;
  EXPECT_THAT(Run({"--virtual", "auto", bin}).out,
              HasSubstr("\rStart Verifying Check    [########################] 4608/4608 bytes"));
  terminal = false;
  const CliRun plain = Run({"--virtual", "--verbose", "auto", bin});
  EXPECT_EQ(plain.out.find('\r'), std::string::npos);
  EXPECT_THAT(plain.out, HasSubstr("Start Verifying Check\n  4608 bytes in "));
  EXPECT_THAT(plain.err, AllOf(HasSubstr("usb: open usb:vid_6ccf&pid_6012:bus1-port1 -> ok\n"),
                               HasSubstr("usb: 43 84 3B71 9E04 len 0 -> ok\n"),
                               HasSubstr("usb: C3 82 0000 0000 len 3 -> ok C2 20 13\n")));
  EXPECT_THAT(Run({"--virtual", "-q", "auto", bin}).out,
              ::testing::MatchesRegex("Verdict: success[^\n]*\n"));
  EXPECT_EQ(Run({"--virtual", "reg", "read", "00", "12", "--quiet"}).out, "Reg 0x12 = 0x00\n");
  out_broken = true;  // stdout that cannot take the output fails the run
  EXPECT_EQ(Run({"image", "info", bin}).code, 1);
}

}  // namespace
}  // namespace velmora::cli::testing
