// What a command-line run checks before it writes, and how it explains a failed check: the part
// read in an ISP session that writes nothing, the pre-flight refusals, the first wrong bytes.
#include "preflight.h"

#include <gtest/gtest.h>

#include "chip_under_test.h"
#include "mismatch_report.h"

namespace velmora::testing {
namespace {

TEST(Preflight, ReadingThePartWritesNothingAndLeavesIspMode) {
  ChipRig rig;
  rig.chip.Flash().SetStatus(0x0C);
  const PartState state = ReadPartState(rig.link, /*isp_mode=*/true);
  EXPECT_TRUE(state.id_read);
  EXPECT_EQ(state.id, (ChipIdBytes{0xC2, 0x20, 0x13}));
  EXPECT_EQ(state.status, 0x0C);
  EXPECT_FALSE(rig.chip.InIspMode());
  EXPECT_EQ(rig.chip.Flash().StatusWrites(), 0u);
  EXPECT_EQ(rig.Requests(0x80).size(), 0u) << "no flash write command of any kind";
  EXPECT_EQ(rig.platform.OpenHandleCount(), 0u);

  // Outside ISP mode the flash does not answer: nothing is read, and the id stays zero.
  const PartState outside = ReadPartState(rig.link, /*isp_mode=*/false);
  EXPECT_FALSE(outside.id_read);
  EXPECT_EQ(outside.id, (ChipIdBytes{}));
  EXPECT_EQ(outside.status, std::nullopt);
}

TEST(Preflight, RefusesAPartThatDoesNotAnswerOrCannotHoldTheImage) {
  const ProgramImage image = RandomImage(0x10001);
  AutoSteps steps;
  const FlashRange all{};
  const FlashRange sectors{RangeChoice::AssignRange, 0x60000, 0x20000};
  const struct {
    ChipIdBytes id;
    FlashRange range;
    bool erase;
    std::optional<std::string> refusal;
  } cases[] = {
      {{0xFF, 0xFF, 0xFF}, all, true, "No flash answers: JEDEC id FF FF FF"},
      {{0x00, 0x00, 0x00}, all, true, "No flash answers: JEDEC id 00 00 00"},
      {{0xC2, 0x20, 0x10},
       all,
       true,
       "Range beyond flash address 0x00FFFF (C2 20 10 holds 64 KiB)"},
      {{0xC2, 0x20, 0x11}, all, true, std::nullopt},
      // The image at 0x60000 fits the 512 KiB part, and the erase range just does.
      {{0xC2, 0x20, 0x13}, sectors, true, std::nullopt},
      {{0xC2, 0x20, 0x13},
       {RangeChoice::AssignRange, 0x60000, 0x21000},
       true,
       "Range beyond flash address 0x07FFFF (C2 20 13 holds 512 KiB)"},
      // Without the erase only the image counts.
      {{0xC2, 0x20, 0x13}, {RangeChoice::AssignRange, 0x60000, 0x21000}, false, std::nullopt},
      {{0xC2, 0x20, 0x13},
       {RangeChoice::AssignRange, 0x70000, 0},
       false,
       "Range beyond flash address 0x07FFFF (C2 20 13 holds 512 KiB)"},
      // An unknown capacity code: only the 24-bit address space limits.
      {{0xEF, 0x40, 0x00}, all, true, std::nullopt},
  };
  for (const auto& c : cases) {
    steps.erase = c.erase;
    EXPECT_EQ(PreflightRefusal(c.id, steps, c.range, image), c.refusal) << ChipIdText(c.id);
  }
}

TEST(MismatchReport, ListsTheFirstWrongBytesAndWhichWayTheirBitsAreWrong) {
  ChipRig rig;
  rig.OpenInIspMode();
  rig.chip.Flash().Fill(0xF0);
  rig.chip.Flash().WriteRange(0x41, {0x0F});  // an unwritten-looking byte among the others
  const auto expected = [](std::uint32_t address) {
    return address == 0x41 ? std::uint8_t{0x0F} : std::uint8_t{0xF0};
  };
  EXPECT_TRUE(FindMismatches(rig.link, 0, 0x100, expected).first.empty());

  // From an unaligned start, up to the limit.
  const MismatchReport blank = FindMismatches(
      rig.link, 0x3E, 0x1000, [](std::uint32_t) { return std::uint8_t{0xFF}; }, 3);
  EXPECT_EQ(blank.first, (std::vector<ByteMismatch>{
                             {0x3E, 0xFF, 0xF0}, {0x3F, 0xFF, 0xF0}, {0x40, 0xFF, 0xF0}}));

  // Both directions over the byte at 0x41, which reads 0x0F where 0xF0 is expected.
  const MismatchReport both =
      FindMismatches(rig.link, 0x40, 0x80, [](std::uint32_t) { return std::uint8_t{0xF0}; });
  ASSERT_EQ(both.first.size(), 1u);
  EXPECT_EQ(both.zeros_where_ones, 0xF0);
  EXPECT_EQ(both.ones_where_zeros, 0x0F);

  // A chunk that cannot be read ends the search and says so.
  rig.chip.FailRequest(0x81);
  const MismatchReport unread = FindMismatches(rig.link, 0, 0x100, expected);
  EXPECT_FALSE(unread.complete);
  EXPECT_EQ(DescribeMismatches(unread).back(), "a chunk could not be read: the list ends there");
}

}  // namespace
}  // namespace velmora::testing
