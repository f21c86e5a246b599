// The station's loop: waits for boards, gives each the next serial from the record, programs it
// on a thread of its own (one at a time, or with a gang every board present at once), records
// it and waits for it to be taken away. Only this loop's thread touches the record and the
// output; the board threads share nothing but the queue their results come back on.
#pragma once

#include <atomic>
#include <ostream>
#include <string>

#include "board_source.h"
#include "station_engine.h"
#include "station_record.h"

namespace velmora::station {

struct StationSettings {
  std::string bench = "bench";
  std::string serial_format = "VL%06d";
  unsigned boards = 0;  // stop after this many boards; 0: until stopped
  bool gang = false;
  std::string image_name;
  std::uint32_t image_length = 0;
  std::string tool_version;
};

struct StationTotals {
  unsigned passed = 0;
  unsigned failed = 0;
  unsigned interrupted_before = 0;  // rows of an earlier run found still running
  double seconds = 0;
  bool record_failed = false;  // the record refused a write: the station stopped taking boards

  double BoardsPerHour() const { return seconds > 0 ? (passed + failed) * 3600.0 / seconds : 0; }
};

struct StationIo {
  std::ostream& out;
  std::ostream& err;
  bool terminal = false;  // one status line that updates, else a plain line per board
  // Raised by Ctrl-C, SIGTERM or SIGHUP: no new board is started; the boards in progress finish.
  const std::atomic<bool>* stop = nullptr;
};

StationTotals RunStation(BoardSource& source, StationRecord& record, const StationJob& job,
                         const StationSettings& settings, StationIo& io);

// "Totals: 8 boards, 7 passed, 1 failed, 1234 boards per hour"
std::string TotalsText(const StationTotals& totals);

}  // namespace velmora::station
