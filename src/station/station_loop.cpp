#include "station_loop.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace velmora::station {
namespace {

using Clock = std::chrono::steady_clock;

// How often the bus is looked at while nothing else happens.
constexpr auto kPollInterval = std::chrono::milliseconds(50);

struct Finished {
  std::string port_path;
  BoardResult result;
};

// The board threads hand their results back here; the loop takes them out.
class ResultQueue {
 public:
  void Push(Finished finished) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      queue_.push_back(std::move(finished));
    }
    ready_.notify_one();
  }
  std::deque<Finished> WaitAndTake(Clock::duration at_most) {
    std::unique_lock<std::mutex> hold(mutex_);
    ready_.wait_for(hold, at_most, [this] { return !queue_.empty(); });
    std::deque<Finished> taken;
    taken.swap(queue_);
    return taken;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Finished> queue_;
};

struct Running {
  BoardSlot slot;
  IssuedBoard issued;
  Clock::time_point began;
  std::thread thread;
};

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

}  // namespace

std::string TotalsText(const StationTotals& totals) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.0f", totals.BoardsPerHour());
  return "Totals: " + std::to_string(totals.passed + totals.failed) + " boards, " +
         std::to_string(totals.passed) + " passed, " + std::to_string(totals.failed) + " failed, " +
         rate + " boards per hour";
}

StationTotals RunStation(BoardSource& source, StationRecord& record, const StationJob& job,
                         const StationSettings& settings, StationIo& io) {
  StationTotals totals;
  std::string error;
  if (const auto interrupted = record.MarkInterrupted(settings.bench, error)) {
    totals.interrupted_before = static_cast<unsigned>(*interrupted);
    if (*interrupted > 0) {
      io.out << *interrupted << " board(s) of bench " << settings.bench
             << " were left unfinished by an earlier run: marked interrupted\n";
    }
  } else {
    io.err << error << '\n';
    totals.record_failed = true;
    return totals;
  }
  io.out << "Waiting for boards (bench " << settings.bench << ")\n" << std::flush;

  const Clock::time_point began = Clock::now();
  ResultQueue results;
  std::map<std::string, Running> running;  // by port path
  std::vector<BoardSlot> awaiting_removal;
  unsigned started = 0;
  std::string last;

  const auto show = [&](const std::string& line) {
    totals.seconds = std::chrono::duration<double>(Clock::now() - began).count();
    if (io.terminal) {
      char rate[32];
      std::snprintf(rate, sizeof rate, "%.0f", totals.BoardsPerHour());
      io.out << "\r\033[K"
             << "passed " << totals.passed << "  failed " << totals.failed << "  " << rate
             << " boards/h  last: " << last << std::flush;
    } else {
      io.out << line << '\n' << std::flush;
    }
  };

  for (;;) {
    const bool stopping = (io.stop != nullptr && io.stop->load()) || totals.record_failed;
    const bool enough = settings.boards != 0 && started >= settings.boards;
    if ((stopping || enough) && running.empty()) break;

    if (!stopping && !enough) {
      const std::vector<BoardSlot> present = source.Present();
      // A board taken away frees its port for the next one.
      std::erase_if(awaiting_removal, [&](const BoardSlot& slot) {
        return std::find(present.begin(), present.end(), slot) == present.end();
      });
      for (const BoardSlot& slot : present) {
        if (settings.boards != 0 && started >= settings.boards) break;
        if (!settings.gang && !running.empty()) break;
        if (running.contains(slot.port_path)) continue;
        if (std::find(awaiting_removal.begin(), awaiting_removal.end(), slot) !=
            awaiting_removal.end()) {
          continue;
        }
        const std::optional<IssuedBoard> issued =
            record.StartBoard({settings.bench, slot.port_path, settings.image_name,
                               settings.image_length, settings.tool_version},
                              settings.serial_format, error);
        if (!issued) {
          io.err << (io.terminal ? "\n" : "") << error << '\n';
          totals.record_failed = true;
          break;
        }
        ++started;
        Running& board = running[slot.port_path];
        board.slot = slot;
        board.issued = *issued;
        board.began = Clock::now();
        // The board's own thread: its link, its copy of the image, its result.
        board.thread = std::thread([&source, &job, &results, slot, serial = issued->serial] {
          Finished finished{slot.port_path, {}};
          std::string why;
          std::unique_ptr<BoardConnection> connection = source.Connect(slot, why);
          if (connection) {
            finished.result = ProgramBoard(connection->Link(), job, serial);
          } else {
            finished.result.failure = why;
          }
          results.Push(std::move(finished));
        });
      }
    }

    for (Finished& finished : results.WaitAndTake(kPollInterval)) {
      Running& board = running.at(finished.port_path);
      board.thread.join();
      const BoardResult& result = finished.result;
      if (!record.FinishBoard(board.issued.row, result, error)) {
        io.err << (io.terminal ? "\n" : "") << error << '\n';
        totals.record_failed = true;
      }
      ++(result.passed ? totals.passed : totals.failed);
      const double took = std::chrono::duration<double>(Clock::now() - board.began).count();
      last = board.issued.serial + " at " + board.slot.port_path + " " +
             (result.passed ? "passed" : "failed: " + result.failure);
      show(last + " (" + Seconds(took) + ")");
      awaiting_removal.push_back(board.slot);
      source.BoardDone(board.slot);
      running.erase(finished.port_path);
    }
  }
  totals.seconds = std::chrono::duration<double>(Clock::now() - began).count();
  if (io.terminal && totals.passed + totals.failed > 0) io.out << '\n';
  io.out << TotalsText(totals) << '\n' << std::flush;
  return totals;
}

}  // namespace velmora::station
