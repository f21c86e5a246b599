// What the record says, for `velmora-isp station report`: totals per bench and day and the
// failures by text, or every row as CSV.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "sql_connection.h"

namespace velmora::station {

// Rows started on or after `since` ("2026-12-08", or any prefix of the stored UTC time; "" for
// all). False with `error` in words when the record cannot be read.
bool PrintReport(SqlConnection& db, const std::string& since, bool csv, std::ostream& out,
                 std::string& error);

// One CSV field: quoted when it holds a comma, a quote or a line break (quotes doubled).
std::string CsvField(const std::string& text);

}  // namespace velmora::station
