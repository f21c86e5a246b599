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

}  // namespace
}  // namespace velmora::testing
