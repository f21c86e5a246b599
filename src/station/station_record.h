// The station's record: a row per board (serial, bench, device path, JEDEC id, image name, length
// and checksum, each step's outcome and duration, verdict, start and end in UTC, tool version)
// and the serial counters, in SQLite or PostgreSQL under a versioned schema that is brought up
// to date when the record is opened.
//
// A serial is issued in the same transaction that inserts its board's row (verdict "running"),
// so it can never be lost or issued twice, also by two stations sharing one database; the row
// is finished with the board's verdict. A station that dies mid-board (crash, SIGKILL) leaves
// its rows "running": the next start of that bench marks them "interrupted". Their serials
// stay used.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sql_connection.h"
#include "station_engine.h"

namespace velmora::station {

// The schema version this build brings a record up to.
inline constexpr int kRecordSchemaVersion = 2;

struct BoardStart {
  std::string bench;
  std::string device_path;
  std::string image_name;
  std::uint32_t image_length = 0;
  std::string tool_version;
};

struct IssuedBoard {
  std::int64_t row = 0;
  std::string serial;
};

// Checks a serial format: text with exactly one %d, optionally with a zero-padded width
// ("VL%06d"); "%%" is a literal '%'. Nothing when fine, else words.
std::optional<std::string> SerialFormatRefusal(const std::string& format);
// The serial for `number` under a checked format.
std::string FormatSerial(const std::string& format, std::int64_t number);

// "2026-12-08T11:30:00.123Z": now, in UTC.
std::string UtcNow();

class StationRecord {
 public:
  // Brings the schema up to date (each migration in a transaction of its own, under a lock that
  // keeps a second station starting at the same time out). Nullptr with `error` in words, also
  // when the record was made by a newer version of the tool.
  static std::unique_ptr<StationRecord> Open(std::unique_ptr<SqlConnection> db, std::string& error);

  int SchemaVersion();
  // Marks `bench`'s rows still "running" as "interrupted"; how many, or nothing on an error.
  std::optional<int> MarkInterrupted(const std::string& bench, std::string& error);
  // Issues the next serial of `format` and inserts the board's row; nothing on an error.
  std::optional<IssuedBoard> StartBoard(const BoardStart& start, const std::string& format,
                                        std::string& error);
  // The board's verdict, failure text, JEDEC id, checksum, steps and end time.
  bool FinishBoard(std::int64_t row, const BoardResult& result, std::string& error);

  SqlConnection& Db() { return *db_; }

 private:
  explicit StationRecord(std::unique_ptr<SqlConnection> db) : db_(std::move(db)) {}
  bool Migrate(std::string& error);

  std::unique_ptr<SqlConnection> db_;
};

}  // namespace velmora::station
