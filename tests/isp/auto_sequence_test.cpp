// The automatic ISP sequence against the strict virtual chip: step order and labels, the step
// switches, the range, page size by identifier, refusals, failures and stops mid-run, the
// faster profiles, and the read-only checks the command line makes before a run.
#include "auto_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "chip_under_test.h"
#include "mismatch_report.h"
#include "preflight.h"

namespace velmora::testing {
namespace {

constexpr AutoSteps kAll{};
constexpr FlashRange Assign(std::uint32_t start, std::uint32_t size) {
  return {RangeChoice::AssignRange, start, size};
}
AutoSteps Without(bool AutoSteps::*step) {
  AutoSteps steps;
  steps.*step = false;
  return steps;
}

// The process label's texts with the erase dots and sector addresses dropped, repeats folded.
Strings Labels(const Strings& texts) {
  Strings out;
  for (std::string text : texts) {
    if (text.starts_with(texts::kEraseAll)) text = texts::kEraseAll;
    if (text.starts_with("Flash Sector Erase:")) text = "Flash Sector Erase:";
    if (out.empty() || out.back() != text) out.push_back(text);
  }
  return out;
}

struct AutoRun : ChipRig {
  using ChipRig::ChipRig;
  AutoOutcome Auto(const AutoSteps& steps, const ProgramImage& image, const FlashRange& range = {},
                   AutoProfile profile = AutoProfile::Design) {
    return RunAutoSequence(ctx, steps, range, image, id, nullptr, profile);
  }
  ChipIdBytes id{};
};

class AutoSequenceTest : public ::testing::Test, protected AutoRun {};

TEST_F(AutoSequenceTest, FullRunProgramsProtectsAndLeavesIspThenTheNextRunUnprotectsFirst) {
  const ProgramImage image = RandomImage(5000, 1);
  const AutoOutcome first = Auto(kAll, image);
  EXPECT_FALSE(first.step_failed);
  EXPECT_EQ(id, (ChipIdBytes{0xC2, 0x20, 0x13}));
  EXPECT_EQ(Labels(progress.process),
            (Strings{"Enter ISP Mode", "Clear Status register", "Flash Erase All ",
                     "Start Blanking Check", "Blanking Success", "Start Programming",
                     "Programming Success", "Start Verifying Check", "Verifying Success"}));
  EXPECT_EQ(chip.Flash().ReadRange(0, 5000), ImageBytes(image, 0, 5000));
  EXPECT_EQ(chip.Flash().Peek(5000), 0xFF);
  EXPECT_TRUE(Protected());
  EXPECT_FALSE(chip.InIspMode());
  EXPECT_EQ(transcript.Count(Kind::Open), 3u);  // at the start, by the erase, after it
  EXPECT_EQ(platform.OpenHandleCount(), 0u);

  // The protected part refuses a chip erase: the next run clears the status register first.
  transcript.Clear();
  ASSERT_FALSE(Auto(kAll, RandomImage(3000, 2)).step_failed);
  const auto status_writes = Requests(0x80, 0x01);
  ASSERT_EQ(status_writes.size(), 2u);
  EXPECT_EQ(status_writes.front().data.at(1), 0x00);
  EXPECT_EQ(status_writes.back().data.at(1), 0xFF);
  EXPECT_EQ(chip.Flash().ChipErases(), 2u);
  EXPECT_EQ(chip.Flash().Peek(4000), 0xFF);
}

TEST_F(AutoSequenceTest, AllSevenUntickedOnlyReadsTheIdentifier) {
  id = {0x01, 0x02, 0x03};
  EXPECT_FALSE(
      Auto({false, false, false, false, false, false, false}, RandomImage(4096)).step_failed);
  EXPECT_EQ(progress.process, Strings{"Enter ISP Mode"});
  for (const auto& e : transcript.Transfers()) {
    EXPECT_TRUE(e.setup.request == 0x83 || (e.setup.request == 0x81 && e.data.at(0) == 0x9F));
  }
  EXPECT_EQ(id, (ChipIdBytes{0x01, 0x02, 0x03}));  // outside ISP mode the flash does not answer
  EXPECT_EQ(Trace(transcript).front(), "pump");
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(AutoSequenceTest, RefusedRunsSendNothing) {
  const std::string grid = "Start and size must be multiples of 4 KB to erase in sectors";
  const struct {
    std::uint32_t length;
    FlashRange range;
    const std::string text;
  } cases[] = {
      {0, {}, "Program File is empty !!"},
      {8192, Assign(0xFFF000, 0x1000), "Range beyond flash address 0xFFFFFF"},
      // The erase would clear 4 KiB and the blank check then fail past it: no firmware left.
      {8192, Assign(0x8000, 0x1000), "Image longer than the range: 8192 bytes, range 4 KB"},
      {1000, Assign(1024, 1024), grid},
      {1000, Assign(0x8000, 6 * 1024), grid},
      {1000, Assign(0x8400, 0x1000), grid},
  };
  for (const auto& c : cases) {
    progress.process.clear();
    EXPECT_TRUE(Auto(kAll, RandomImage(c.length), c.range).step_failed);
    EXPECT_EQ(progress.process, Strings{c.text});
    EXPECT_TRUE(transcript.Events().empty());
  }
  // Without the erase nothing is erased, so the range may lie anywhere.
  chip.Flash().Fill(0xFF);
  EXPECT_FALSE(Auto(Without(&AutoSteps::erase), RandomImage(1000), Assign(1024, 1024)).step_failed);
  EXPECT_EQ(chip.Flash().ReadRange(1024, 1000), ImageBytes(RandomImage(1000), 0, 1000));
}

// Every part the virtual chip knows, under both range choices, with a bridge that reports
// "finished" with a byte other than 1 on every other part: page size, capacity, protect bits
// and erase budget must fit each part.
TEST_F(AutoSequenceTest, AutoProgramsAndProtectsEveryPartOfTheTable) {
  ProgramImage image = RandomImage(1500, 3);
  std::fill_n(image.bytes.begin() + 256, 256, 0x00);  // only pages of 0xFF may be skipped
  int row = 0;
  for (const sim::FlashPart& part : sim::FlashParts()) {
    for (const FlashRange range : {FlashRange{}, Assign(0x3000, 0x1000)}) {
      SCOPED_TRACE(sim::FlashIdText(part.id) + (range.range_start ? " Range" : " All"));
      AutoRun rig(TestFlash(part.id));
      rig.chip.SetReadyAnswer(++row % 2 == 0 ? 0x80 : 0x01);
      const AutoOutcome outcome = rig.Auto(kAll, image, range);
      EXPECT_FALSE(outcome.step_failed) << rig.progress.process.back();
      EXPECT_EQ(outcome.page_size, part.page_size);
      EXPECT_EQ(rig.Requests(0x80, 0x02).size(), (1500 + part.page_size - 1) / part.page_size);
      auto& flash = rig.chip.Flash();
      EXPECT_EQ(flash.ReadRange(range.ImageBase(), 1500), ImageBytes(image, 0, 1500));
      EXPECT_TRUE(rig.Protected());
      EXPECT_FALSE(rig.chip.InIspMode());
      if (range.range_start == 0) continue;
      EXPECT_EQ(flash.Peek(range.range_start - 1), 0xCC);  // outside the range: untouched
      EXPECT_EQ(flash.Peek(range.range_start + 0x1000 - 1), 0xFF);
      EXPECT_EQ(flash.Peek(range.range_start + 0x1000), 0xCC);
    }
  }
  // C2 22 pages are 32 bytes only from that maker; a failed identifier read leaves zeros: 256.
  for (const ChipIdBytes& id : {ChipIdBytes{0xEF, 0x22, 0x13}, ChipIdBytes{}}) {
    AutoRun rig(TestFlash({0xEF, 0x22, 0x13}));
    if (id == ChipIdBytes{}) rig.chip.SetNeverReady(true);
    EXPECT_EQ(rig.Auto(kAll, image).page_size, 256);
    EXPECT_EQ(rig.id, id);
  }
}

TEST_F(AutoSequenceTest, WithoutEraseAProgrammedChipFailsTheBlankCheckAndSkipsTheRest) {
  chip.Flash().Fill(0xFF);
  chip.Flash().WriteRange(0x123, {0x00});
  const AutoOutcome outcome = Auto(Without(&AutoSteps::erase), RandomImage(8192));
  EXPECT_TRUE(outcome.step_failed);
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(progress.process,
            (Strings{"Enter ISP Mode", "Start Blanking Check", "Blanking Fail at 0x000123"}));
  EXPECT_EQ(Requests(0x81, 0x03).size(), 4u + 3u);  // four clean chunks, three tries at the fifth
  EXPECT_TRUE(Requests(0x80, 0x02).empty());
  EXPECT_EQ(Requests(0x80, 0x01).size(), 1u);  // only the protect
  EXPECT_TRUE(Protected());
  EXPECT_FALSE(chip.InIspMode());
}

// Whatever ends a run early (a failed step, a lost or unconfirmed request, a stop), the protect
// and the ISP exit still run, and a run says success only when they took.
TEST_F(AutoSequenceTest, RunsEndedEarlyStillProtectAndLeaveIspAndSaySo) {
  using Rule = RequestFilter::Rule;
  const auto at_text = [](std::string when, std::function<void(AutoRun&)> act) {
    return [=](AutoRun& r) {
      r.progress.on_address_text = r.progress.on_process_text = [=, &r](const std::string& t) {
        if (t == when) act(r);
      };
    };
  };
  const auto lose = [](Rule rule) {
    return [=](AutoRun& r) { r.keep_alive = std::make_shared<RequestFilter>(r, rule); };
  };
  const auto stop = [](AutoRun& r) { r.progress.stop = true; };
  const struct {
    const char* name;
    std::function<void(AutoRun&)> arrange;
    std::string last_text;
    bool alive = true;  // the chip still takes the protect and the ISP exit
    int pages = -1;     // page programs sent, when it matters
  } cases[] = {
      {"bit flips in verify",
       at_text("Start Verifying Check",
               [](AutoRun& r) { r.chip.FlipReadBits(0x04, Flip::Always, 12); }),
       "Verifying Fail at 0x00000C"},
      // The page shown when the part got stuck is sent; the next one finds it busy.
      {"stuck busy in programming",
       at_text("0x000400", [](AutoRun& r) { r.chip.SetFlashStuckBusy(true); }),
       "Programming Fail at 0x000500", false},
      {"unplugged in verify",
       at_text("Verifying Addr: 0x000100", [](AutoRun& r) { r.chip.UnplugAfterTransfers(0); }),
       "Verifying Fail at 0x000140", false},
      {"second sector's erase lost", lose([n = std::make_shared<int>(0)](auto& s, auto d, auto l) {
         return IsFlashCommand(s, d, l, 0x20) && ++*n == 2;
       }),
       "Erase Flash Fail", true, 0},
      {"first sector's write enable lost",
       lose([n = std::make_shared<int>(0)](auto& s, auto d, auto l) {
         return IsFlashCommand(s, d, l, 0x06) && ++*n == 2;  // the first is the status clear's
       }),
       "Erase Flash Fail", true, 0},
      {"protect write lost",
       lose([](auto& s, auto d, auto l) { return IsFlashCommand(s, d, l, 0x01) && d[1] == 0xFF; }),
       "Flash Protect Fail", false},
      {"ISP exit lost", lose([](auto& s, auto, auto) { return s.request == 0x85; }),
       "Exit ISP Mode Fail", false},
      {"stop at the first pump",
       [&](AutoRun& r) { r.progress.on_pump = [&r](int) { r.progress.stop = true; }; },
       "Stopped by user", true, 0},
      // The page shown when the stop came is still written; the next one is not.
      {"stop in programming", at_text("0x000800", stop), "Stopped by user", true, 9},
      {"stop in verify", at_text("Verifying Addr: 0x000200", stop), "Stopped by user", true, 32},
  };
  const ProgramImage image = RandomImage(8192);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AutoRun rig;
    c.arrange(rig);
    const AutoOutcome outcome = rig.Auto(kAll, image, Assign(0, 0x3000));
    EXPECT_TRUE(outcome.step_failed);
    EXPECT_EQ(outcome.stopped, c.last_text == "Stopped by user");
    EXPECT_EQ(rig.progress.process.back(), c.last_text);
    const std::size_t pages = rig.Requests(0x80, 0x02).size();
    EXPECT_EQ(pages, c.pages < 0 ? pages : std::size_t(c.pages));
    EXPECT_EQ(rig.Requests(0x80, 0x01).back().data.at(1), 0xFF);
    EXPECT_EQ(rig.Requests(0x85).size(), 1u);
    EXPECT_EQ(Trace(rig.transcript).back(), "close");
    EXPECT_EQ(rig.platform.OpenHandleCount(), 0u);
    if (!c.alive) continue;
    EXPECT_TRUE(rig.Protected());
    EXPECT_FALSE(rig.chip.InIspMode());
  }
}

// A status register that reads back only some of the block-protect bits is neither protected
// (after the run) nor cleared (before the erase, where a protected part ignores the erase).
TEST_F(AutoSequenceTest, PartlySetProtectBitsAreNeitherAProtectNorAClear) {
  for (const std::uint8_t written : {0xFF, 0x00}) {
    AutoRun rig;
    rig.chip.Flash().SetStatus(0x04);
    bool hit = false;
    rig.keep_alive = std::make_shared<RequestFilter>(
        rig, [&](const ControlSetup& s, const std::uint8_t* d, std::uint32_t l) {
          if (hit) rig.chip.Flash().SetStatus(0x04);
          hit = IsFlashCommand(s, d, l, 0x01) && d[1] == written;
          return false;
        });
    EXPECT_TRUE(rig.Auto(kAll, RandomImage(1000)).step_failed);
    EXPECT_EQ(rig.progress.process.back(),
              written ? "Flash Protect Fail" : "Clear Status register Fail");
  }
}

// The bridge keeps its last answer: when the status command of a wait is lost, a fetch hands
// back the idle status read before the erase, and the wait must not take it for idle.
TEST_F(AutoSequenceTest, AStatusReadWhoseCommandFailedCountsAsBusyInTheEraseWait) {
  for (const FlashRange range : {Assign(0x2000, 0x2000), FlashRange{}}) {
    AutoRun rig;
    bool armed = false;
    const std::uint8_t erase = range.range_size ? 0x20 : 0xC7;
    RequestFilter filter(rig, [&](const ControlSetup& s, const std::uint8_t* d, std::uint32_t l) {
      armed = armed || IsFlashCommand(s, d, l, erase);
      if (!armed || !IsFlashCommand(s, d, l, 0x05)) return false;
      armed = false;  // the first status read after each erase command loses its 0x81
      return true;
    });
    EXPECT_FALSE(rig.Auto(kAll, RandomImage(1000), range).step_failed);
    EXPECT_GE(filter.failed, 1);
    const std::uint32_t end = range.range_size ? 0x4000 : rig.chip.Flash().Size();
    const auto rest =
        rig.chip.Flash().ReadRange(range.ImageBase() + 1000, end - range.ImageBase() - 1000);
    EXPECT_TRUE(std::all_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b == 0xFF; }));
  }
}

// After an erase or a page that timed out, or an erase stopped early, the part is still busy and
// would ignore the protect: the run waits it out first, within a budget that grows with the part.
TEST_F(AutoSequenceTest, AfterATimedOutOrStoppedStepTheProtectWaitsForThePart) {
  const struct {
    const char* name;
    sim::FlashId id;
    sim::FlashTimes times;
    FlashRange range;
    bool stop;
    const char* last_text;
    bool protects;
  } cases[] = {
      {"sector erase of 15 s",
       {0xC2, 0x20, 0x13},
       {.sector_erase_us = 15000000},
       Assign(0x2000, 0x1000),
       false,
       "Erase Flash Fail",
       true},
      {"page program of 0.5 s",
       {0xC2, 0x20, 0x13},
       {.page_program_us = 500000},
       {},
       false,
       "Programming Fail at 0x000100",
       true},
      {"16 MiB, erase of 2 min",
       {0xC2, 0x20, 0x18},
       {.chip_erase_us = 120000000},
       {},
       false,
       "Verifying Success",
       true},
      {"16 MiB, stopped while erasing",
       {0xC2, 0x20, 0x18},
       {.chip_erase_us = 120000000},
       {},
       true,
       "Stopped by user",
       true},
      // The design's budget of 10 s stays for a 512 KiB part, and so does its wait.
      {"512 KiB, erase of 2 min",
       {0xC2, 0x20, 0x13},
       {.chip_erase_us = 120000000},
       {},
       false,
       "Erase Flash Fail",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AutoRun rig(TestFlash(c.id));
    rig.chip.Flash().SetTimes(c.times);
    int polls = 0;
    rig.progress.on_process_text = [&](const std::string& text) {
      if (text.starts_with(texts::kEraseAll) && ++polls == 2000 && c.stop) rig.progress.stop = true;
    };
    const AutoOutcome outcome = rig.Auto(kAll, RandomImage(1000), c.range);
    EXPECT_EQ(rig.progress.process.back(), c.last_text);
    EXPECT_EQ(outcome.step_failed, c.last_text != std::string("Verifying Success"));
    EXPECT_LE(polls, c.id[2] == 0x18 ? 32001 : 1001);
    EXPECT_EQ(rig.Protected(), c.protects);
    EXPECT_FALSE(rig.chip.InIspMode());
  }
}

// The capacity code of the identifier bounds the range: past the part's end, sector addresses
// and pages wrap onto its low flash.
TEST_F(AutoSequenceTest, ARangePastThePartsEndIsRefusedOnceTheIdentifierIsRead) {
  const struct {
    sim::FlashId id;
    FlashRange range;
    std::uint32_t length;
    bool erase;
    const char* text;  // nullptr: the run succeeds
  } cases[] = {
      {{0xC2, 0x20, 0x13}, Assign(508 * 1024, 8 * 1024), 8192, true, "0x07FFFF"},
      {{0xC2, 0x20, 0x13}, Assign(508 * 1024, 0), 8192, false, "0x07FFFF"},
      {{0xC2, 0x22, 0x10}, {}, 0x10040, true, "0x00FFFF"},
      {{0xC2, 0x20, 0x13}, Assign(508 * 1024, 4 * 1024), 4096, true, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    AutoRun rig(TestFlash(c.id));
    if (!c.erase) rig.chip.Flash().Fill(0xFF);
    const ProgramImage image = RandomImage(c.length);
    const AutoOutcome outcome =
        rig.Auto(c.erase ? kAll : Without(&AutoSteps::erase), image, c.range);
    EXPECT_TRUE(rig.Protected());
    EXPECT_FALSE(rig.chip.InIspMode());
    EXPECT_EQ(outcome.step_failed, c.text != nullptr);
    if (c.text == nullptr) {
      EXPECT_EQ(rig.chip.Flash().ReadRange(c.range.range_start, c.length),
                ImageBytes(image, 0, c.length));
      continue;
    }
    EXPECT_EQ(rig.progress.process.back(), std::string("Range beyond flash address ") + c.text);
    EXPECT_TRUE(rig.Requests(0x80, 0x20).empty() && rig.Requests(0x80, 0xC7).empty());
    EXPECT_TRUE(rig.Requests(0x80, 0x02).empty());
  }
}

// The steps a front end is told about: each that runs starts and ends once, in order, with its
// outcome; steps not reached after a failure are not told; the status the run last read back.
TEST(AutoSequenceSteps, ObserverHearsEachStepThatRunsWithItsOutcome) {
  struct Heard final : AutoStepObserver {
    void StepStarted(AutoStep step) override { words += "+" + std::to_string(int(step)); }
    void StepEnded(AutoStep step, bool ok) override {
      words += (ok ? "=" : "!") + std::to_string(int(step));
    }
    std::string words;
  };
  const ProgramImage image = RandomImage(3000, 3);
  AutoRun rig;
  Heard heard;
  EXPECT_EQ(RunAutoSequence(rig.ctx, kAll, {}, image, rig.id, &heard).last_status, 0x9C);
  EXPECT_EQ(heard.words, "+0=0+1=1+2=2+3=3+4=4+5=5+6=6+7=7+8=8");
  // A written chip without erase fails the blank check; program and verify are not reached.
  rig.chip.Flash().WriteRange(0x10, {0x00});
  AutoSteps steps = Without(&AutoSteps::erase);
  steps.protect = false;
  heard.words.clear();
  const AutoOutcome outcome = RunAutoSequence(rig.ctx, steps, {}, image, rig.id, &heard);
  EXPECT_EQ(heard.words, "+0=0+1=1+4!4+8=8");
  EXPECT_EQ(outcome.last_status, std::nullopt);
  steps.erase = true;
  EXPECT_EQ(RunAutoSequence(rig.ctx, steps, {}, image, rig.id, &heard).last_status, 0x00);
}

TEST(AutoFastProfile, EachPageCostsOneStatusReadAtItsTypicalTimeAndEveryReadIsLong) {
  const struct {
    sim::FlashId id;
    std::uint64_t page_us;
    std::size_t reads_per_page;  // status reads after a page: one unless it outlasts 1 ms
  } cases[] = {
      {{0xC2, 0x20, 0x13}, 1000, 1}, {{0xC2, 0x22, 0x11}, 1000, 1}, {{0xC2, 0x20, 0x13}, 2500, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page_us);
    AutoRun rig(TestFlash(c.id));
    rig.chip.Flash().Fill(0xFF);
    rig.chip.Flash().SetTimes({.page_program_us = c.page_us});
    const ProgramImage image = RandomImage(3000);
    // Only programming and the verify, so that every status read belongs to a page.
    ASSERT_FALSE(
        rig.Auto({true, true, false, false, true, true, false}, image, {}, AutoProfile::Fast)
            .step_failed);
    EXPECT_EQ(rig.chip.Flash().ReadRange(0, 3000), ImageBytes(image, 0, 3000));
    const std::size_t pages = rig.chip.Flash().PagePrograms();
    EXPECT_EQ(pages, (3000u + PageSizeFor(c.id) - 1) / PageSizeFor(c.id));
    // The idle check before the first step and before the first page; no ready poll per page.
    EXPECT_EQ(rig.Requests(0x81, 0x05).size(), pages * c.reads_per_page + 2);
    EXPECT_EQ(rig.Requests(0x83).size(), rig.Requests(0x81).size());
    for (const auto& read : rig.Requests(0x81, 0x03)) EXPECT_EQ(read.setup.value, 255);
  }
}

TEST(AutoChangedOnlyProfile, OnlySectorsThatDifferAreErasedAndAllElseIsLeftAsItWas) {
  const struct {
    std::uint32_t base;                // AssignRange of 64 KiB there, or All at 0
    std::vector<std::uint32_t> dirty;  // offsets from the base whose byte the board has wrong
    std::vector<std::uint32_t> erased;
  } cases[] = {
      {0, {}, {}},
      {0, {0x1005}, {0x1000}},  // read in a chunk that starts in the sector before
      {0, {0x0000, 0x2000}, {0x0000, 0x2000}},
      {0, {0x2F00}, {0x2000}},  // the last sector's tail past the 10000-byte image
      {0x10000, {0x0FFF, 0x1000}, {0x10000, 0x11000}},
  };
  for (const auto& c : cases) {
    AutoRun rig;
    const ProgramImage image = RandomImage(10000);
    std::vector<std::uint8_t> board = rig.chip.Flash().ReadRange(0, rig.chip.Flash().Size());
    std::copy_n(image.bytes.begin(), 0x3000, board.begin() + c.base);
    for (std::uint32_t offset : c.dirty) board[c.base + offset] ^= 0x21;
    rig.chip.Flash().WriteRange(0, board);
    rig.chip.Flash().SetStatus(rig.chip.Flash().WritableStatusBits());
    const AutoOutcome outcome = rig.Auto(
        kAll, image, c.base ? Assign(c.base, 0x10000) : FlashRange{}, AutoProfile::ChangedOnly);
    ASSERT_FALSE(outcome.step_failed) << rig.progress.process.back();
    std::vector<std::uint32_t> erased;
    for (const auto& e : rig.Requests(0x80, 0x20)) erased.push_back(AddressOf(e));
    EXPECT_EQ(erased, c.erased);
    EXPECT_EQ(outcome.sectors_changed, c.erased);
    EXPECT_EQ(outcome.sectors_compared, 3u);
    std::copy_n(image.bytes.begin(), 0x3000, board.begin() + c.base);
    EXPECT_TRUE(rig.chip.Flash().ReadRange(0, rig.chip.Flash().Size()) == board);
    EXPECT_TRUE(rig.Protected());
  }
}

TEST(Preflight, ReadingThePartWritesNothingAndRefusesWhatCannotHoldTheImage) {
  ChipRig rig;
  rig.chip.Flash().SetStatus(0x0C);
  const PartState state = ReadPartState(rig.link, /*isp_mode=*/true);
  EXPECT_EQ(state.id, (ChipIdBytes{0xC2, 0x20, 0x13}));
  EXPECT_EQ(state.status, 0x0C);
  EXPECT_FALSE(rig.chip.InIspMode());
  EXPECT_TRUE(rig.Requests(0x80).empty()) << "no flash write command of any kind";
  EXPECT_FALSE(ReadPartState(rig.link, /*isp_mode=*/false).id_read);

  const ProgramImage image = RandomImage(0x10001);
  const std::string beyond = "Range beyond flash address 0x";
  const struct {
    ChipIdBytes id;
    FlashRange range;
    bool erase;
    std::optional<std::string> refusal;
  } cases[] = {
      {{0xFF, 0xFF, 0xFF}, {}, true, "No flash answers: JEDEC id FF FF FF"},
      {{0x00, 0x00, 0x00}, {}, true, "No flash answers: JEDEC id 00 00 00"},
      {{0xC2, 0x20, 0x10}, {}, true, beyond + "00FFFF (C2 20 10 holds 64 KiB)"},
      {{0xC2, 0x20, 0x11}, {}, true, std::nullopt},
      {{0xC2, 0x20, 0x13}, Assign(0x60000, 0x20000), true, std::nullopt},
      {{0xC2, 0x20, 0x13},
       Assign(0x60000, 0x21000),
       true,
       beyond + "07FFFF (C2 20 13 holds 512 KiB)"},
      {{0xC2, 0x20, 0x13}, Assign(0x60000, 0x21000), false, std::nullopt},  // only the image
      {{0xC2, 0x20, 0x13}, Assign(0x70000, 0), false, beyond + "07FFFF (C2 20 13 holds 512 KiB)"},
      {{0xEF, 0x40, 0x00}, {}, true, std::nullopt},  // unknown capacity: 24 bits limit
  };
  for (const auto& c : cases) {
    AutoSteps steps;
    steps.erase = c.erase;
    EXPECT_EQ(PreflightRefusal(c.id, steps, c.range, image), c.refusal) << ChipIdText(c.id);
  }
}

TEST(MismatchReport, ListsTheFirstWrongBytesAndWhichWayTheirBitsAreWrong) {
  ChipRig rig;
  rig.OpenInIspMode();
  rig.chip.Flash().Fill(0xF0);
  rig.chip.Flash().WriteRange(0x41, {0x0F});
  const auto f0 = [](std::uint32_t) { return std::uint8_t{0xF0}; };
  const MismatchReport blank = FindMismatches(
      rig.link, 0x3E, 0x1000, [](std::uint32_t) { return std::uint8_t{0xFF}; }, 3);
  EXPECT_EQ(blank.first, (std::vector<ByteMismatch>{
                             {0x3E, 0xFF, 0xF0}, {0x3F, 0xFF, 0xF0}, {0x40, 0xFF, 0xF0}}));
  const MismatchReport both = FindMismatches(rig.link, 0x40, 0x80, f0);
  ASSERT_EQ(both.first.size(), 1u);
  EXPECT_EQ(both.zeros_where_ones, 0xF0);
  EXPECT_EQ(both.ones_where_zeros, 0x0F);
  rig.chip.FailRequest(0x81);
  const MismatchReport unread = FindMismatches(rig.link, 0, 0x100, f0);
  EXPECT_FALSE(unread.complete);
  EXPECT_EQ(DescribeMismatches(unread).back(), "a chunk could not be read: the list ends there");
}

}  // namespace
}  // namespace velmora::testing
