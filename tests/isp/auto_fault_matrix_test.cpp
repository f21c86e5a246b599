// Auto, in each profile, under every fault the virtual chip can inject, at every transfer: a failed
// transfer, three in a row, an unplug, a part stuck busy, a bridge that never reports ready, a
// bit flipped in one read-back or in all of them, and a click on "Stop". A run may fail, but it
// must never report success while the flash differs from the image, the range is not erased, the
// part is unprotected or still in ISP mode; and no run may hang.
//
// The plain suite samples every kSampleStride-th transfer; with CI=true in the environment every
// transfer is tried. Each configuration prints its outcomes per fault.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <regex>
#include <thread>

#include "chip_under_test.h"

namespace velmora::testing {
namespace {

constexpr std::uint32_t kSampleStride = 11;
// Bounds of one run: past them the run counts as hung and the chip is pulled to end it.
constexpr std::uint32_t kTransferBudget = 200000;
constexpr std::uint64_t kVirtualTimeBudgetUs = 3600ull * 1000 * 1000;
constexpr auto kWallBudget = std::chrono::seconds(60);  // then the whole binary aborts

// Each fault, armed on the chip (or the front end) when the chosen transfer comes.
const std::vector<std::pair<const char*, std::function<void(sim::VirtualChip&, bool& stop)>>>
    kFaults = {
        {"failed transfer", [](sim::VirtualChip& c, bool&) { c.FailNextTransfers(1); }},
        {"3 failed transfers", [](sim::VirtualChip& c, bool&) { c.FailNextTransfers(3); }},
        {"unplug", [](sim::VirtualChip& c, bool&) { c.UnplugAfterTransfers(0); }},
        {"stuck busy", [](sim::VirtualChip& c, bool&) { c.SetFlashStuckBusy(true); }},
        {"never ready", [](sim::VirtualChip& c, bool&) { c.SetNeverReady(true); }},
        // The busy bit of a status read, once or in every read.
        {"bit flip once", [](sim::VirtualChip& c, bool&) { c.FlipReadBits(1, Flip::Once, 0); }},
        {"bit flip always", [](sim::VirtualChip& c, bool&) { c.FlipReadBits(1, Flip::Always, 0); }},
        {"Stop", [](sim::VirtualChip&, bool& stop) { stop = true; }},
};

struct Config {
  const char* name;
  sim::FlashId id;
  FlashRange range;
  std::uint8_t ready_answer = 0x01;  // what 0x83 answers for "finished": any nonzero byte
  AutoProfile profile = AutoProfile::Design;
};
void PrintTo(const Config& config, std::ostream* out) {
  *out << config.name;
}

// The label text that ended a run, shortened to its kind; "SUCCESS?" or "other" is a wrong end.
std::string OutcomeOf(const std::string& last, bool step_failed) {
  if (!step_failed) return last == "Verifying Success" ? "success" : "SUCCESS? " + last;
  static const std::regex kSaysWhy("Fail|Stopped|beyond|busy");
  const std::string kind = last.substr(0, last.find("0x"));
  return std::regex_search(kind, kSaysWhy) ? kind : "other: " + last;
}

// A board programmed and protected before: old bytes everywhere, every protect bit set.
struct Bench : ChipRig {
  explicit Bench(const Config& config) : ChipRig(FlashFor(config.id)) {
    chip.SetReadyAnswer(config.ready_answer);
    chip.Flash().SetStatus(chip.Flash().WritableStatusBits());
  }
  static sim::FlashConfig FlashFor(const sim::FlashId& id) {
    sim::FlashConfig flash = TestFlash(id);
    flash.times = sim::FlashPartFor(id).times;
    flash.times->chip_erase_us = 100000;  // keeps a chip erase at ten polls
    return flash;
  }
  bool Holds(std::uint32_t from, const std::vector<std::uint8_t>& expected) {
    return chip.Flash().ReadRange(from, static_cast<std::uint32_t>(expected.size())) == expected;
  }
};

struct RunResult {
  std::string outcome;
  std::vector<std::string> lies;  // what the run got wrong
  std::uint32_t transfers = 0;
};

// One run with `fault` (when given) armed at transfer `at`.
RunResult RunOnce(const Config& config, const ProgramImage& image, int fault, std::uint32_t at) {
  Bench bench(config);
  bool hung = false;
  bench.chip.SetTransferHook([&](std::uint32_t index) {
    if (fault >= 0 && index == at) kFaults[fault].second(bench.chip, bench.progress.stop);
    if (!hung && (index > kTransferBudget || bench.clock.NowUs() > kVirtualTimeBudgetUs)) {
      hung = true;  // pull the chip and ask for a stop so that the run comes to an end
      bench.progress.stop = true;
      bench.chip.Unplug();
    }
  });
  const AutoOutcome outcome = bench.Auto(AutoSteps{}, image, config.range, config.profile);
  bench.chip.SetTransferHook(nullptr);

  RunResult result;
  result.transfers = bench.chip.TransfersAnswered() + bench.chip.TransfersRefused();
  result.outcome = hung ? "HUNG" : OutcomeOf(bench.progress.process.back(), outcome.step_failed);
  auto& lies = result.lies;
  if (hung) lies.push_back("the run did not end within its bounds");
  if (result.outcome.starts_with("SUCCESS?") || result.outcome.starts_with("other"))
    lies.push_back("it ended with \"" + result.outcome + "\"");
  if (bench.platform.OpenHandleCount() != 0) lies.push_back("a handle was left open");
  // Nothing outside the range (the image's sectors, when only changed sectors are rewritten)
  // may change, whatever the outcome.
  const std::uint32_t size = bench.chip.Flash().Size(), base = config.range.ImageBase();
  const bool changed_only = config.profile == AutoProfile::ChangedOnly;
  std::uint32_t erase_end = config.range.choice == RangeChoice::All
                                ? size
                                : config.range.range_start + config.range.range_size;
  if (changed_only) erase_end = static_cast<std::uint32_t>(SectorEnd(base + image.length));
  if ((config.range.choice == RangeChoice::AssignRange || changed_only) &&
      (!bench.Holds(0, std::vector<std::uint8_t>(base, 0xCC)) ||
       !bench.Holds(erase_end, std::vector<std::uint8_t>(size - erase_end, 0xCC))))
    lies.push_back("flash outside the range changed");
  if (outcome.step_failed) return result;

  // Success was reported: the device must agree.
  const std::uint32_t after_image = base + image.length;
  if (!bench.Holds(base, ImageBytes(image, 0, image.length)))
    lies.push_back("the flash differs from the image");
  if (!bench.Holds(after_image, std::vector<std::uint8_t>(erase_end - after_image, 0xFF)))
    lies.push_back("the range is not erased");
  if (!bench.Protected()) lies.push_back("the part is unprotected");
  if (bench.chip.InIspMode()) lies.push_back("the chip is still in ISP mode");
  return result;
}

class AutoFaultMatrix : public ::testing::TestWithParam<Config> {};

TEST_P(AutoFaultMatrix, NoRunReportsSuccessThatTheDeviceDoesNotBearOut) {
  const Config& config = GetParam();
  const ProgramImage image = RandomImage(1000, 9);
  // The fault-free run sets the number of transfers to fault.
  const RunResult clean = RunOnce(config, image, -1, 0);
  ASSERT_EQ(clean.outcome, "success");
  ASSERT_TRUE(clean.lies.empty()) << clean.lies.front();
  const char* ci = std::getenv("CI");
  const std::uint32_t stride = ci && std::string(ci) == "true" ? 1 : kSampleStride;

  // Aborts the binary when one run takes longer than kWallBudget of real time: a hang that the
  // transfer and clock budgets cannot catch (a loop that sends nothing and never pauses).
  std::atomic<int> runs = 0;
  std::atomic<bool> done = false;
  std::thread watchdog([&] {
    int seen = -1;
    auto since = std::chrono::steady_clock::now();
    for (; !done; std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
      if (runs != seen) seen = runs, since = std::chrono::steady_clock::now();
      if (std::chrono::steady_clock::now() - since < kWallBudget) continue;
      std::fprintf(stderr, "HANG: %s, run %d ran longer than a minute\n", config.name, seen);
      std::abort();
    }
  });
  std::vector<std::string> wrong;
  for (int fault = 0; fault < static_cast<int>(kFaults.size()); ++fault) {
    std::map<std::string, int> outcomes;
    for (std::uint32_t at = 0; at < clean.transfers; at += stride, ++runs) {
      const RunResult run = RunOnce(config, image, fault, at);
      ++outcomes[run.outcome];
      for (const std::string& lie : run.lies)
        wrong.push_back(std::string(kFaults[fault].first) + " at transfer " + std::to_string(at) +
                        ": " + lie);
    }
    std::printf("%s, %s (every %u of %u transfers):", config.name, kFaults[fault].first, stride,
                clean.transfers);
    for (const auto& [outcome, count] : outcomes) std::printf(" %s %d;", outcome.c_str(), count);
    std::printf("\n");
  }
  done = true;
  watchdog.join();
  wrong.resize(std::min<std::size_t>(wrong.size(), 20));
  EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
}

constexpr FlashRange kAssigned{RangeChoice::AssignRange, 0x2000, 0x2000};
constexpr sim::FlashId kLarge{0xC2, 0x20, 0x13}, kSmall{0xC2, 0x22, 0x11};
using enum AutoProfile;

INSTANTIATE_TEST_SUITE_P(
    SmallImage, AutoFaultMatrix,
    ::testing::Values(Config{"All_256_byte_pages", kLarge, {}},
                      Config{"All_32_byte_pages_finished_reads_0x80", kSmall, {}, 0x80},
                      Config{"Assign_Range_256_byte_pages", kLarge, kAssigned},
                      Config{"Assign_Range_32_byte_pages_finished_0x80", kSmall, kAssigned, 0x80},
                      Config{"All_fast", kLarge, {}, 1, Fast},
                      Config{"Assign_Range_32_byte_pages_fast", kSmall, kAssigned, 0x80, Fast},
                      Config{"All_changed_only", kLarge, {}, 1, ChangedOnly},
                      Config{"Assign_32_byte_changed_only", kSmall, kAssigned, 0x80, ChangedOnly}),
    [](const ::testing::TestParamInfo<Config>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::testing
