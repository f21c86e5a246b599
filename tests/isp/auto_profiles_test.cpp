// The faster profiles of the Auto run, judged at the device: what the flash holds, how many
// status reads a page cost, how long the reads were, which sectors were erased.
#include <gtest/gtest.h>

#include "auto_sequence.h"
#include "chip_under_test.h"
#include "flash_texts.h"

namespace velmora::testing {
namespace {

// Transfers between two process texts of a run.
struct PhaseCounter {
  PhaseCounter(ChipRig& rig, const char* from, const char* to) {
    rig.progress.on_process_text = [&rig, this, from, to](const std::string& text) {
      if (text == from) begin = rig.transcript.Transfers().size();
      if (text == to) end = rig.transcript.Transfers().size();
    };
  }
  std::size_t begin = 0, end = 0;
};

TEST(AutoFastProfile, EachPageCostsOneStatusReadAtItsTypicalTimeAndEveryReadIsLong) {
  const struct {
    sim::FlashId id;
    std::uint64_t page_us;
    int reads_per_page;  // status reads after each page: one unless it outlasts the 1 ms pause
  } cases[] = {
      {{0xC2, 0x20, 0x13}, 1000, 1},
      {{0xC2, 0x20, 0x13}, 800, 1},
      {{0xC2, 0x22, 0x11}, 1000, 1},
      {{0xC2, 0x20, 0x13}, 2500, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page_us);
    ChipRig rig(TestFlash(c.id));
    rig.chip.Flash().SetTimes({.page_program_us = c.page_us, .chip_erase_us = 100000});
    const ProgramImage image = RandomImage(3000);
    const std::uint32_t pages = (3000 + PageSizeFor(c.id) - 1) / PageSizeFor(c.id);
    PhaseCounter program(rig, texts::kStartProgramAuto, texts::kProgramSuccess);
    ChipIdBytes id{};
    const AutoOutcome outcome =
        RunAutoSequence(rig.ctx, AutoSteps{}, {}, image, id, nullptr, AutoProfile::Fast);

    ASSERT_FALSE(outcome.step_failed) << rig.progress.process.back();
    EXPECT_EQ(rig.chip.Flash().ReadRange(0, 3000), ImageBytes(image, 0, 3000));
    EXPECT_EQ(rig.chip.Flash().PagePrograms(), pages);
    int status_reads = 0;
    const auto& transfers = rig.transcript.Transfers();
    for (std::size_t i = program.begin; i < program.end; ++i) {
      const auto& e = transfers[i];
      status_reads += e.setup.request == 0x81 && e.data.at(0) == opcode::kReadStatus;
    }
    EXPECT_EQ(status_reads, static_cast<int>(pages) * c.reads_per_page + 1);  // + before the first
    // Every 0x83 answers a read command: none is spent after a page.
    EXPECT_EQ(rig.Requests(0x83).size(), rig.Requests(0x81).size());
    for (const auto& read : rig.Requests(0x81, opcode::kRead)) EXPECT_EQ(read.setup.value, 255);
    EXPECT_EQ(
        std::count(rig.progress.process.begin(), rig.progress.process.end(), texts::kStartBlank),
        0);
  }
}

TEST(AutoChangedOnlyProfile, OnlySectorsThatDifferAreErasedAndAllElseIsLeftAsItWas) {
  constexpr std::uint32_t kLength = 10000;  // sectors 0x0000-0x2FFF, the last one's tail past it
  const struct {
    const char* what;
    std::uint32_t base;                // under AssignRange (64 KiB erase size), else 0 under All
    std::vector<std::uint32_t> dirty;  // offsets from the base whose byte the board has wrong
    std::vector<std::uint32_t> erased;
  } cases[] = {
      {"nothing differs", 0, {}, {}},
      {"a byte read in a chunk that starts in the sector before", 0, {0x1005}, {0x1000}},
      {"two sectors", 0, {0x0000, 0x2000}, {0x0000, 0x2000}},
      {"the last sector's tail past the image", 0, {0x2F00}, {0x2000}},
      {"under AssignRange", 0x10000, {0x0FFF, 0x1000}, {0x10000, 0x11000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ChipRig rig;
    const ProgramImage image = RandomImage(kLength);
    // The board as an earlier run left it, protected, then a few wrong bytes.
    std::vector<std::uint8_t> board = rig.chip.Flash().ReadRange(0, rig.chip.Flash().Size());
    std::copy_n(image.bytes.begin(), 0x3000, board.begin() + c.base);
    for (std::uint32_t offset : c.dirty) board[c.base + offset] ^= 0x21;
    rig.chip.Flash().WriteRange(0, board);
    rig.chip.Flash().SetStatus(rig.chip.Flash().WritableStatusBits());
    const FlashRange range =
        c.base == 0 ? FlashRange{} : FlashRange{RangeChoice::AssignRange, c.base, 0x10000};
    ChipIdBytes id{};
    const AutoOutcome outcome =
        RunAutoSequence(rig.ctx, AutoSteps{}, range, image, id, nullptr, AutoProfile::ChangedOnly);

    ASSERT_FALSE(outcome.step_failed) << rig.progress.process.back();
    std::vector<std::uint32_t> erased;
    for (const auto& e : rig.Requests(0x80, opcode::kSectorErase)) erased.push_back(AddressOf(e));
    EXPECT_EQ(erased, c.erased);
    EXPECT_EQ(outcome.sectors_changed, c.erased);
    EXPECT_EQ(outcome.sectors_compared, 3u);
    // Every byte the image's sectors do not cover is as it was, and those sectors hold the image
    // with 0xFF after it.
    std::copy_n(image.bytes.begin(), 0x3000, board.begin() + c.base);
    EXPECT_TRUE(rig.chip.Flash().ReadRange(0, rig.chip.Flash().Size()) == board);
    EXPECT_EQ(rig.chip.Flash().ChipErases(), 0u);
    EXPECT_EQ((rig.chip.Flash().Status() & 0x1C), 0x1C);
    EXPECT_FALSE(rig.chip.InIspMode());
  }
}

TEST(AutoChangedOnlyProfile, IsRefusedUnlessEraseProgramAndVerifyAllRun) {
  for (bool AutoSteps::*off : {&AutoSteps::erase, &AutoSteps::program, &AutoSteps::verify}) {
    ChipRig rig;
    AutoSteps steps;
    steps.*off = false;
    ChipIdBytes id{};
    const AutoOutcome outcome = RunAutoSequence(rig.ctx, steps, {}, RandomImage(100), id, nullptr,
                                                AutoProfile::ChangedOnly);
    EXPECT_TRUE(outcome.step_failed);
    EXPECT_EQ(rig.progress.process.back(), texts::kChangedOnlySteps);
    EXPECT_TRUE(rig.transcript.Transfers().empty());
  }
}

}  // namespace
}  // namespace velmora::testing
