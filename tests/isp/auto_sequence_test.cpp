// The automatic ISP sequence against the strict virtual chip: step order and labels, the step
// switches, the range choice, page size by identifier, failures and stop requests mid-run.
#include "auto_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "chip_under_test.h"
#include "flash_texts.h"

namespace velmora::testing {
namespace {

const std::vector<std::string> kFullRunLabels = {
    "Enter ISP Mode",       "Clear Status register", "Flash Erase All ",
    "Start Blanking Check", "Blanking Success",      "Start Programming",
    "Programming Success",  "Start Verifying Check", "Verifying Success"};

constexpr AutoSteps kAllTicked{};
constexpr AutoSteps kNoneTicked{false, false, false, false, false, false, false};

// The process label's texts with the erase dots dropped and repeats folded.
std::vector<std::string> Labels(const std::vector<std::string>& texts) {
  std::vector<std::string> out;
  for (std::string text : texts) {
    if (text.starts_with(texts::kEraseAll)) text = texts::kEraseAll;
    if (text.starts_with("Flash Sector Erase:")) text = "Flash Sector Erase:";
    if (out.empty() || out.back() != text) out.push_back(text);
  }
  return out;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class AutoSequenceTest : public ChipUnderTest {
 protected:
  AutoOutcome Run(const AutoSteps& steps, const ProgramImage& image, const FlashRange& range = {}) {
    return RunAutoSequence(ctx, steps, range, image, chip_id);
  }

  // Every status bit the part lets the tool set is set: the last status write was 0xFF.
  bool Protected() {
    const std::uint8_t writable = chip.Flash().WritableStatusBits();
    return (chip.Flash().Status() & writable) == writable;
  }

  ChipIdBytes chip_id{};
};

TEST_F(AutoSequenceTest, FullRunProgramsProtectsAndLeavesIspThenTheNextRunUnprotectsFirst) {
  const ProgramImage image = RandomImage(5000, 1);
  const AutoOutcome first = Run(kAllTicked, image);
  EXPECT_FALSE(first.step_failed);
  EXPECT_FALSE(first.stopped);
  EXPECT_EQ(first.page_size, 256);
  EXPECT_EQ(chip_id, (ChipIdBytes{0xC2, 0x20, 0x13}));
  EXPECT_EQ(Labels(progress.process), kFullRunLabels);
  EXPECT_EQ(chip.Flash().ReadRange(0, 5000), ImageBytes(image, 0, 5000));
  EXPECT_EQ(chip.Flash().Peek(5000), 0xFF);  // erased, and 0xFF pages were never sent
  EXPECT_EQ(Requests(0x80, 0x01).back().data.at(1), 0xFF);
  EXPECT_TRUE(Protected());
  EXPECT_FALSE(chip.InIspMode());
  // Opened at the start, by the erase and after it; every handle closed again.
  EXPECT_EQ(transcript.Count(Kind::Open), 3u);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
  EXPECT_EQ(Trace(transcript).back(), "close");

  // The protected part refuses a chip erase: the next run clears the status register first.
  transcript.Clear();
  progress.process.clear();
  const ProgramImage second_image = RandomImage(3000, 2);
  const AutoOutcome second = Run(kAllTicked, second_image);
  EXPECT_FALSE(second.step_failed);
  const auto status_writes = Requests(0x80, 0x01);
  ASSERT_EQ(status_writes.size(), 2u);
  EXPECT_EQ(status_writes.front().data.at(1), 0x00);
  const auto trace = Trace(transcript);
  const auto clear = std::find(trace.begin(), trace.end(), "80/01");
  ASSERT_NE(clear, trace.begin());
  EXPECT_EQ(*(clear - 1), "80/06");
  EXPECT_EQ(chip.Flash().ChipErases(), 2u);
  EXPECT_EQ(chip.Flash().ReadRange(0, 5000), [&] {
    auto bytes = ImageBytes(second_image, 0, 3000);
    bytes.resize(5000, 0xFF);
    return bytes;
  }());
}

TEST_F(AutoSequenceTest, AllSevenUntickedOnlyReadsTheIdentifier) {
  chip_id = {0x01, 0x02, 0x03};
  const AutoOutcome outcome = Run(kNoneTicked, RandomImage(4096));
  EXPECT_FALSE(outcome.step_failed);
  EXPECT_EQ(progress.process, std::vector<std::string>{"Enter ISP Mode"});
  for (const auto& e : transcript.Transfers()) {
    EXPECT_TRUE(e.setup.request == 0x83 || (e.setup.request == 0x81 && e.data.at(0) == 0x9F))
        << int{e.setup.request};
  }
  // Outside ISP mode the flash never answers: the identifier keeps its old bytes.
  EXPECT_EQ(chip_id, (ChipIdBytes{0x01, 0x02, 0x03}));
  EXPECT_EQ(outcome.page_size, 256);
  EXPECT_EQ(chip.Flash().Peek(0), 0xCC);
  EXPECT_EQ(Trace(transcript).front(), "pump");
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

// An empty image would have the run erase the chip and report success.
TEST_F(AutoSequenceTest, EmptyImageIsRefusedBeforeTheDeviceIsTouched) {
  const AutoOutcome outcome = Run(kAllTicked, ProgramImage{});
  EXPECT_TRUE(outcome.step_failed);
  EXPECT_EQ(progress.process, std::vector<std::string>{"Program File is empty !!"});
  EXPECT_TRUE(transcript.Events().empty());
  EXPECT_EQ(chip.Flash().Peek(0), 0xCC);
}

TEST_F(AutoSequenceTest, PageSizeFollowsTheIdentifier) {
  // Parts from the virtual chip's table; memory type 0x22 has 32-byte pages only from 0xC2.
  struct Case {
    std::array<std::uint8_t, 3> id;
    bool id_read_fails;
    std::uint16_t page;
  } cases[] = {
      {{0xC2, 0x22, 0x10}, false, 32},  {{0xC2, 0x22, 0x11}, false, 32},
      {{0xC2, 0x20, 0x13}, false, 256}, {{0xEF, 0x22, 0x13}, false, 256},
      {{0xC2, 0x20, 0x13}, true, 256},
  };
  const ProgramImage image = RandomImage(1000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    ChipRig rig(TestFlash(c.id));
    if (c.id_read_fails) {
      // The bridge never reports the identifier read finished; fine again for the erase.
      rig.progress.on_pump = [&rig](int pump) {
        if (pump == 1) rig.chip.FailRequest(0x83);
      };
      rig.progress.on_process_text = [&rig](const std::string& text) {
        if (text == texts::kClearStatus) rig.chip.FailRequest(0x83, false);
      };
    }
    ChipIdBytes id{};
    const AutoOutcome outcome = RunAutoSequence(rig.ctx, kAllTicked, {}, image, id);
    EXPECT_EQ(outcome.page_size, c.page);
    EXPECT_EQ(id, c.id_read_fails ? ChipIdBytes{} : ChipIdBytes(c.id));
    std::size_t pages = 0;
    for (const auto& e : rig.transcript.Transfers()) {
      if (e.setup.request != 0x80 || e.setup.index != 0) continue;
      ++pages;
    }
    EXPECT_EQ(pages, (1000 + c.page - 1) / c.page);
    for (const auto& e : rig.Requests(0x80)) {
      if (e.setup.index == 1 && e.data.size() > 4) {
        EXPECT_EQ(e.data.size(), c.page);
      }
    }
    EXPECT_EQ(c.page, rig.chip.Flash().PageSize());
    EXPECT_EQ(rig.chip.Flash().ReadRange(0, 1000), ImageBytes(image, 0, 1000));
    EXPECT_FALSE(outcome.step_failed);
  }
}

// Every part the virtual chip knows, under both range choices, with a bridge that reports
// "finished" with a byte other than 1 on every other part: the tool's own rules (page size,
// capacity, protect bits, erase budget) must fit each part as its datasheet describes it.
TEST_F(AutoSequenceTest, AutoProgramsAndProtectsEveryPartOfTheTable) {
  ProgramImage image = RandomImage(1500, 3);
  // A page of zeros must be programmed: only a page of 0xFF may be skipped.
  std::fill_n(image.bytes.begin() + 256, 256, std::uint8_t{0x00});
  int row = 0;
  for (const sim::FlashPart& part : sim::FlashParts()) {
    for (const FlashRange range :
         {FlashRange{}, FlashRange{RangeChoice::AssignRange, 0x3000, 0x1000}}) {
      SCOPED_TRACE(sim::FlashIdText(part.id) +
                   (range.choice == RangeChoice::All ? " All" : " Range"));
      ChipRig rig(TestFlash(part.id));
      rig.chip.SetReadyAnswer(++row % 2 == 0 ? 0x80 : 0x01);
      ChipIdBytes id{};
      const AutoOutcome outcome = RunAutoSequence(rig.ctx, kAllTicked, range, image, id);
      EXPECT_FALSE(outcome.step_failed) << rig.progress.process.back();
      EXPECT_EQ(id, ChipIdBytes(part.id));
      EXPECT_EQ(outcome.page_size, part.page_size);
      auto& flash = rig.chip.Flash();
      EXPECT_EQ(flash.ReadRange(range.ImageBase(), 1500), ImageBytes(image, 0, 1500));
      EXPECT_EQ(flash.Status() & flash.WritableStatusBits(), flash.WritableStatusBits());
      EXPECT_FALSE(rig.chip.InIspMode());
      if (range.choice == RangeChoice::AssignRange) {
        EXPECT_EQ(flash.Peek(range.range_start - 1), 0xCC);  // outside the range: untouched
        EXPECT_EQ(flash.ReadRange(range.range_start + 1500, 0x1000 - 1500),
                  std::vector<std::uint8_t>(0x1000 - 1500, 0xFF));
      }
    }
  }
}

TEST_F(AutoSequenceTest, WithoutEraseAProgrammedChipFailsTheBlankCheckAndSkipsTheRest) {
  chip.Flash().Fill(0xFF);
  chip.Flash().WriteRange(0x123, {0x00});
  AutoSteps steps;
  steps.erase = false;
  const AutoOutcome outcome = Run(steps, RandomImage(8192));
  EXPECT_TRUE(outcome.step_failed);
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(progress.process, (std::vector<std::string>{"Enter ISP Mode", "Start Blanking Check",
                                                        "Blanking Fail at 0x000123"}));
  // Four clean chunks, three attempts at the fifth; no status clear, erase or programming.
  EXPECT_EQ(Requests(0x81, 0x03).size(), 4u + 3u);
  EXPECT_TRUE(Requests(0x80, 0x02).empty());
  EXPECT_TRUE(Requests(0x80, 0xC7).empty());
  ASSERT_EQ(Requests(0x80, 0x01).size(), 1u);  // only the protect
  EXPECT_TRUE(Protected());
  EXPECT_FALSE(chip.InIspMode());
}

TEST_F(AutoSequenceTest, AssignRangeErasesItsSectorsAndPlacesTheImageAtItsStart) {
  const ProgramImage image = RandomImage(4096);
  const AutoOutcome outcome = Run(kAllTicked, image, {RangeChoice::AssignRange, 0x8000, 0x8000});
  EXPECT_FALSE(outcome.step_failed);
  const auto sectors = Requests(0x80, 0x20);
  ASSERT_EQ(sectors.size(), 8u);
  for (std::size_t i = 0; i < sectors.size(); ++i) {
    EXPECT_EQ(AddressOf(sectors[i]), 0x8000 + 0x1000 * i);
  }
  EXPECT_TRUE(Requests(0x80, 0xC7).empty());
  const auto pages = Requests(0x80, 0x02);
  ASSERT_EQ(pages.size(), 16u);
  EXPECT_EQ(AddressOf(pages.front()), 0x8000u);
  EXPECT_EQ(AddressOf(pages.back()), 0x8F00u);
  const auto reads = Requests(0x81, 0x03);
  ASSERT_EQ(reads.size(), 2u * 64u);  // blank check and verify, 64 chunks each
  EXPECT_EQ(AddressOf(reads.front()), 0x8000u);
  EXPECT_EQ(AddressOf(reads.back()), 0x8FC0u);
  EXPECT_EQ(chip.Flash().ReadRange(0x8000, 4096), ImageBytes(image, 0, 4096));
  EXPECT_EQ(chip.Flash().Peek(0x7FFF), 0xCC);
  EXPECT_EQ(chip.Flash().Peek(0x9000), 0xFF);
  EXPECT_EQ(chip.Flash().Peek(0x10000), 0xCC);
  EXPECT_EQ(
      Labels(progress.process),
      (std::vector<std::string>{"Enter ISP Mode", "Clear Status register", "Flash Sector Erase",
                                "Flash Sector Erase:", "Start Blanking Check", "Blanking Success",
                                "Start Programming", "Programming Success", "Start Verifying Check",
                                "Verifying Success"}));
}

TEST_F(AutoSequenceTest, FailuresMidRunEndWithTheirTextAndStillProtectAndLeaveIsp) {
  struct Case {
    const char* name;
    std::function<void(ChipRig&)> inject;
    std::string last_text;
    bool chip_alive;  // the chip still takes the protect and the ISP exit
  } cases[] = {
      {"bit flips during verify",
       [](ChipRig& r) {
         r.progress.on_process_text = [&r](const std::string& text) {
           if (text == texts::kStartVerify) {
             r.chip.FlipReadBits(0x04, sim::VirtualChip::Flip::Always, 12);
           }
         };
       },
       "Verifying Fail at 0x00000C", true},
      {"failed transfers during verify",
       [](ChipRig& r) {
         r.progress.on_process_text = [&r](const std::string& text) {
           if (text == texts::kStartVerify) r.chip.FailRequest(0x81);
         };
       },
       "Verifying Fail at 0x000000", true},
      // The page shown when the part got stuck is sent; the next one finds it busy.
      {"flash stuck busy during programming",
       [](ChipRig& r) {
         r.progress.on_address_text = [&r](const std::string& text) {
           if (text == "0x000400") r.chip.SetFlashStuckBusy(true);
         };
       },
       "Programming Fail at 0x000500", false},
      {"unplugged during programming",
       [](ChipRig& r) {
         r.progress.on_address_text = [&r](const std::string& text) {
           if (text == "0x000400") r.chip.UnplugAfterTransfers(0);
         };
       },
       "Programming Fail at 0x000400", false},
      {"unplugged during verify",
       [](ChipRig& r) {
         r.progress.on_address_text = [&r](const std::string& text) {
           if (text == "Verifying Addr: 0x000100") r.chip.UnplugAfterTransfers(0);
         };
       },
       "Verifying Fail at 0x000140", false},
  };
  const ProgramImage image = RandomImage(8192);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig;
    c.inject(rig);
    ChipIdBytes id{};
    const AutoOutcome outcome = RunAutoSequence(rig.ctx, kAllTicked, {}, image, id);
    EXPECT_TRUE(outcome.step_failed);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(rig.progress.process.back(), c.last_text);
    // The protect and the ISP exit were still sent, in that order, after the failure.
    const auto trace = Trace(rig.transcript);
    const auto exit = std::find_if(trace.begin(), trace.end(),
                                   [](const std::string& w) { return w.starts_with("85"); });
    ASSERT_NE(exit, trace.end());
    const auto protect = rig.Requests(0x80, 0x01).back();
    EXPECT_EQ(protect.data.at(1), 0xFF);
    EXPECT_NE(std::find_if(trace.begin(), exit,
                           [](const std::string& w) { return w.starts_with("80/01"); }),
              exit);
    EXPECT_EQ(trace.back(), "close");
    EXPECT_EQ(rig.platform.OpenHandleCount(), 0u);
    if (c.chip_alive) {
      const std::uint8_t writable = rig.chip.Flash().WritableStatusBits();
      EXPECT_EQ(rig.chip.Flash().Status() & writable, writable);
      EXPECT_FALSE(rig.chip.InIspMode());
    }
  }
}

TEST_F(AutoSequenceTest, StopEndsTheRunAtTheNextBoundaryAndStillProtectsAndLeavesIsp) {
  struct Case {
    const char* name;
    std::function<void(ChipRig&)> stop_when;
    bool erase_sent;
    std::size_t pages_sent;
    const char* last_step_started;
  } cases[] = {
      {"at the first pump",
       [](ChipRig& r) {
         r.progress.on_pump = [&r](int pump) {
           if (pump == 1) r.progress.stop = true;
         };
       },
       false, 0, "Enter ISP Mode"},
      // The chip erase is still running when the run stops: protect must wait it out.
      {"while the chip erase runs",
       [](ChipRig& r) {
         r.progress.on_pump = [&r](int pump) {
           if (pump == 10) r.progress.stop = true;
         };
       },
       true, 0, "Clear Status register"},
      {"during the blank check",
       [](ChipRig& r) {
         r.progress.on_address_text = [&r](const std::string& text) {
           if (text == "Blanking Addr: 0x000400") r.progress.stop = true;
         };
       },
       true, 0, "Start Blanking Check"},
      // The page shown when the stop came is still written; the next one is not.
      {"during programming",
       [](ChipRig& r) {
         r.progress.on_address_text = [&r](const std::string& text) {
           if (text == "0x000800") r.progress.stop = true;
         };
       },
       true, 9, "Start Programming"},
      {"during verify",
       [](ChipRig& r) {
         r.progress.on_address_text = [&r](const std::string& text) {
           if (text == "Verifying Addr: 0x000200") r.progress.stop = true;
         };
       },
       true, 32, "Start Verifying Check"},
  };
  const ProgramImage image = RandomImage(8192);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig;
    c.stop_when(rig);
    ChipIdBytes id{};
    const AutoOutcome outcome = RunAutoSequence(rig.ctx, kAllTicked, {}, image, id);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_TRUE(outcome.step_failed);
    const auto& process = rig.progress.process;
    EXPECT_EQ(process.back(), "Stopped by user");
    ASSERT_TRUE(Contains(process, c.last_step_started));
    // Nothing after the stopped step started.
    const auto started =
        std::find(process.begin(), process.end(), std::string(c.last_step_started));
    for (auto it = started + 1; it != process.end() - 1; ++it) {
      EXPECT_FALSE(it->starts_with("Start") || it->ends_with("Success")) << *it;
    }
    EXPECT_EQ(!rig.Requests(0x80, 0xC7).empty(), c.erase_sent);
    EXPECT_EQ(rig.Requests(0x80, 0x02).size(), c.pages_sent);
    const std::uint8_t writable = rig.chip.Flash().WritableStatusBits();
    EXPECT_EQ(rig.chip.Flash().Status() & writable, writable);
    EXPECT_FALSE(rig.chip.InIspMode());
    EXPECT_EQ(rig.platform.OpenHandleCount(), 0u);
  }
}

TEST_F(AutoSequenceTest, RangePastTheAddressSpaceOrShorterThanTheImageIsRefusedUntouched) {
  const struct {
    FlashRange range;
    const char* text;
  } cases[] = {
      {{RangeChoice::AssignRange, 0xFFF000, 0x1000}, "Range beyond flash address 0xFFFFFF"},
      // The erase would clear 4 KiB and the blank check then fail past it: no firmware left.
      {{RangeChoice::AssignRange, 0x8000, 0x1000},
       "Image longer than the range: 8192 bytes, range 4 KB"},
  };
  for (const auto& c : cases) {
    progress.process.clear();
    const AutoOutcome outcome = Run(kAllTicked, RandomImage(8192), c.range);
    EXPECT_TRUE(outcome.step_failed);
    EXPECT_EQ(progress.process, std::vector<std::string>{c.text});
    EXPECT_TRUE(transcript.Events().empty());
  }
}

// ---- What the run must notice and refuse ----

// Assign Range over two sectors with the image in the first: only the erase itself vouches for
// the second.
const FlashRange kTwoSectors{RangeChoice::AssignRange, 0x2000, 0x2000};

bool AllErased(sim::VirtualChip& chip, std::uint32_t from, std::uint32_t count) {
  const auto bytes = chip.Flash().ReadRange(from, count);
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

// The bridge keeps its last answer: when the status command of a wait is lost, a fetch hands
// back the idle status read before the erase, and the wait must not take it for idle.
TEST_F(AutoSequenceTest, AStatusReadWhoseCommandFailedCountsAsBusyInTheEraseWait) {
  struct Case {
    const char* name;
    FlashRange range;
    std::uint8_t erase_opcode;
  } cases[] = {{"sector erase", kTwoSectors, 0x20}, {"chip erase", {}, 0xC7}};
  const ProgramImage image = RandomImage(1000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig;
    bool armed = false;  // the first status read after each erase command loses its 0x81
    RequestFilter filter(
        rig, [&](const ControlSetup& setup, const std::uint8_t* data, std::uint32_t length) {
          if (IsFlashCommand(setup, data, length, c.erase_opcode)) armed = true;
          if (!armed || !IsFlashCommand(setup, data, length, 0x05)) return false;
          armed = false;
          return true;
        });
    ChipIdBytes id{};
    const AutoOutcome outcome = RunAutoSequence(rig.ctx, kAllTicked, c.range, image, id);
    EXPECT_GE(filter.failed, 1);
    EXPECT_FALSE(outcome.step_failed);
    EXPECT_EQ(rig.progress.process.back(), "Verifying Success");
    const std::uint32_t base = c.range.ImageBase();
    const std::uint32_t erase_end =
        c.range.choice == RangeChoice::All ? rig.chip.Flash().Size() : base + c.range.range_size;
    EXPECT_EQ(rig.chip.Flash().ReadRange(base, 1000), ImageBytes(image, 0, 1000));
    EXPECT_TRUE(AllErased(rig.chip, base + 1000, erase_end - base - 1000));
  }
}

TEST_F(AutoSequenceTest, AnEraseWhoseWriteEnableOrEraseRequestFailsIsAnEraseFailure) {
  struct Case {
    const char* name;
    std::uint8_t lost_opcode;
  } cases[] = {{"second sector's write enable lost", 0x06}, {"second sector's erase lost", 0x20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig;
    int erases_seen = 0;
    bool lost = false;
    RequestFilter filter(
        rig, [&](const ControlSetup& setup, const std::uint8_t* data, std::uint32_t length) {
          const bool erase = IsFlashCommand(setup, data, length, 0x20);
          erases_seen += erase;
          const bool hit = c.lost_opcode == 0x20
                               ? erase && erases_seen == 2
                               : erases_seen == 1 && IsFlashCommand(setup, data, length, 0x06);
          if (lost || !hit) return false;
          return lost = true;
        });
    ChipIdBytes id{};
    const AutoOutcome outcome =
        RunAutoSequence(rig.ctx, kAllTicked, kTwoSectors, RandomImage(1000), id);
    EXPECT_EQ(filter.failed, 1);
    EXPECT_TRUE(outcome.step_failed);
    EXPECT_EQ(rig.progress.process.back(), "Erase Flash Fail");
    EXPECT_TRUE(rig.Requests(0x80, 0x02).empty());
    const std::uint8_t writable = rig.chip.Flash().WritableStatusBits();
    EXPECT_EQ(rig.chip.Flash().Status() & writable, writable);
    EXPECT_FALSE(rig.chip.InIspMode());
  }
}

// A protect or an ISP exit that did not take leaves the chip unprotected or in ISP mode: the run
// must say so rather than "Verifying Success".
TEST_F(AutoSequenceTest, ProtectAndIspExitThatDoNotTakeFailTheRun) {
  struct Case {
    const char* name;
    std::function<bool(const ControlSetup&, const std::uint8_t*, std::uint32_t)> lost;
    const char* last_text;
    bool protected_after, in_isp_after;
  } cases[] = {
      {"protect write lost",
       [](const ControlSetup& setup, const std::uint8_t* data, std::uint32_t length) {
         return IsFlashCommand(setup, data, length, 0x01) && data[1] == 0xFF;
       },
       "Flash Protect Fail", false, false},
      {"ISP exit lost",
       [](const ControlSetup& setup, const std::uint8_t*, std::uint32_t) {
         return setup.request == 0x85;
       },
       "Exit ISP Mode Fail", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig;
    RequestFilter filter(rig, c.lost);
    ChipIdBytes id{};
    const AutoOutcome outcome = RunAutoSequence(rig.ctx, kAllTicked, {}, RandomImage(1000), id);
    EXPECT_EQ(filter.failed, 1);
    EXPECT_TRUE(outcome.step_failed);
    EXPECT_EQ(rig.progress.process.back(), c.last_text);
    const std::uint8_t writable = rig.chip.Flash().WritableStatusBits();
    EXPECT_EQ((rig.chip.Flash().Status() & writable) == writable, c.protected_after);
    EXPECT_EQ(rig.chip.InIspMode(), c.in_isp_after);
  }
  // A write enable lost before the protect: the status write is ignored, the read-back says so.
  ChipRig rig;
  bool verified = false, lost = false;
  rig.progress.on_process_text = [&](const std::string& text) {
    verified = verified || text == texts::kVerifySuccess;
  };
  RequestFilter filter(
      rig, [&](const ControlSetup& setup, const std::uint8_t* data, std::uint32_t length) {
        if (!verified || lost || !IsFlashCommand(setup, data, length, 0x06)) return false;
        return lost = true;
      });
  ChipIdBytes id{};
  EXPECT_TRUE(RunAutoSequence(rig.ctx, kAllTicked, {}, RandomImage(1000), id).step_failed);
  EXPECT_EQ(rig.progress.process.back(), "Flash Protect Fail");
}

// A status register that reads back only some of the block-protect bits is neither protected
// (after the run) nor cleared (before the erase, where a protected part ignores the erase).
TEST_F(AutoSequenceTest, PartlySetProtectBitsAreNeitherAProtectNorAClear) {
  const struct {
    const char* name;
    std::uint8_t written;  // the status write that leaves only BP0 behind
    const char* last_text;
  } cases[] = {{"protect", 0xFF, "Flash Protect Fail"}, {"clear", 0x00, texts::kClearStatusFail}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig;
    rig.chip.Flash().SetStatus(0x04);
    bool written = false;
    RequestFilter filter(
        rig, [&](const ControlSetup& setup, const std::uint8_t* data, std::uint32_t length) {
          if (written) rig.chip.Flash().SetStatus(0x04);
          written = IsFlashCommand(setup, data, length, 0x01) && data[1] == c.written;
          return false;
        });
    ChipIdBytes id{};
    EXPECT_TRUE(RunAutoSequence(rig.ctx, kAllTicked, {}, RandomImage(1000), id).step_failed);
    EXPECT_EQ(rig.progress.process.back(), c.last_text);
  }
}

// After an erase or a page that timed out, the part is still busy and would ignore the protect.
TEST_F(AutoSequenceTest, AfterATimedOutStepTheProtectWaitsForThePartAndTakes) {
  struct Case {
    const char* name;
    sim::FlashTimes times;
    FlashRange range;
    const char* last_text;
  } cases[] = {
      {"sector erase of 15 s",
       {.sector_erase_us = 15000000},
       {RangeChoice::AssignRange, 0x2000, 0x1000},
       "Erase Flash Fail"},
      {"page program of 0.5 s", {.page_program_us = 500000}, {}, "Programming Fail at 0x000100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig;
    rig.chip.Flash().SetTimes(c.times);
    ChipIdBytes id{};
    const AutoOutcome outcome =
        RunAutoSequence(rig.ctx, kAllTicked, c.range, RandomImage(1000), id);
    EXPECT_TRUE(outcome.step_failed);
    EXPECT_EQ(rig.progress.process.back(), c.last_text);
    const std::uint8_t writable = rig.chip.Flash().WritableStatusBits();
    EXPECT_EQ(rig.chip.Flash().Status() & writable, writable);
    EXPECT_FALSE(rig.chip.InIspMode());
  }
}

// The capacity code of the identifier bounds the range: past the part's end, sector addresses
// and pages wrap onto its low flash.
TEST_F(AutoSequenceTest, ARangePastThePartsEndIsRefusedOnceTheIdentifierIsRead) {
  struct Case {
    const char* name;
    std::array<std::uint8_t, 3> id;
    FlashRange range;
    std::uint32_t image_length;
    bool erase;
    const char* text;  // nullptr: the run succeeds
  } cases[] = {
      {"512 KiB part, sectors and image past 0x080000",
       {0xC2, 0x20, 0x13},
       {RangeChoice::AssignRange, 508 * 1024, 8 * 1024},
       8192,
       true,
       "Range beyond flash address 0x07FFFF"},
      {"512 KiB part, image and erase past the end",
       {0xC2, 0x20, 0x13},
       {RangeChoice::AssignRange, 508 * 1024, 8 * 1024},
       8192,
       true,
       "Range beyond flash address 0x07FFFF"},
      {"512 KiB part, no erase, image past the end",
       {0xC2, 0x20, 0x13},
       {RangeChoice::AssignRange, 508 * 1024, 0},
       8192,
       false,
       "Range beyond flash address 0x07FFFF"},
      {"64 KiB part, All with a larger image",
       {0xC2, 0x22, 0x10},
       {},
       0x10040,
       true,
       "Range beyond flash address 0x00FFFF"},
      {"512 KiB part, range up to the last byte",
       {0xC2, 0x20, 0x13},
       {RangeChoice::AssignRange, 508 * 1024, 4 * 1024},
       4096,
       true,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChipRig rig(TestFlash(c.id));
    AutoSteps steps;
    steps.erase = c.erase;
    if (!c.erase) rig.chip.Flash().Fill(0xFF);
    ChipIdBytes id{};
    const ProgramImage image = RandomImage(c.image_length);
    const AutoOutcome outcome = RunAutoSequence(rig.ctx, steps, c.range, image, id);
    const auto low = rig.chip.Flash().ReadRange(0, 0x2000);
    const std::uint8_t writable = rig.chip.Flash().WritableStatusBits();
    EXPECT_EQ(rig.chip.Flash().Status() & writable, writable);
    EXPECT_FALSE(rig.chip.InIspMode());
    if (c.text == nullptr) {
      EXPECT_FALSE(outcome.step_failed);
      EXPECT_EQ(rig.chip.Flash().ReadRange(c.range.range_start, c.image_length),
                ImageBytes(image, 0, c.image_length));
      continue;
    }
    EXPECT_TRUE(outcome.step_failed);
    EXPECT_EQ(rig.progress.process.back(), c.text);
    EXPECT_TRUE(rig.Requests(0x80, 0x20).empty());
    EXPECT_TRUE(rig.Requests(0x80, 0xC7).empty());
    EXPECT_TRUE(rig.Requests(0x80, 0x02).empty());
    EXPECT_EQ(low, std::vector<std::uint8_t>(0x2000, c.erase ? 0xCC : 0xFF));
  }
}

// The design's erase budget of 10 s is far too short for a 16 MiB part; a 512 KiB part keeps it.
TEST_F(AutoSequenceTest, TheChipEraseBudgetGrowsWithTheCapacity) {
  struct Case {
    const char* name;
    std::array<std::uint8_t, 3> id;
    bool stop;
    const char* last_text;
    std::size_t max_polls;
  } cases[] = {
      {"16 MiB part", {0xC2, 0x20, 0x18}, false, "Verifying Success", 32000},
      {"16 MiB part, stopped while erasing", {0xC2, 0x20, 0x18}, true, "Stopped by user", 32000},
      {"512 KiB part", {0xC2, 0x20, 0x13}, false, "Erase Flash Fail", 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::FlashConfig config = TestFlash(c.id);
    config.times = sim::FlashPartFor(c.id).times;
    config.times->chip_erase_us = 120000000;  // two minutes
    ChipRig rig(config);
    int polls = 0;
    rig.progress.on_process_text = [&](const std::string& text) {
      if (!text.starts_with(texts::kEraseAll)) return;
      if (++polls == 2000 && c.stop) rig.progress.stop = true;
    };
    ChipIdBytes id{};
    const AutoOutcome outcome = RunAutoSequence(rig.ctx, kAllTicked, {}, RandomImage(1000), id);
    EXPECT_EQ(rig.progress.process.back(), c.last_text);
    EXPECT_EQ(outcome.step_failed, c.stop || c.max_polls == 1000);
    EXPECT_LE(static_cast<std::size_t>(polls), c.max_polls + 1);
    // A stopped or timed-out erase is waited out before the protect, when the budget allows.
    const std::uint8_t writable = rig.chip.Flash().WritableStatusBits();
    EXPECT_EQ((rig.chip.Flash().Status() & writable) == writable, c.max_polls > 1000);
  }
}

// Whole 4 KiB sectors around an unaligned range would wipe flash outside it.
TEST_F(AutoSequenceTest, AnUnalignedRangeWithEraseIsRefusedBeforeAnythingIsSent) {
  const FlashRange unaligned[] = {{RangeChoice::AssignRange, 1024, 1024},
                                  {RangeChoice::AssignRange, 0x8000, 6 * 1024},
                                  {RangeChoice::AssignRange, 0x8400, 0x1000}};
  for (const FlashRange& range : unaligned) {
    SCOPED_TRACE(range.range_start);
    ChipRig rig;
    ChipIdBytes id{};
    const AutoOutcome outcome = RunAutoSequence(rig.ctx, kAllTicked, range, RandomImage(1000), id);
    EXPECT_TRUE(outcome.step_failed);
    EXPECT_EQ(rig.progress.process,
              std::vector<std::string>{"Start and size must be multiples of 4 KB to erase in "
                                       "sectors"});
    EXPECT_TRUE(rig.transcript.Events().empty());
  }
  // Without the erase nothing is erased, so the range may lie anywhere.
  ChipRig rig;
  rig.chip.Flash().Fill(0xFF);
  AutoSteps steps;
  steps.erase = false;
  ChipIdBytes id{};
  const ProgramImage image = RandomImage(1000);
  EXPECT_FALSE(RunAutoSequence(rig.ctx, steps, unaligned[0], image, id).step_failed);
  EXPECT_EQ(rig.chip.Flash().ReadRange(1024, 1000), ImageBytes(image, 0, 1000));
}

// The steps a front end is told about: each that runs starts and ends once, in order, with its
// outcome; steps not reached after a failure are not told; the status the run last read back.
TEST(AutoSequenceSteps, ObserverHearsEachStepThatRunsWithItsOutcome) {
  struct Heard final : AutoStepObserver {
    void StepStarted(AutoStep step) override { events.push_back("start " + Name(step)); }
    void StepEnded(AutoStep step, bool ok) override {
      events.push_back((ok ? "ok " : "failed ") + Name(step));
    }
    static std::string Name(AutoStep step) { return std::to_string(static_cast<int>(step)); }
    std::vector<std::string> events;
  };
  const ProgramImage image = RandomImage(3000, 3);
  {
    ChipRig rig;
    Heard heard;
    ChipIdBytes id{};
    const AutoOutcome outcome = RunAutoSequence(rig.ctx, {}, {}, image, id, &heard);
    EXPECT_EQ(heard.events,
              (std::vector<std::string>{"start 0", "ok 0", "start 1", "ok 1", "start 2", "ok 2",
                                        "start 3", "ok 3", "start 4", "ok 4", "start 5", "ok 5",
                                        "start 6", "ok 6", "start 7", "ok 7", "start 8", "ok 8"}));
    EXPECT_EQ(outcome.last_status, 0x9C);  // the protect's read-back
  }
  {
    // A chip that was written before: the blank check fails, programming and verify are not
    // reached, protect and the ISP exit still run. Without protect the last status read back is
    // the clear before the erase.
    ChipRig rig;
    rig.chip.Flash().WriteRange(0x10, {0x00});
    Heard heard;
    ChipIdBytes id{};
    AutoSteps steps;
    steps.erase = false;
    steps.protect = false;
    const AutoOutcome outcome = RunAutoSequence(rig.ctx, steps, {}, image, id, &heard);
    EXPECT_TRUE(outcome.step_failed);
    EXPECT_EQ(heard.events, (std::vector<std::string>{"start 0", "ok 0", "start 1", "ok 1",
                                                      "start 4", "failed 4", "start 8", "ok 8"}));
    EXPECT_EQ(outcome.last_status, std::nullopt);
    steps.erase = true;
    heard.events.clear();
    EXPECT_EQ(RunAutoSequence(rig.ctx, steps, {}, image, id, &heard).last_status, 0x00);
  }
}

}  // namespace
}  // namespace velmora::testing
