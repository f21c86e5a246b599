#include "sql_connection.h"

namespace velmora::station {

std::unique_ptr<SqlConnection> OpenPostgres(const std::string& url, std::string& error) {
  error = "Cannot open the record " + url + ": this build has no PostgreSQL client";
  return nullptr;
}

}  // namespace velmora::station
