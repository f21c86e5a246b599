// Auto, in each profile, under every fault the virtual chip can inject, at every transfer: a failed
// transfer, three in a row, an unplug, a part stuck busy, a bridge that never reports ready, a
// bit flipped in one read-back or in all of them, and a click on "Stop". A run may fail, but it
// must never report success while the flash differs from the image, the range is not erased, the
// part is unprotected or still in ISP mode; and no run may hang.
//
// The plain suite samples every kSampleStride-th transfer; with CI=true in the environment every
// transfer is tried. Each configuration prints its table of outcomes per fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "auto_sequence.h"
#include "chip_under_test.h"

namespace velmora::testing {
namespace {

constexpr std::uint32_t kSampleStride = 11;
constexpr std::uint32_t kImageLength = 1000;
// Bounds of one run: past them the run counts as hung and the chip is pulled to end it.
constexpr std::uint32_t kTransferBudget = 200000;
constexpr std::uint64_t kVirtualTimeBudgetUs = 3600ull * 1000 * 1000;
constexpr auto kWallBudget = std::chrono::seconds(60);  // then the whole binary aborts

enum class Fault {
  kFailedTransfer,
  kThreeFailedTransfers,
  kUnplug,
  kStuckBusy,
  kNeverReady,
  kFlipOnce,
  kFlipAlways,
  kStop
};
constexpr Fault kFaults[] = {Fault::kFailedTransfer, Fault::kThreeFailedTransfers,
                             Fault::kUnplug,         Fault::kStuckBusy,
                             Fault::kNeverReady,     Fault::kFlipOnce,
                             Fault::kFlipAlways,     Fault::kStop};

const char* NameOf(Fault fault) {
  switch (fault) {
    case Fault::kFailedTransfer:
      return "failed transfer";
    case Fault::kThreeFailedTransfers:
      return "3 failed transfers";
    case Fault::kUnplug:
      return "unplug";
    case Fault::kStuckBusy:
      return "stuck busy";
    case Fault::kNeverReady:
      return "never ready";
    case Fault::kFlipOnce:
      return "bit flip once";
    case Fault::kFlipAlways:
      return "bit flip always";
    case Fault::kStop:
      return "Stop";
  }
  return "?";
}

struct Config {
  const char* name;
  std::array<std::uint8_t, 3> id;
  FlashRange range;
  std::uint8_t ready_answer = 0x01;  // what 0x83 answers for "finished": any nonzero byte
  AutoProfile profile = AutoProfile::Design;
};

void PrintTo(const Config& config, std::ostream* out) {
  *out << config.name;
}

// The label texts that end a run, shortened to their kind.
std::string OutcomeOf(const std::string& last_text, bool step_failed) {
  if (!step_failed) return last_text == "Verifying Success" ? "success" : "SUCCESS? " + last_text;
  static const char* const kKinds[] = {"Erase Flash Fail",
                                       "Clear Status register Fail",
                                       "Blanking Fail at 0x",
                                       "Programming Fail at 0x",
                                       "Verifying Fail at 0x",
                                       "Flash Protect Fail",
                                       "Exit ISP Mode Fail",
                                       "Stopped by user",
                                       "Range beyond flash address",
                                       "Comparing Fail at 0x",
                                       "Flash is busy"};
  for (const char* kind : kKinds) {
    if (last_text.starts_with(kind)) return kind;
  }
  return "other: " + last_text;
}

// A front end that keeps the last process text and can be told to stop.
class QuietProgress final : public FlashProgress {
 public:
  void ProcessText(const std::string& text) override { last = text; }
  void AddressText(const std::string&) override {}
  void StatusText(const std::string&) override {}
  void Pump() override {}
  bool StopRequested() const override { return stop; }
  std::string last;
  bool stop = false;
};

// Aborts the binary when one run takes longer than kWallBudget of real time: a hang that the
// transfer and clock budgets cannot catch (a loop that sends nothing and never pauses).
class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void RunStarts(std::string what) {
    std::lock_guard lock(mutex_);
    what_ = std::move(what);
    started_ = std::chrono::steady_clock::now();
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return done_; })) {
      if (!what_.empty() && std::chrono::steady_clock::now() - started_ > kWallBudget) {
        std::fprintf(stderr, "HANG: %s ran longer than %lld s\n", what_.c_str(),
                     static_cast<long long>(kWallBudget.count()));
        std::abort();
      }
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string what_;
  std::chrono::steady_clock::time_point started_;
  bool done_ = false;
  std::thread thread_;
};

// One chip, link and front end per run, without a transcript so that runs stay fast.
struct Bench {
  explicit Bench(const Config& config) : chip(clock, FlashFor(config)) {
    chip.PlugInto(platform);
    chip.SetReadyAnswer(config.ready_answer);
    usb.SetMatchText("vid_6ccf&pid_6012");
    usb.FindDevice();
    // A board programmed and protected before: old bytes everywhere, every protect bit set.
    chip.Flash().SetStatus(chip.Flash().WritableStatusBits());
  }
  static sim::FlashConfig FlashFor(const Config& config) {
    sim::FlashConfig flash = TestFlash(config.id);
    flash.times = sim::FlashPartFor(config.id).times;
    flash.times->chip_erase_us = 100000;  // keeps a chip erase at ten polls
    return flash;
  }

  sim::VirtualClock clock;
  sim::VirtualUsbPlatform platform;
  sim::VirtualChip chip;
  VelmoraUsb usb{platform};
  ChipLink link{usb, clock};
  QuietProgress progress;
  FlashContext ctx{link, progress};
};

void Arm(Fault fault, Bench& bench) {
  using Flip = sim::VirtualChip::Flip;
  switch (fault) {
    case Fault::kFailedTransfer:
      return bench.chip.FailNextTransfers(1);
    case Fault::kThreeFailedTransfers:
      return bench.chip.FailNextTransfers(3);
    case Fault::kUnplug:
      return bench.chip.UnplugAfterTransfers(0);
    case Fault::kStuckBusy:
      return bench.chip.SetFlashStuckBusy(true);
    case Fault::kNeverReady:
      return bench.chip.SetNeverReady(true);
    case Fault::kFlipOnce:
      return bench.chip.FlipReadBits(0x01, Flip::Once, 0);  // the busy bit of a status read
    case Fault::kFlipAlways:
      return bench.chip.FlipReadBits(0x01, Flip::Always, 0);
    case Fault::kStop:
      bench.progress.stop = true;
      return;
  }
}

struct RunResult {
  std::string outcome;
  std::vector<std::string> lies;  // what a run that reported success got wrong
  std::uint32_t transfers = 0;
};

// The flash [from, from + count) compared with `expected`.
bool Holds(Bench& bench, std::uint32_t from, const std::vector<std::uint8_t>& expected) {
  return bench.chip.Flash().ReadRange(from, static_cast<std::uint32_t>(expected.size())) ==
         expected;
}

RunResult RunOnce(const Config& config, const ProgramImage& image, Fault fault,
                  std::optional<std::uint32_t> at) {
  Bench bench(config);
  bool hung = false;
  bench.chip.SetTransferHook([&](std::uint32_t index) {
    if (at && index == *at) Arm(fault, bench);
    if (!hung && (index > kTransferBudget || bench.clock.NowUs() > kVirtualTimeBudgetUs)) {
      hung = true;  // pull the chip and ask for a stop so that the run comes to an end
      bench.progress.stop = true;
      bench.chip.Unplug();
    }
  });
  ChipIdBytes id{};
  const AutoOutcome outcome =
      RunAutoSequence(bench.ctx, AutoSteps{}, config.range, image, id, nullptr, config.profile);
  bench.chip.SetTransferHook(nullptr);

  RunResult result;
  result.transfers = bench.chip.TransfersAnswered() + bench.chip.TransfersRefused();
  result.outcome = hung ? "HUNG" : OutcomeOf(bench.progress.last, outcome.step_failed);
  if (hung) result.lies.push_back("the run did not end within its bounds");
  if (bench.platform.OpenHandleCount() != 0) result.lies.push_back("a handle was left open");
  // Nothing outside the range (the image's sectors, when only changed sectors are rewritten)
  // may change, whatever the outcome.
  const std::uint32_t size = bench.chip.Flash().Size();
  const std::uint32_t base = config.range.ImageBase();
  const bool changed_only = config.profile == AutoProfile::ChangedOnly;
  std::uint32_t erase_end = config.range.choice == RangeChoice::All
                                ? size
                                : config.range.range_start + config.range.range_size;
  if (changed_only) erase_end = static_cast<std::uint32_t>(SectorEnd(base + image.length));
  if (config.range.choice == RangeChoice::AssignRange || changed_only) {
    if (!Holds(bench, 0, std::vector<std::uint8_t>(base, 0xCC)) ||
        !Holds(bench, erase_end, std::vector<std::uint8_t>(size - erase_end, 0xCC))) {
      result.lies.push_back("flash outside the range changed");
    }
  }
  if (outcome.step_failed) return result;

  // Success was reported: the device must agree.
  if (!Holds(bench, base, ImageBytes(image, 0, image.length))) {
    result.lies.push_back("the flash differs from the image");
  }
  const std::uint32_t after_image = base + image.length;
  if (!Holds(bench, after_image, std::vector<std::uint8_t>(erase_end - after_image, 0xFF))) {
    result.lies.push_back("the range is not erased");
  }
  const std::uint8_t writable = bench.chip.Flash().WritableStatusBits();
  if ((bench.chip.Flash().Status() & writable) != writable) {
    result.lies.push_back("the part is unprotected");
  }
  if (bench.chip.InIspMode()) result.lies.push_back("the chip is still in ISP mode");
  return result;
}

bool FullMatrix() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

class AutoFaultMatrix : public ::testing::TestWithParam<Config> {};

TEST_P(AutoFaultMatrix, NoRunReportsSuccessThatTheDeviceDoesNotBearOut) {
  const Config& config = GetParam();
  const ProgramImage image = RandomImage(kImageLength, 9);

  // The fault-free run sets the number of transfers to fault.
  const RunResult clean = RunOnce(config, image, Fault::kStop, std::nullopt);
  ASSERT_EQ(clean.outcome, "success");
  ASSERT_TRUE(clean.lies.empty()) << clean.lies.front();
  const std::uint32_t stride = FullMatrix() ? 1 : kSampleStride;

  Watchdog watchdog;
  std::map<std::string, std::map<std::string, int>> table;  // fault -> outcome -> runs
  std::map<std::string, int> outcomes_seen;
  std::map<std::string, int> wrong_runs;  // fault -> runs with a wrong result
  std::vector<std::string> wrong;
  int runs = 0;
  for (Fault fault : kFaults) {
    for (std::uint32_t at = 0; at < clean.transfers; at += stride) {
      const std::string what =
          std::string(config.name) + ", " + NameOf(fault) + " at transfer " + std::to_string(at);
      watchdog.RunStarts(what);
      RunResult run = RunOnce(config, image, fault, at);
      ++runs;
      ++table[NameOf(fault)][run.outcome];
      ++outcomes_seen[run.outcome];
      if (run.outcome.starts_with("SUCCESS?") || run.outcome.starts_with("other")) {
        run.lies.push_back("it ended with \"" + run.outcome + "\"");
      }
      if (!run.lies.empty()) ++wrong_runs[NameOf(fault)];
      for (const std::string& lie : run.lies) wrong.push_back(what + ": " + lie);
    }
  }

  // The table: one row per fault, one column per outcome that occurred, and the wrong runs.
  std::printf("\n%s: %u transfers in a clean run, %d faulted runs (every %u%s)\n", config.name,
              clean.transfers, runs, stride, stride == 1 ? ", CI" : "");
  std::printf("  %-20s", "fault");
  for (const auto& [outcome, count] : outcomes_seen) std::printf(" | %s", outcome.c_str());
  std::printf(" | WRONG\n");
  for (Fault fault : kFaults) {
    std::printf("  %-20s", NameOf(fault));
    for (const auto& [outcome, count] : outcomes_seen) {
      std::printf(" | %*d", static_cast<int>(outcome.size()), table[NameOf(fault)][outcome]);
    }
    std::printf(" | %5d\n", wrong_runs[NameOf(fault)]);
  }
  std::fflush(stdout);

  std::string first;
  for (std::size_t i = 0; i < std::min<std::size_t>(wrong.size(), 20); ++i) {
    first += "\n  " + wrong[i];
  }
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " wrong results in " << runs
                             << " runs; the first:" << first;
}

constexpr FlashRange kAssigned{RangeChoice::AssignRange, 0x2000, 0x2000};
constexpr std::array<std::uint8_t, 3> kSmallPages{0xC2, 0x22, 0x11};
using enum AutoProfile;

INSTANTIATE_TEST_SUITE_P(
    SmallImage, AutoFaultMatrix,
    ::testing::Values(
        Config{"All, 256-byte pages", {0xC2, 0x20, 0x13}, {}},
        Config{"All, 32-byte pages, finished reads 0x80", {0xC2, 0x22, 0x11}, {}, 0x80},
        Config{"Assign Range, 256-byte pages",
               {0xC2, 0x20, 0x13},
               {RangeChoice::AssignRange, 0x2000, 0x2000}},
        Config{"Assign Range, 32-byte pages, finished reads 0x80",
               {0xC2, 0x22, 0x11},
               {RangeChoice::AssignRange, 0x2000, 0x2000},
               0x80},
        Config{"All, fast", {0xC2, 0x20, 0x13}, {}, 1, Fast},
        Config{"Assign Range, 32-byte pages, fast", kSmallPages, kAssigned, 0x80, Fast},
        Config{"All, changed only", {0xC2, 0x20, 0x13}, {}, 1, ChangedOnly},
        Config{"Assign, 32-byte, changed only", kSmallPages, kAssigned, 0x80, ChangedOnly}),
    [](const ::testing::TestParamInfo<Config>& info) {
      std::string name = info.param.name;
      std::replace_if(
          name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
      return name;
    });

}  // namespace
}  // namespace velmora::testing
