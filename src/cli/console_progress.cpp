#include "console_progress.h"

#include <algorithm>
#include <cstdio>

#include "flash_texts.h"

namespace velmora::cli {
namespace {

constexpr int kBarWidth = 24;
constexpr std::size_t kLabelWidth = 24;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// The erase repeats its text on every poll with creeping dots, and the sector erase names each
// sector: both are one step to show.
std::string Folded(const std::string& text) {
  if (text.starts_with(texts::kEraseAll)) return "Flash Erase All";
  if (text.starts_with(texts::kSectorErase)) return texts::kSectorErase;
  return text;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

std::string Rate(std::uint32_t bytes, double seconds) {
  const double kib = seconds > 0 ? bytes / 1024.0 / seconds : 0.0;
  char text[32];
  if (kib >= 1024) {
    std::snprintf(text, sizeof text, "%.1f MiB/s", kib / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f KiB/s", kib);
  }
  return text;
}

}  // namespace

ConsoleProgress::ConsoleProgress(std::ostream& out, bool terminal,
                                 const std::atomic<bool>* interrupted, std::string stop_notice)
    : out_(out),
      terminal_(terminal),
      interrupted_(interrupted),
      stop_notice_(std::move(stop_notice)) {}

void ConsoleProgress::BeginPass(std::uint32_t start, std::uint32_t end) {
  in_pass_ = true;
  pass_start_ = start;
  pass_bytes_ = end - start;
  done_ = 0;
  status_.clear();
  pass_began_ = Clock::now();
  Draw(false);
}

double ConsoleProgress::EndPass(bool ok) {
  const double seconds = std::chrono::duration<double>(Clock::now() - pass_began_).count();
  if (ok) done_ = pass_bytes_;
  if (terminal_) {
    Draw(true);
  } else {
    out_ << "  " << Totals(seconds) << '\n' << std::flush;
  }
  in_pass_ = false;
  return seconds;
}

void ConsoleProgress::FinishLine() {
  if (!line_open_) return;
  out_ << '\n' << std::flush;
  line_open_ = false;
  line_width_ = 0;
}

void ConsoleProgress::ProcessText(const std::string& text) {
  NoticeStop();
  last_text_ = text;
  const std::string folded = Folded(text);
  if (folded == shown_) {
    Draw(false);  // the dots creep on the same line
    return;
  }
  shown_ = folded;
  if (terminal_) {
    FinishLine();
    line_open_ = true;
    Draw(true);
  } else {
    out_ << folded << '\n' << std::flush;
  }
}

void ConsoleProgress::StatusText(const std::string& text) {
  status_ = text;
  Draw(false);
}

void ConsoleProgress::Reached(std::uint32_t address) {
  if (!in_pass_) return;
  done_ = std::min(pass_bytes_, address - pass_start_);
  Draw(false);
}

void ConsoleProgress::Pump() {
  NoticeStop();
  Draw(false);
}

void ConsoleProgress::NoticeStop() {
  if (stop_noticed_ || !StopRequested()) return;
  stop_noticed_ = true;
  FinishLine();
  out_ << stop_notice_ << '\n' << std::flush;
  shown_.clear();  // the step's text is shown again on a line of its own
}

bool ConsoleProgress::StopRequested() const {
  return interrupted_ != nullptr && interrupted_->load();
}

std::string ConsoleProgress::Totals(double seconds) const {
  if (pass_bytes_ == 0) return Seconds(seconds);
  return std::to_string(done_) + " bytes in " + Seconds(seconds) + " (" + Rate(done_, seconds) +
         ")";
}

void ConsoleProgress::Draw(bool force) {
  if (!terminal_ || !line_open_) return;
  const Clock::time_point now = Clock::now();
  if (!force && now - last_draw_ < kRedrawEvery) return;
  last_draw_ = now;

  std::string line = last_text_;
  if (line.size() < kLabelWidth) line.resize(kLabelWidth, ' ');
  if (in_pass_) {
    const double seconds = std::chrono::duration<double>(now - pass_began_).count();
    if (pass_bytes_ > 0) {
      const int filled = static_cast<int>(std::uint64_t{done_} * kBarWidth / pass_bytes_);
      line += " [" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
      line += std::to_string(done_) + "/" + std::to_string(pass_bytes_) + " bytes  ";
      line += Rate(done_, seconds) + "  " + Seconds(seconds);
    } else {
      line += " " + Seconds(seconds);
      if (!status_.empty()) line += "  " + status_;
    }
  }
  // Spaces over whatever the previous, longer line left on the screen.
  const std::size_t width = line.size();
  if (width < line_width_) line.append(line_width_ - width, ' ');
  line_width_ = width;
  out_ << '\r' << line << std::flush;
}

}  // namespace velmora::cli
