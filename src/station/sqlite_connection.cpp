// The record on SQLite: one file, shared by the benches of one machine (its lock is the file's).
#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "sql_connection.h"

namespace velmora::station {
namespace {

// Other stations hold the write lock for one board's row at a time: milliseconds.
constexpr int kBusyTimeoutMs = 30000;

class SqliteConnection final : public SqlConnection {
 public:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}
  ~SqliteConnection() override { sqlite3_close(db_); }

  SqlDialect Dialect() const override { return SqlDialect::SQLite; }

  bool Run(const std::string& sql, const std::vector<SqlValue>& params,
           std::vector<SqlRow>* rows) override {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      return Failed(statement);
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
      const int at = static_cast<int>(i + 1);
      const int bound =
          params[i] ? sqlite3_bind_text(statement, at, params[i]->c_str(), -1, SQLITE_TRANSIENT)
                    : sqlite3_bind_null(statement, at);
      if (bound != SQLITE_OK) return Failed(statement);
    }
    for (;;) {
      const int step = sqlite3_step(statement);
      if (step == SQLITE_DONE) break;
      if (step != SQLITE_ROW) return Failed(statement);
      if (rows == nullptr) continue;
      SqlRow row;
      for (int c = 0; c < sqlite3_column_count(statement); ++c) {
        const unsigned char* text = sqlite3_column_text(statement, c);
        row.push_back(text == nullptr ? SqlValue() : SqlValue(reinterpret_cast<const char*>(text)));
      }
      rows->push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    return true;
  }

  bool BeginWrite() override { return Run("BEGIN IMMEDIATE", {}, nullptr); }
  std::string LastError() const override { return error_; }

 private:
  bool Failed(sqlite3_stmt* statement) {
    error_ = sqlite3_errmsg(db_);
    sqlite3_finalize(statement);
    return false;
  }

  sqlite3* db_;
  std::string error_;
};

}  // namespace

std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, std::string& error) {
  sqlite3* db = nullptr;
  const int opened =
      sqlite3_open_v2(path.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (opened != SQLITE_OK) {
    error = "Cannot open the record " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  auto connection = std::make_unique<SqliteConnection>(db);
  // WAL: readers (station report) never block the stations; FULL sync: a row committed is on
  // disk before the board is told passed. Switching a new file to WAL needs it to itself, and
  // SQLite answers "locked" at once, without its busy wait, while another station opening the
  // same record holds it: that is retried until the busy timeout.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  bool wal = connection->Run("PRAGMA journal_mode=WAL", {}, nullptr);
  while (!wal && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    wal = connection->Run("PRAGMA journal_mode=WAL", {}, nullptr);
  }
  if (!wal || !connection->Run("PRAGMA synchronous=FULL", {}, nullptr)) {
    error = "Cannot set up the record " + path + ": " + connection->LastError();
    return nullptr;
  }
  return connection;
}

std::unique_ptr<SqlConnection> OpenDatabase(const std::string& url, std::string& error) {
  if (url.starts_with("postgresql://") || url.starts_with("postgres://")) {
    return OpenPostgres(url, error);
  }
  return OpenSqlite(url.starts_with("sqlite:") ? url.substr(7) : url, error);
}

}  // namespace velmora::station
