// The faster profiles of the Auto run, judged at the device: what the flash holds, how many
// status reads a page cost, how long the reads were, which sectors were erased.
#include <gtest/gtest.h>

#include "auto_sequence.h"
#include "chip_under_test.h"

namespace velmora::testing {
namespace {

TEST(AutoFastProfile, EachPageCostsOneStatusReadAtItsTypicalTimeAndEveryReadIsLong) {
  const struct {
    sim::FlashId id;
    std::uint64_t page_us;
    std::size_t reads_per_page;  // status reads after a page: one unless it outlasts 1 ms
  } cases[] = {{{0xC2, 0x20, 0x13}, 1000, 1},
               {{0xC2, 0x20, 0x13}, 800, 1},
               {{0xC2, 0x22, 0x11}, 1000, 1},
               {{0xC2, 0x20, 0x13}, 2500, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page_us);
    ChipRig rig(TestFlash(c.id));
    rig.chip.Flash().Fill(0xFF);
    rig.chip.Flash().SetTimes({.page_program_us = c.page_us});
    const ProgramImage image = RandomImage(3000);
    ChipIdBytes id{};
    // Only programming and the verify, so that every status read belongs to a page.
    const AutoSteps steps{true, true, false, false, true, true, false};
    ASSERT_FALSE(
        RunAutoSequence(rig.ctx, steps, {}, image, id, nullptr, AutoProfile::Fast).step_failed);

    EXPECT_EQ(rig.chip.Flash().ReadRange(0, 3000), ImageBytes(image, 0, 3000));
    const std::size_t pages = rig.chip.Flash().PagePrograms();
    EXPECT_EQ(pages, (3000u + PageSizeFor(c.id) - 1) / PageSizeFor(c.id));
    // The idle check before the first step and one read before the first page; every 0x83
    // answers a read command, none follows a page.
    EXPECT_EQ(rig.Requests(0x81, opcode::kReadStatus).size(), pages * c.reads_per_page + 2);
    EXPECT_EQ(rig.Requests(0x83).size(), rig.Requests(0x81).size());
    for (const auto& read : rig.Requests(0x81, opcode::kRead)) EXPECT_EQ(read.setup.value, 255);
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
    // Outside the image's sectors every byte is as it was (no chip erase); in them the image.
    std::copy_n(image.bytes.begin(), 0x3000, board.begin() + c.base);
    EXPECT_TRUE(rig.chip.Flash().ReadRange(0, rig.chip.Flash().Size()) == board);
    EXPECT_EQ((rig.chip.Flash().Status() & 0x1C), 0x1C);
  }
}

}  // namespace
}  // namespace velmora::testing
