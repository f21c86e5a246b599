// The flash engine's progress on a console. On a terminal each pass over the flash gets one
// updating line: the step's text, a bar, bytes, rate and elapsed time (the erase: its dots, the
// status register and the time). Anything else gets plain lines, one per new step text and one
// with the totals at the end of each pass, so a log stays readable. Ctrl-C asks the running job
// to stop at its next chunk, page or poll.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "flash_progress.h"

namespace velmora::cli {

class ConsoleProgress final : public FlashProgress {
 public:
  // `interrupted` (may be null) is the Ctrl-C flag; `stop_notice` is what is said when it is
  // first seen.
  ConsoleProgress(std::ostream& out, bool terminal, const std::atomic<bool>* interrupted,
                  std::string stop_notice);
  ConsoleProgress(const ConsoleProgress&) = delete;
  ConsoleProgress& operator=(const ConsoleProgress&) = delete;

  // A pass over the flash bytes [start, end), counted by its bar; start == end for a pass that
  // shows only its time (a chip erase).
  void BeginPass(std::uint32_t start, std::uint32_t end);
  // Ends the pass (`ok`: all its bytes are done) and returns how long it took, in seconds.
  double EndPass(bool ok);
  // Ends an updating line, so that what is printed next starts a line of its own.
  void FinishLine();

  // The last process text: what the window's process label would show now.
  const std::string& LastText() const { return last_text_; }

  void ProcessText(const std::string& text) override;
  void AddressText(const std::string&) override {}
  void StatusText(const std::string& text) override;
  void Reached(std::uint32_t address) override;
  void Pump() override;
  bool StopRequested() const override;

 private:
  using Clock = std::chrono::steady_clock;

  // Says once, on a line of its own, that Ctrl-C was seen.
  void NoticeStop();
  void Draw(bool force);
  std::string Totals(double seconds) const;

  std::ostream& out_;
  const bool terminal_;
  const std::atomic<bool>* interrupted_;
  const std::string stop_notice_;
  bool stop_noticed_ = false;

  std::string last_text_;
  std::string shown_;  // the last text as shown: the erase's creeping dots folded
  std::string status_;
  bool line_open_ = false;  // a terminal line that is still being updated
  std::size_t line_width_ = 0;
  Clock::time_point last_draw_{};

  bool in_pass_ = false;
  std::uint32_t pass_start_ = 0;
  std::uint32_t pass_bytes_ = 0;
  std::uint32_t done_ = 0;
  Clock::time_point pass_began_{};
};

}  // namespace velmora::cli
