// Time per board of each Auto profile, as a real device would take it: velmora-isp runs
// in-process on the virtual chip with --virtual-latency-us 250 (a USB control transfer on real
// hardware costs about 250 µs), and a run's modelled time is the virtual clock at its end: the
// transfers' latency plus the tool's pauses. Each run starts from the same board: the image
// programmed before with one 4 KiB sector different (the middle one) and the part protected.
//
// For images of 4 KiB, 64 KiB and 256 KiB of random bytes it prints, for scripts to read:
//   board_time size=262144 profile=design transfers=32391 modelled_s=11.14
// for the profiles design, fast, changed-only and minimum, and then
//   board_time size=262144 ratio fast/minimum=1.07 changed-only/design=0.09
// Exit 1 when a run did not leave the image in the flash or, at 256 KiB, a goal is missed
// (fast/minimum at most 1.15, changed-only/design at most 0.2).
//
// `minimum` is not a run: it is counted from the image and the command set's rules, as the
// fewest transfers and pauses that do the same job as design and fast (enter ISP mode, read the
// identifier, clear the status register, erase the chip, program every page that is not all
// 0xFF, read every byte of the image back once, protect, leave ISP mode). The rules:
//   - Every request is one transfer. A flash command that answers (status, identifier, read)
//     is 0x81, one 0x83 that reports it finished, and 0x82: 3 transfers; one 0x82 fetches at
//     most 255 bytes, so reading L bytes back takes ceil(L / 255) of them.
//   - Write enable, write status and chip erase are one 0x80 each; a page program is two (the
//     command with its address, then the data): 3 transfers per page with its write enable.
//   - A write enable is taken only once the part has finished its last program, erase or
//     status write, and only a status read that finds the busy bit clear shows that: one status
//     read (3) per page, erase and status write. The part is busy for its cycle time (from the
//     part table) and ignores everything but status reads meanwhile, so those times are pauses
//     no transfer can shorten.
//   - ISP entry is 0x84 and three register writes (4), the exit 0x85 and two (3), the
//     identifier one answered command (3).
// So with P pages to program and times Tws (status write), Tce (chip erase), Tpp (page):
//   transfers = 4 + 3 + (2 + 3) + (2 + 3) + 6 P + 3 ceil(L / 255) + (2 + 3) + 3
//   pauses    = Tws + Tce + P Tpp + Tws
//   modelled  = transfers x 250 µs + pauses
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli_environment.h"
#include "flash_parts.h"
#include "isp_cli.h"
#include "virtual_chip.h"

namespace {

using namespace velmora;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kLatencyUs = 250;
constexpr std::uint32_t kPageSize = 256;  // the default virtual part, C2 20 13
constexpr std::uint32_t kSectorSize = 4096;
constexpr std::uint32_t kLongRead = 255;

struct Figures {
  std::uint64_t transfers = 0;
  double modelled_s = 0;
  bool ok = false;
};

// One velmora-isp run of `profile_flag` (nullptr for the design's) over `file` on a board that
// holds `board` and is protected.
Figures RunProfile(const std::string& file, const Bytes& image, const Bytes& board,
                   const char* profile_flag) {
  std::vector<std::string> args{
      "velmora-isp", "--virtual", "--virtual-latency-us", std::to_string(kLatencyUs), "auto", file};
  if (profile_flag != nullptr) args.push_back(profile_flag);
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());

  Figures figures;
  std::ostringstream out, err;
  std::atomic<bool> interrupted{false};
  auto set_board = [&](sim::VirtualChip& chip) {
    chip.Flash().WriteRange(0, board);
    chip.Flash().SetStatus(chip.Flash().WritableStatusBits());
  };
  auto take_figures = [&](sim::VirtualChip& chip) {
    figures.transfers = chip.TransfersAnswered() + chip.TransfersRefused();
    figures.modelled_s = static_cast<double>(chip.NowUs()) / 1e6;
    figures.ok = chip.Flash().ReadRange(0, static_cast<std::uint32_t>(image.size())) == image;
  };
  cli::CliEnvironment env{.out = out,
                          .err = err,
                          .out_is_terminal = false,
                          .interrupted = &interrupted,
                          .make_usb_platform = nullptr,  // --virtual: no USB bus
                          .sleeper = nullptr,
                          .virtual_pauses_real = false,  // pauses move the clock only
                          .virtual_chip_made = set_board,
                          .virtual_chip_done = take_figures,
                          .stop_signal = nullptr,
                          .out_reader_gone = {}};
  const int code = cli::RunIspCli(static_cast<int>(argv.size()), argv.data(), env);
  figures.ok = figures.ok && code == 0;
  if (!figures.ok) std::fprintf(stderr, "%s", (out.str() + err.str()).c_str());
  return figures;
}

// The fewest transfers and pauses for the job, by the rules at the top of this file.
Figures Minimum(const Bytes& image, const sim::FlashTimes& times) {
  std::uint64_t pages = 0;
  for (std::size_t a = 0; a < image.size(); a += kPageSize) {
    const auto page = image.begin() + static_cast<std::ptrdiff_t>(a);
    const auto page_end = image.begin() + static_cast<std::ptrdiff_t>(
                                              std::min<std::size_t>(a + kPageSize, image.size()));
    pages += !std::all_of(page, page_end, [](std::uint8_t b) { return b == 0xFF; });
  }
  const std::uint64_t reads = (image.size() + kLongRead - 1) / kLongRead;
  Figures m;
  m.transfers = 4 + 3 + (2 + 3) + (2 + 3) + 6 * pages + 3 * reads + (2 + 3) + 3;
  const std::uint64_t pause_us = times.write_status_us + times.chip_erase_us +
                                 pages * times.page_program_us + times.write_status_us;
  m.modelled_s = static_cast<double>(m.transfers * kLatencyUs + pause_us) / 1e6;
  m.ok = true;
  return m;
}

void PrintProfile(std::size_t size, const char* profile, const Figures& f) {
  std::printf("board_time size=%zu profile=%s transfers=%llu modelled_s=%.2f\n", size, profile,
              static_cast<unsigned long long>(f.transfers), f.modelled_s);
}

}  // namespace

int main() {
  char folder_template[] = "/tmp/board_time_bench.XXXXXX";
  const char* folder = mkdtemp(folder_template);
  if (folder == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const sim::FlashTimes times = sim::FlashPartFor(sim::FlashConfig{}.id).times;
  const std::uint32_t part_size = sim::FlashPartFor(sim::FlashConfig{}.id).size;
  bool all_ok = true;
  for (const std::size_t size : {std::size_t{4096}, std::size_t{65536}, std::size_t{262144}}) {
    std::mt19937 random(static_cast<std::uint32_t>(size));
    Bytes image(size);
    for (auto& b : image) b = static_cast<std::uint8_t>(random());
    const std::string file = std::string(folder) + "/image.bin";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(size));

    // The board: this image from an earlier run, but for the middle sector, erased after it.
    Bytes board(part_size, 0xFF);
    std::copy(image.begin(), image.end(), board.begin());
    const std::size_t changed = size / 2 / kSectorSize * kSectorSize;
    for (std::size_t i = changed; i < changed + kSectorSize; ++i) board[i] ^= 0x5A;

    const Figures design = RunProfile(file, image, board, nullptr);
    const Figures fast = RunProfile(file, image, board, "--fast");
    const Figures changed_only = RunProfile(file, image, board, "--changed-only");
    const Figures minimum = Minimum(image, times);
    PrintProfile(size, "design", design);
    PrintProfile(size, "fast", fast);
    PrintProfile(size, "changed-only", changed_only);
    PrintProfile(size, "minimum", minimum);
    const double fast_ratio = fast.modelled_s / minimum.modelled_s;
    const double changed_ratio = changed_only.modelled_s / design.modelled_s;
    std::printf("board_time size=%zu ratio fast/minimum=%.2f changed-only/design=%.2f\n", size,
                fast_ratio, changed_ratio);
    all_ok = all_ok && design.ok && fast.ok && changed_only.ok;
    if (size == 262144 && (fast_ratio > 1.15 || changed_ratio > 0.2)) {
      std::fprintf(stderr, "goal missed at %zu bytes\n", size);
      all_ok = false;
    }
    std::filesystem::remove(file);
  }
  std::filesystem::remove(folder);
  return all_ok ? 0 : 1;
}
