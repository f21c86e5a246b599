// The automatic ISP sequence against the strict virtual chip: step order and labels, every part
// the virtual chip knows, refusals, and every way a run ends early, each of which must still
// protect the part and leave ISP mode.
#include "chip_under_test.h"

namespace velmora::testing {
namespace {

constexpr AutoSteps kAll{};

using AutoSequenceTest = ChipUnderTest;

TEST_F(AutoSequenceTest, FullRunProgramsAndLeavesIspAndUntickedStepsOnlyReadTheIdentifier) {
  const ProgramImage image = RandomImage(5000, 1);
  EXPECT_FALSE(Auto(kAll, image).step_failed);
  Strings labels;  // erase dots dropped, repeats folded
  for (const std::string& text : progress.process)
    if (labels.empty() || !text.starts_with(labels.back())) labels.push_back(text);
  EXPECT_EQ(labels, (Strings{"Enter ISP Mode", "Clear Status register", "Flash Erase All ",
                             "Start Blanking Check", "Blanking Success", "Start Programming",
                             "Programming Success", "Start Verifying Check", "Verifying Success"}));
  EXPECT_EQ(chip.Flash().ReadRange(0, 5000), ImageBytes(image, 0, 5000));
  EXPECT_EQ(chip.Flash().Peek(5000), 0xFF);
  EXPECT_EQ(transcript.Count(Kind::Open), 3u);  // at the start, by the erase, after it
  // All seven unticked: the identifier is read, nothing else.
  transcript.Clear();
  progress.process.clear();
  EXPECT_FALSE(Auto({false, false, false, false, false, false, false}, image).step_failed);
  EXPECT_EQ(progress.process, Strings{"Enter ISP Mode"});
  const Strings trace = Trace(transcript);  // outside ISP mode the flash never answers
  EXPECT_EQ(Strings(trace.begin(), trace.begin() + 3), (Strings{"pump", "open", "81/9F"}));
  EXPECT_TRUE(Requests(0x80).empty() && Requests(0x84).empty() && Requests(0x85).empty());
}

TEST_F(AutoSequenceTest, RefusedRunsSendNothing) {
  const struct {
    std::uint32_t length;
    FlashRange range;
    const std::string text;
  } cases[] = {
      {0, {}, "Program File is empty !!"},
      {8192, Assign(0xFFF000, 0x1000), "Range beyond flash address 0xFFFFFF"},
      // The erase would clear 4 KiB and the blank check then fail past it: no firmware left.
      {8192, Assign(0x8000, 0x1000), "Image longer than the range: 8192 bytes, range 4 KB"},
      {1000, Assign(1024, 4096), kUnaligned},
      {1000, Assign(0x8000, 6 * 1024), kUnaligned},
  };
  for (const auto& c : cases) {
    progress.process.clear();
    EXPECT_TRUE(Auto(kAll, RandomImage(c.length), c.range).step_failed);
    EXPECT_EQ(progress.process, Strings{c.text});
    EXPECT_TRUE(transcript.Events().empty());
  }
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
      ChipRig rig(TestFlash(part.id));
      rig.chip.SetReadyAnswer(++row % 2 == 0 ? 0x80 : 0x01);
      const AutoOutcome outcome = rig.Auto(kAll, image, range);
      EXPECT_FALSE(outcome.step_failed) << rig.progress.process.back();
      EXPECT_EQ(outcome.page_size, part.page_size);
      EXPECT_EQ(rig.Requests(0x80, 0x02).size(), (1500 + part.page_size - 1) / part.page_size);
      auto& flash = rig.chip.Flash();
      EXPECT_EQ(flash.ReadRange(range.ImageBase(), 1500), ImageBytes(image, 0, 1500));
      EXPECT_TRUE(rig.Protected());
      EXPECT_FALSE(rig.chip.InIspMode());
      EXPECT_EQ(flash.Peek(0x3FFF), 0xFF);  // the erased tail; only the range is touched
      EXPECT_EQ(flash.Peek(0x2FFF), range.range_start ? 0xCC : 0xFF);
      EXPECT_EQ(flash.Peek(0x4000), range.range_start ? 0xCC : 0xFF);
    }
  }
}

// Whatever ends a run early (a failed or timed-out step, a lost or unconfirmed request, a range
// past the part, a stop), the protect and the ISP exit still run, after the part is idle again,
// and a run says success only when they took.
TEST_F(AutoSequenceTest, RunsEndedEarlyStillProtectAndLeaveIspAndSaySo) {
  const auto at_text = [](std::string when, std::function<void(ChipRig&)> act) {
    return [=](ChipRig& r) {
      r.progress.on_address_text = r.progress.on_process_text = [=, &r](const std::string& t) {
        if (t.starts_with(when)) act(r);
      };
    };
  };
  const auto lose = [](RequestFilter::Rule rule) {
    return [=](ChipRig& r) { r.keep_alive = std::make_shared<RequestFilter>(r, rule); };
  };
  // The status register keeps only BP0 of what is written with `value`.
  const auto only_bp0 = [](std::uint8_t value) {
    return [=](ChipRig& r) {
      r.chip.Flash().SetStatus(0x04);
      auto hit = std::make_shared<bool>(false);
      r.keep_alive = std::make_shared<RequestFilter>(r, [=, &r](auto& s, auto d, auto l) {
        if (*hit) r.chip.Flash().SetStatus(0x04);
        *hit = IsFlashCommand(s, d, l, 0x01) && d[1] == value;
        return false;
      });
    };
  };
  // A chip erase of two minutes, stopped after `polls` (none: never).
  const auto erase_2_min_stop_at = [](int polls) {
    return [=](ChipRig& r) {
      r.chip.Flash().SetTimes({.chip_erase_us = 120000000});
      r.progress.on_pump = [=, &r](int pump) { r.progress.stop = polls && pump > polls; };
    };
  };
  const sim::FlashId k16MiB{0xC2, 0x20, 0x18}, k512KiB{0xC2, 0x20, 0x13};
  const std::string kStopped = "Stopped by user";
  const struct {
    const char* name;
    std::function<void(ChipRig&)> arrange;
    std::string last_text;
    bool protects = true;  // the chip still takes the protect and the ISP exit
    int pages = -1;        // page programs sent, when it matters
    sim::FlashId id = {0xC2, 0x20, 0x13};
    FlashRange range = Assign(0, 0x3000);
    bool erase = true;
  } cases[] = {
      // The page shown when the part got stuck is sent; the next one finds it busy.
      {"stuck busy in programming",
       at_text("0x000400", [](ChipRig& r) { r.chip.SetFlashStuckBusy(true); }),
       "Programming Fail at 0x000500", false},
      {"second sector's erase lost", lose([n = std::make_shared<int>(0)](auto& s, auto d, auto l) {
         return IsFlashCommand(s, d, l, 0x20) && ++*n == 2;
       }),
       "Erase Flash Fail", true, 0},
      {"protect write lost",
       lose([](auto& s, auto d, auto l) { return IsFlashCommand(s, d, l, 0x01) && d[1] == 0xFF; }),
       "Flash Protect Fail", false},
      {"ISP exit lost", lose([](auto& s, auto, auto) { return s.request == 0x85; }),
       "Exit ISP Mode Fail", false},
      {"protect reads back only BP0", only_bp0(0xFF), "Flash Protect Fail", false},
      {"clear reads back BP0", only_bp0(0x00), "Clear Status register Fail", true, 0},
      // The page shown when the stop came is still written; the next one is not.
      {"stop in programming", at_text("0x000800", [](ChipRig& r) { r.progress.stop = true; }),
       kStopped, true, 9},
      // The design's erase budget of 10 s is far too short for a 16 MiB part.
      {"16 MiB, stopped after 20 s of erase", erase_2_min_stop_at(2000), kStopped, true, 0, k16MiB,
       FlashRange{}},
      {"512 KiB, erase of 2 min", erase_2_min_stop_at(0), "Erase Flash Fail", false, 0, k512KiB,
       FlashRange{}},
      // Once the identifier is read: past the part's end, addresses wrap onto its low flash.
      {"range past 512 KiB", nullptr, "Range beyond flash address 0x07FFFF", true, 0, k512KiB,
       Assign(508 * 1024, 8 * 1024)},
      {"written chip without erase", nullptr, "Blanking Fail at 0x000000", true, 0, k512KiB,
       FlashRange{}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig(TestFlash(c.id));
    if (c.arrange) c.arrange(rig);
    AutoSteps steps;
    steps.erase = c.erase;
    const AutoOutcome outcome = rig.Auto(steps, RandomImage(8192), c.range);
    EXPECT_TRUE(outcome.step_failed);
    EXPECT_EQ(outcome.stopped, c.last_text == kStopped);
    EXPECT_EQ(rig.progress.process.back(), c.last_text);
    const std::size_t pages = rig.Requests(0x80, 0x02).size();
    EXPECT_EQ(pages, c.pages < 0 ? pages : std::size_t(c.pages));
    EXPECT_EQ(rig.Requests(0x80, 0x01).back().data.at(1), 0xFF);
    EXPECT_EQ(rig.Requests(0x85).size(), 1u);
    EXPECT_EQ(Trace(rig.transcript).back(), "close");
    EXPECT_EQ(rig.platform.OpenHandleCount(), 0u);
    EXPECT_EQ(rig.Protected() && !rig.chip.InIspMode(), c.protects);
  }
}

// The bridge keeps its last answer: when the status command of a wait is lost, a fetch hands
// back the idle status read before the erase, and the wait must not take it for idle.
TEST_F(AutoSequenceTest, AStatusReadWhoseCommandFailedCountsAsBusyInTheEraseWait) {
  for (const FlashRange range : {Assign(0x2000, 0x2000), FlashRange{}}) {
    ChipRig rig;
    bool armed = false;
    const std::uint8_t erase = range.range_size ? 0x20 : 0xC7;
    RequestFilter filter(rig, [&](const ControlSetup& s, const std::uint8_t* d, std::uint32_t l) {
      // The first status read after each erase command loses its 0x81.
      const bool lose = armed && IsFlashCommand(s, d, l, 0x05);
      armed = !lose && (armed || IsFlashCommand(s, d, l, erase));
      return lose;
    });
    EXPECT_FALSE(rig.Auto(kAll, RandomImage(1000), range).step_failed);
    EXPECT_GE(filter.failed, 1);
    const std::uint32_t end = range.range_size ? 0x4000 : rig.chip.Flash().Size();
    EXPECT_TRUE(
        AllAre(rig.chip.Flash().ReadRange(range.ImageBase() + 1000, end - range.ImageBase() - 1000),
               0xFF));
  }
}

}  // namespace
}  // namespace velmora::testing
