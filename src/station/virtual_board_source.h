// The virtual bench: N virtual boards plugged in at once at ports 1-1 .. 1-N, so the station,
// its tests and a demo run without hardware. Without a script an operator takes each finished
// board away and plugs a fresh one into its port at once; with a script the script alone plugs
// and unplugs. A share of the boards (the fault rate) comes with a fault: every flash read
// answers one bit flipped, so its blank check or verify fails.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "board_source.h"

namespace velmora::station {

struct VirtualBenchOptions {
  unsigned boards = 1;
  double fault_rate = 0;         // 0..1
  std::uint32_t fault_seed = 1;  // the same seed picks the same faulty boards
  bool real_pauses = false;      // the tool's pauses also take real time (a demo, the benchmark)
};

// One line each, run in order from the start: "plug PORT", "unplug PORT", "wait MS"; "#" starts
// a comment. PORT is the port path ("1-3"). Nothing when every line reads; else the words of the
// first bad line.
std::optional<std::string> CheckBenchScript(const std::string& text);

class VirtualBoardSource final : public BoardSource {
 public:
  // The script (when given) must have passed CheckBenchScript; it starts running at once.
  explicit VirtualBoardSource(VirtualBenchOptions options, std::string script_text = {});
  ~VirtualBoardSource() override;  // stops the script

  std::vector<BoardSlot> Present() override;
  std::unique_ptr<BoardConnection> Connect(const BoardSlot& slot, std::string& error) override;
  void BoardDone(const BoardSlot& slot) override;

  // Boards made so far, and how many of them came with a fault.
  unsigned BoardsMade() const;
  unsigned FaultyBoardsMade() const;

  struct Board;  // one plugged board: its clock, chip, platform and link

 private:
  struct Port {
    std::string port_path;
    std::string identity;
    std::shared_ptr<Board> board;  // null while the port is empty
    std::uint64_t plug = 0;
  };
  void PlugFresh(Port& port);  // with mutex_ held
  void RunScript(std::string text);

  const VirtualBenchOptions options_;
  mutable std::mutex mutex_;
  std::vector<Port> ports_;
  std::mt19937 random_;
  unsigned made_ = 0, faulty_ = 0;
  std::atomic<bool> quit_{false};
  std::thread script_;
};

}  // namespace velmora::station
