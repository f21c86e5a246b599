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

TEST_F(AutoSequenceTest, EmptyImageReportsEverySuccessWithoutReadingOrProgramming) {
  const AutoOutcome outcome = Run(kAllTicked, ProgramImage{});
  EXPECT_FALSE(outcome.step_failed);
  EXPECT_EQ(Labels(progress.process), kFullRunLabels);
  EXPECT_TRUE(Requests(0x81, 0x03).empty());
  EXPECT_TRUE(Requests(0x80, 0x02).empty());
}

TEST_F(AutoSequenceTest, PageSizeFollowsTheIdentifier) {
  struct Case {
    std::array<std::uint8_t, 3> id;
    bool id_read_fails;
    std::uint16_t page;
    bool flash_matches;  // a 32-byte-page part written in 256-byte pages would not
  } cases[] = {
      {{0xC2, 0x22, 0x10}, false, 32, true},
      {{0xC2, 0x20, 0x13}, false, 256, true},
      {{0xEF, 0x22, 0x13}, false, 256, false},
      {{0xC2, 0x20, 0x13}, true, 256, true},
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
    EXPECT_EQ(rig.chip.Flash().ReadRange(0, 1000) == ImageBytes(image, 0, 1000), c.flash_matches);
    EXPECT_EQ(outcome.step_failed, !c.flash_matches);
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
      {"flash stuck busy during programming",
       [](ChipRig& r) {
         r.progress.on_address_text = [&r](const std::string& text) {
           if (text == "0x000400") r.chip.SetFlashStuckBusy(true);
         };
       },
       "Start Programming", false},
      {"unplugged during programming",
       [](ChipRig& r) {
         r.progress.on_address_text = [&r](const std::string& text) {
           if (text == "0x000400") r.chip.UnplugAfterTransfers(0);
         };
       },
       "Start Programming", false},
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

TEST_F(AutoSequenceTest, RangePastTheAddressSpaceIsRefusedBeforeTheDeviceIsTouched) {
  const AutoOutcome outcome =
      Run(kAllTicked, RandomImage(8192), {RangeChoice::AssignRange, 0xFFF000, 0x1000});
  EXPECT_TRUE(outcome.step_failed);
  EXPECT_EQ(progress.process, std::vector<std::string>{"Range beyond flash address 0xFFFFFF"});
  EXPECT_TRUE(transcript.Events().empty());
}

}  // namespace
}  // namespace velmora::testing
