// The little SQL the station's record needs, over SQLite or PostgreSQL: statements with `?`
// parameters (all passed and returned as text, NULL as nullopt), and a write transaction that
// keeps other programs on the same database out until it ends.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::station {

using SqlValue = std::optional<std::string>;
using SqlRow = std::vector<SqlValue>;

enum class SqlDialect { SQLite, PostgreSQL };

class SqlConnection {
 public:
  virtual ~SqlConnection() = default;
  virtual SqlDialect Dialect() const = 0;
  // Runs one statement; its rows (none for a statement that returns none). False with
  // LastError() in words when it fails.
  virtual bool Run(const std::string& sql, const std::vector<SqlValue>& params,
                   std::vector<SqlRow>* rows = nullptr) = 0;
  // Starts a transaction that writes: SQLite takes the database's write lock at once (BEGIN
  // IMMEDIATE, waiting up to the busy timeout); PostgreSQL begins and row locks do the rest.
  virtual bool BeginWrite() = 0;
  bool Commit() { return Run("COMMIT", {}); }
  void Rollback() { Run("ROLLBACK", {}); }
  virtual std::string LastError() const = 0;
};

// Opens the record's database: "sqlite:PATH" (made when missing), a bare path, or
// "postgresql://..." / "postgres://..." (libpq's URI). Nullptr with `error` in words.
std::unique_ptr<SqlConnection> OpenDatabase(const std::string& url, std::string& error);

std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, std::string& error);
// Nullptr with words when this build has no PostgreSQL client.
std::unique_ptr<SqlConnection> OpenPostgres(const std::string& url, std::string& error);

}  // namespace velmora::station
