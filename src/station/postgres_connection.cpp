// The record on PostgreSQL through libpq: one database shared by the benches of a factory.
#include <libpq-fe.h>

#include "sql_connection.h"

namespace velmora::station {
namespace {

// libpq numbers its parameters: the record's "?" become $1, $2, ... (the record's statements
// hold no "?" inside quotes).
std::string Numbered(const std::string& sql) {
  std::string out;
  int n = 0;
  for (char c : sql) {
    if (c == '?') {
      out += "$" + std::to_string(++n);
    } else {
      out += c;
    }
  }
  return out;
}

// Trailing line breaks off libpq's messages.
std::string Words(const char* message) {
  std::string words = message != nullptr ? message : "";
  while (!words.empty() && (words.back() == '\n' || words.back() == ' ')) words.pop_back();
  return words;
}

class PostgresConnection final : public SqlConnection {
 public:
  explicit PostgresConnection(PGconn* db) : db_(db) {}
  ~PostgresConnection() override { PQfinish(db_); }

  SqlDialect Dialect() const override { return SqlDialect::PostgreSQL; }

  bool Run(const std::string& sql, const std::vector<SqlValue>& params,
           std::vector<SqlRow>* rows) override {
    std::vector<const char*> values;
    for (const SqlValue& p : params) values.push_back(p ? p->c_str() : nullptr);
    PGresult* result = PQexecParams(db_, Numbered(sql).c_str(), static_cast<int>(values.size()),
                                    nullptr, values.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      error_ = Words(PQresultErrorMessage(result));
      if (error_.empty()) error_ = Words(PQerrorMessage(db_));
      PQclear(result);
      return false;
    }
    if (rows != nullptr) {
      for (int r = 0; r < PQntuples(result); ++r) {
        SqlRow row;
        for (int c = 0; c < PQnfields(result); ++c) {
          row.push_back(PQgetisnull(result, r, c) ? SqlValue()
                                                  : SqlValue(PQgetvalue(result, r, c)));
        }
        rows->push_back(std::move(row));
      }
    }
    PQclear(result);
    return true;
  }

  bool BeginWrite() override { return Run("BEGIN", {}, nullptr); }
  std::string LastError() const override { return error_; }

 private:
  PGconn* db_;
  std::string error_;
};

}  // namespace

std::unique_ptr<SqlConnection> OpenPostgres(const std::string& url, std::string& error) {
  PGconn* db = PQconnectdb(url.c_str());
  if (PQstatus(db) != CONNECTION_OK) {
    // The URL may carry a password: the words name the server's answer, not the URL.
    error = "Cannot open the PostgreSQL record: " + Words(PQerrorMessage(db));
    PQfinish(db);
    return nullptr;
  }
  // Notices (an index that already exists, ...) are not the station's words.
  PQsetNoticeProcessor(
      db, [](void*, const char*) {}, nullptr);
  return std::make_unique<PostgresConnection>(db);
}

}  // namespace velmora::station
