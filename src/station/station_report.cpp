#include "station_report.h"

#include <cstdio>
#include <map>
#include <vector>

namespace velmora::station {
namespace {

constexpr const char* kColumns[] = {"id",          "serial",     "bench",        "device_path",
                                    "jedec_id",    "image_name", "image_length", "image_checksum",
                                    "verdict",     "failure",    "started_utc",  "ended_utc",
                                    "tool_version"};

bool PrintCsv(SqlConnection& db, const std::string& since, std::ostream& out, std::string& error) {
  std::vector<SqlRow> boards, steps;
  if (!db.Run("SELECT id, serial, bench, device_path, jedec_id, image_name, image_length, "
              "image_checksum, verdict, failure, started_utc, ended_utc, tool_version FROM boards "
              "WHERE started_utc >= ? ORDER BY id",
              {since}, &boards) ||
      !db.Run("SELECT s.board_id, s.step, s.outcome, s.seconds FROM board_steps s JOIN boards b "
              "ON b.id = s.board_id WHERE b.started_utc >= ? ORDER BY s.board_id, s.position",
              {since}, &steps)) {
    error = "Cannot read the record: " + db.LastError();
    return false;
  }
  // Each step as "name:outcome:seconds", space-separated, in the run's order.
  std::map<std::string, std::string> steps_of;
  for (const SqlRow& step : steps) {
    std::string& list = steps_of[step[0].value_or("")];
    if (!list.empty()) list += ' ';
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", std::stod(step[3].value_or("0")));
    list += step[1].value_or("") + ":" + step[2].value_or("") + ":" + seconds;
  }
  for (const char* column : kColumns) out << column << ',';
  out << "steps\n";
  for (const SqlRow& row : boards) {
    for (const SqlValue& value : row) out << CsvField(value.value_or("")) << ',';
    out << CsvField(steps_of[row[0].value_or("")]) << '\n';
  }
  return true;
}

}  // namespace

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

bool PrintReport(SqlConnection& db, const std::string& since, bool csv, std::ostream& out,
                 std::string& error) {
  if (csv) return PrintCsv(db, since, out, error);
  std::vector<SqlRow> days, failures;
  if (!db.Run("SELECT bench, substr(started_utc, 1, 10) AS day, count(*), "
              "sum(CASE WHEN verdict = 'passed' THEN 1 ELSE 0 END), "
              "sum(CASE WHEN verdict = 'failed' THEN 1 ELSE 0 END), "
              "sum(CASE WHEN verdict = 'interrupted' THEN 1 ELSE 0 END) FROM boards "
              "WHERE started_utc >= ? GROUP BY bench, day ORDER BY bench, day",
              {since}, &days) ||
      !db.Run("SELECT failure, count(*) FROM boards WHERE started_utc >= ? AND verdict IN "
              "('failed', 'interrupted') GROUP BY failure ORDER BY count(*) DESC, failure",
              {since}, &failures)) {
    error = "Cannot read the record: " + db.LastError();
    return false;
  }
  out << "Boards per bench and day (bench, day, boards, passed, failed, interrupted):\n";
  for (const SqlRow& row : days) {
    out << " ";
    for (const SqlValue& value : row) out << ' ' << value.value_or("");
    out << '\n';
  }
  out << "Failures by text (boards, text):\n";
  for (const SqlRow& row : failures) {
    out << "  " << row[1].value_or("") << ' ' << row[0].value_or("") << '\n';
  }
  return true;
}

}  // namespace velmora::station
