// Runs the full "Auto" sequence on a 256 KiB image of random bytes against the virtual chip
// (zero device latency, virtual clock: pauses are counted, not slept) and prints the control
// transfers sent, the fewest the protocol allows for that image, the mandated pauses and the
// wall time the tool itself took.
//
// The fewest transfers, from the request counts of each step. A status read is 0x81, one 0x83
// that answers ready and 0x82: 3 transfers; so is every 64-byte chunk read. Tws and Tce are the
// part's status-write and chip-erase times in ms, C = length / 64, P = pages not all 0xFF.
//   ISP enter:    0x84 and 3 register writes: 4.
//   Identifier:   0x81, 0x83, 0x82: 3.
//   Status clear: one status read, write enable, write status (5), then status reads 10 ms
//                 apart from 0 ms until idle, ceil(Tws / 10) + 1 of them: 5 + 3 * that.
//   Chip erase:   a status read that finds the part idle (3), write enable and erase (2), then
//                 status reads 10 ms apart from 10 ms until idle, ceil((Tce - 10) / 10) + 1 of
//                 them: 5 + 3 * that.
//   Blank check:  3 * C.
//   Programming:  per page a status read that finds the part idle (the previous page had its
//                 1 ms), write enable, header, data, one ready poll after 1 ms: 7 * P.
//   Verify:       3 * C.
//   Protect:      write enable, write status, status reads as for the clear: 2 + 3 * that.
//   ISP exit:     0x85 and 2 register writes: 3.
// The mandated pauses: 10 ms after the erase command and after every busy erase or status
// poll, and 1 ms before each page's ready poll.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <vector>

#include "auto_sequence.h"
#include "velmora_usb.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

namespace {

using namespace velmora;

// Counts every transfer by bRequest on its way to the chip.
class CountingDevice final : public sim::VirtualDevice {
 public:
  explicit CountingDevice(sim::VirtualChip& chip) : chip_(chip) {}
  bool HandleControl(Backend backend, const ControlSetup& setup, std::uint8_t* data,
                     std::uint32_t length) override {
    ++by_request[setup.request];
    return chip_.HandleControl(backend, setup, data, length);
  }
  std::uint64_t Total() const {
    std::uint64_t total = 0;
    for (const auto& [request, count] : by_request) total += count;
    return total;
  }
  std::map<std::uint8_t, std::uint64_t> by_request;

 private:
  sim::VirtualChip& chip_;
};

// A front end that only counts.
class QuietProgress final : public FlashProgress {
 public:
  void ProcessText(const std::string& text) override { last = text; }
  void AddressText(const std::string&) override {}
  void StatusText(const std::string&) override {}
  void Pump() override { ++pumps; }
  std::string last;
  std::uint64_t pumps = 0;
};

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) {
  return (a + b - 1) / b;
}

// Status reads 10 ms apart, the first at `first_ms` after the cycle started, until one finds the
// cycle of `busy_ms` over.
std::uint64_t PollsUntilIdle(std::uint64_t busy_ms, std::uint64_t first_ms) {
  return busy_ms <= first_ms ? 1 : CeilDiv(busy_ms - first_ms, 10) + 1;
}

struct Minimum {
  std::uint64_t transfers = 0;
  std::uint64_t pause_ms = 0;
};

Minimum ProtocolMinimum(const ProgramImage& image, const sim::FlashTimes& times) {
  const std::uint64_t tws = times.write_status_us / 1000, tce = times.chip_erase_us / 1000;
  const std::uint64_t chunks = CeilDiv(image.length, 64);
  std::uint64_t pages = 0;
  for (std::uint32_t a = 0; a < image.length; a += 256) {
    const auto page = image.bytes.begin() + a;
    pages += !std::all_of(page, page + 256, [](std::uint8_t b) { return b == 0xFF; });
  }
  const std::uint64_t status_polls = PollsUntilIdle(tws, 0);
  const std::uint64_t erase_polls = PollsUntilIdle(tce, 10);
  Minimum m;
  m.transfers = 4 + 3 + (5 + 3 * status_polls) + (5 + 3 * erase_polls) + 3 * chunks + 7 * pages +
                3 * chunks + (2 + 3 * status_polls) + 3;
  m.pause_ms =
      10 * (status_polls - 1) + 10 + 10 * (erase_polls - 1) + pages + 10 * (status_polls - 1);
  return m;
}

struct RunFigures {
  std::uint64_t transfers = 0;
  std::map<std::uint8_t, std::uint64_t> by_request;
  std::uint64_t pause_ms = 0;
  double wall_ms = 0;
  bool ok = false;
  std::string last_text;
};

RunFigures RunOnce(const ProgramImage& image, const sim::FlashTimes& times) {
  sim::VirtualClock clock;
  sim::VirtualUsbPlatform platform;
  sim::FlashConfig config;
  config.times = times;
  sim::VirtualChip chip(clock, config);
  CountingDevice counter(chip);
  platform.Plug(sim::kAudioPath, &counter);
  VelmoraUsb usb(platform);
  usb.SetMatchText("vid_6ccf&pid_6012");
  usb.FindDevice();
  ChipLink link{usb, clock};
  QuietProgress progress;
  FlashContext ctx{link, progress};
  ChipIdBytes id{};

  const auto started = std::chrono::steady_clock::now();
  const AutoOutcome outcome = RunAutoSequence(ctx, AutoSteps{}, FlashRange{}, image, id);
  const auto ended = std::chrono::steady_clock::now();

  RunFigures figures;
  figures.transfers = counter.Total();
  figures.by_request = counter.by_request;
  figures.pause_ms = clock.NowUs() / 1000;  // zero latency: the clock moved only by pauses
  figures.wall_ms = std::chrono::duration<double, std::milli>(ended - started).count();
  figures.ok =
      !outcome.step_failed && chip.Flash().ReadRange(0, image.length) ==
                                  std::vector<std::uint8_t>(image.bytes.begin(), image.bytes.end());
  figures.last_text = progress.last;
  return figures;
}

}  // namespace

int main() {
  ProgramImage image;
  std::mt19937 random(2024);
  for (auto& b : image.bytes) b = static_cast<std::uint8_t>(random());
  image.length = kProgramImageSize;
  // The default part's typical times, from the virtual chip's part table.
  const sim::FlashTimes times = sim::FlashPartFor(sim::FlashConfig{}.id).times;

  const Minimum minimum = ProtocolMinimum(image, times);
  std::vector<RunFigures> runs;
  for (int i = 0; i < 5; ++i) runs.push_back(RunOnce(image, times));
  std::sort(runs.begin(), runs.end(),
            [](const RunFigures& a, const RunFigures& b) { return a.wall_ms < b.wall_ms; });
  const RunFigures& median = runs[runs.size() / 2];

  std::printf("Auto sequence, 256 KiB random image, virtual chip, zero latency (%zu runs)\n",
              runs.size());
  std::printf("  result:                 %s (\"%s\")\n",
              median.ok ? "flash equals image" : "FAILED", median.last_text.c_str());
  std::printf("  control transfers sent: %llu\n",
              static_cast<unsigned long long>(median.transfers));
  for (const auto& [request, count] : median.by_request) {
    std::printf("      0x%02X: %llu\n", request, static_cast<unsigned long long>(count));
  }
  std::printf("  protocol minimum:       %llu\n",
              static_cast<unsigned long long>(minimum.transfers));
  std::printf("  mandated pauses:        %llu ms (minimum %llu ms)\n",
              static_cast<unsigned long long>(median.pause_ms),
              static_cast<unsigned long long>(minimum.pause_ms));
  std::printf("  wall time (median):     %.1f ms (fastest %.1f, slowest %.1f)\n", median.wall_ms,
              runs.front().wall_ms, runs.back().wall_ms);
  std::printf("  wall time / pauses:     %.2f %%\n", 100.0 * median.wall_ms / median.pause_ms);
  const bool on_target = median.ok && median.transfers == minimum.transfers &&
                         median.wall_ms < 0.05 * static_cast<double>(median.pause_ms);
  std::printf("  goal (transfers at minimum, wall < 5%% of pauses): %s\n",
              on_target ? "met" : "NOT met");
  return median.ok ? 0 : 1;
}
