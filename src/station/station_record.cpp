#include "station_record.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace velmora::station {
namespace {

// Each entry brings the schema from version i to i + 1. Never edit one that has shipped: add
// another.
struct Migration {
  const char* sqlite;
  const char* postgres;  // nullptr: the same as sqlite
};

const std::vector<std::vector<Migration>>& Migrations() {
  static const std::vector<std::vector<Migration>> kMigrations = {
      // 1: the boards, their steps and the serial counters.
      {{"CREATE TABLE serial_counters (format TEXT PRIMARY KEY, next_number BIGINT NOT NULL)",
        nullptr},
       {"CREATE TABLE boards (id INTEGER PRIMARY KEY AUTOINCREMENT, serial TEXT NOT NULL UNIQUE, "
        "bench TEXT NOT NULL, device_path TEXT NOT NULL, jedec_id TEXT, image_name TEXT NOT "
        "NULL, image_length BIGINT NOT NULL, image_checksum TEXT, verdict TEXT NOT NULL, "
        "failure TEXT, started_utc TEXT NOT NULL, ended_utc TEXT, tool_version TEXT NOT NULL)",
        "CREATE TABLE boards (id BIGSERIAL PRIMARY KEY, serial TEXT NOT NULL UNIQUE, "
        "bench TEXT NOT NULL, device_path TEXT NOT NULL, jedec_id TEXT, image_name TEXT NOT "
        "NULL, image_length BIGINT NOT NULL, image_checksum TEXT, verdict TEXT NOT NULL, "
        "failure TEXT, started_utc TEXT NOT NULL, ended_utc TEXT, tool_version TEXT NOT NULL)"},
       {"CREATE TABLE board_steps (board_id BIGINT NOT NULL REFERENCES boards(id), position "
        "INTEGER NOT NULL, step TEXT NOT NULL, outcome TEXT NOT NULL, seconds DOUBLE PRECISION "
        "NOT NULL, PRIMARY KEY (board_id, position))",
        nullptr}},
      // 2: the report and the interrupted-board search go by bench and time.
      {{"CREATE INDEX boards_by_bench ON boards (bench, verdict, started_utc)", nullptr}},
  };
  return kMigrations;
}

}  // namespace

std::optional<std::string> SerialFormatRefusal(const std::string& format) {
  int conversions = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (i + 1 < format.size() && format[i + 1] == '%') {
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    if (j < format.size() && format[j] == '0') ++j;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9' && j - i < 4) ++j;
    if (j >= format.size() || format[j] != 'd') {
      return "--serial-format " + format + ": give text with one %d or %0Nd (VL%06d)";
    }
    ++conversions;
    i = j;
  }
  if (conversions != 1) return "--serial-format " + format + ": give exactly one %d (VL%06d)";
  if (FormatSerial(format, 999999999999LL).size() > 31) {
    return "--serial-format " + format + ": a serial must fit 31 characters";
  }
  return std::nullopt;
}

std::string FormatSerial(const std::string& format, std::int64_t number) {
  std::string serial;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      serial += format[i];
      continue;
    }
    if (format[i + 1] == '%') {
      serial += '%';
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    const bool zero = format[j] == '0';
    if (zero) ++j;
    std::size_t width = 0;
    while (format[j] >= '0' && format[j] <= '9') width = width * 10 + (format[j++] - '0');
    std::string digits = std::to_string(number);
    if (digits.size() < width) digits.insert(0, width - digits.size(), zero ? '0' : ' ');
    serial += digits;
    i = j;
  }
  return serial;
}

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms));
  return text;
}

std::unique_ptr<StationRecord> StationRecord::Open(std::unique_ptr<SqlConnection> db,
                                                   std::string& error) {
  std::unique_ptr<StationRecord> record(new StationRecord(std::move(db)));
  if (!record->Migrate(error)) return nullptr;
  return record;
}

int StationRecord::SchemaVersion() {
  std::vector<SqlRow> rows;
  if (!db_->Run("SELECT max(version) FROM schema_version", {}, &rows) || rows.empty() ||
      !rows[0][0]) {
    return 0;
  }
  return std::stoi(*rows[0][0]);
}

bool StationRecord::Migrate(std::string& error) {
  const bool postgres = db_->Dialect() == SqlDialect::PostgreSQL;
  const auto failed = [&](const std::string& what) {
    error = "The record's schema cannot be brought up to date (" + what + "): " + db_->LastError();
    db_->Rollback();
    return false;
  };
  for (;;) {
    if (!db_->BeginWrite()) return failed("begin");
    // Two stations starting at once: the second waits here, then finds the work done.
    if (postgres && !db_->Run("SELECT pg_advisory_xact_lock(230023)", {}, nullptr)) {
      return failed("lock");
    }
    if (!db_->Run("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", {})) {
      return failed("version table");
    }
    const int version = SchemaVersion();
    if (version > kRecordSchemaVersion) {
      db_->Rollback();
      error = "The record has schema version " + std::to_string(version) +
              ", newer than this tool's " + std::to_string(kRecordSchemaVersion) +
              ": use a newer velmora-isp";
      return false;
    }
    if (version == kRecordSchemaVersion) return db_->Commit() || failed("commit");
    for (const Migration& m : Migrations()[version]) {
      if (!db_->Run(postgres && m.postgres ? m.postgres : m.sqlite, {})) {
        return failed("version " + std::to_string(version + 1));
      }
    }
    if (!db_->Run("DELETE FROM schema_version", {}) ||
        !db_->Run("INSERT INTO schema_version (version) VALUES (?)",
                  {std::to_string(version + 1)}) ||
        !db_->Commit()) {
      return failed("version " + std::to_string(version + 1));
    }
  }
}

std::optional<int> StationRecord::MarkInterrupted(const std::string& bench, std::string& error) {
  std::vector<SqlRow> rows;
  if (!db_->Run("UPDATE boards SET verdict = 'interrupted', failure = 'Interrupted: the station "
                "ended before the board did' WHERE bench = ? AND verdict = 'running' RETURNING id",
                {bench}, &rows)) {
    error = "Cannot mark the interrupted boards: " + db_->LastError();
    return std::nullopt;
  }
  return static_cast<int>(rows.size());
}

std::optional<IssuedBoard> StationRecord::StartBoard(const BoardStart& start,
                                                     const std::string& format,
                                                     std::string& error) {
  const auto failed = [&]() -> std::optional<IssuedBoard> {
    error = "Cannot issue a serial: " + db_->LastError();
    db_->Rollback();
    return std::nullopt;
  };
  if (!db_->BeginWrite()) return failed();
  std::vector<SqlRow> rows;
  if (!db_->Run("INSERT INTO serial_counters (format, next_number) VALUES (?, 2) ON CONFLICT "
                "(format) DO UPDATE SET next_number = serial_counters.next_number + 1 "
                "RETURNING next_number - 1",
                {format}, &rows) ||
      rows.empty() || !rows[0][0]) {
    return failed();
  }
  IssuedBoard issued;
  issued.serial = FormatSerial(format, std::stoll(*rows[0][0]));
  rows.clear();
  if (!db_->Run("INSERT INTO boards (serial, bench, device_path, image_name, image_length, "
                "verdict, started_utc, tool_version) VALUES (?, ?, ?, ?, ?, 'running', ?, ?) "
                "RETURNING id",
                {issued.serial, start.bench, start.device_path, start.image_name,
                 std::to_string(start.image_length), UtcNow(), start.tool_version},
                &rows) ||
      rows.empty() || !rows[0][0] || !db_->Commit()) {
    return failed();
  }
  issued.row = std::stoll(*rows[0][0]);
  return issued;
}

bool StationRecord::FinishBoard(std::int64_t row, const BoardResult& result, std::string& error) {
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "%04X", result.image_checksum);
  const std::string id = std::to_string(row);
  bool ok = db_->BeginWrite() &&
            db_->Run(
                "UPDATE boards SET verdict = ?, failure = ?, jedec_id = ?, image_checksum = "
                "?, ended_utc = ? WHERE id = ?",
                {result.passed ? "passed" : "failed",
                 result.passed ? SqlValue() : SqlValue(result.failure),
                 result.jedec_id.empty() ? SqlValue() : SqlValue(result.jedec_id), checksum,
                 UtcNow(), id});
  for (std::size_t i = 0; ok && i < result.steps.size(); ++i) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", result.steps[i].seconds);
    ok = db_->Run(
        "INSERT INTO board_steps (board_id, position, step, outcome, seconds) VALUES "
        "(?, ?, ?, ?, ?)",
        {id, std::to_string(i), result.steps[i].step, result.steps[i].outcome, seconds});
  }
  if (ok && db_->Commit()) return true;
  error = "Cannot record the board " + id + ": " + db_->LastError();
  db_->Rollback();
  return false;
}

}  // namespace velmora::station
