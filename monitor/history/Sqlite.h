// A small owner of an SQLite connection and its prepared statements: both close on every
// path, and every failure raises ESqliteError with SQLite's own code, so that callers can
// tell a full disk from a damaged file.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace ombrix {

class ESqliteError : public std::runtime_error {
 public:
  ESqliteError(int code, const std::string& text) : std::runtime_error(text), code_(code) {}
  // The primary result code (SQLITE_FULL, SQLITE_CORRUPT, ...), extended codes folded.
  int Code() const { return code_ & 0xFF; }
  bool DiskFull() const;
  // The file is not a database, or one whose pages contradict each other.
  bool Damaged() const;

 private:
  int code_;
};

class TSqliteStatement {
 public:
  TSqliteStatement() = default;
  TSqliteStatement(sqlite3* db, std::string_view sql);

  // Parameters count from 1, as in the SQL text's "?" order.
  TSqliteStatement& Bind(int index, std::int64_t value);
  TSqliteStatement& Bind(int index, double value);
  TSqliteStatement& Bind(int index, std::string_view text);
  TSqliteStatement& BindNull(int index);
  // True while a row is there to read; false once the statement is done.
  bool Step();
  // Runs to the end, for statements that return no rows.
  void Run();
  // Ready to run again, the bindings cleared.
  void Reset();

  bool IsNull(int column) const;
  std::int64_t Int(int column) const;
  double Real(int column) const;
  std::string Text(int column) const;

 private:
  struct TFinalize {
    void operator()(sqlite3_stmt* s) const;
  };
  std::unique_ptr<sqlite3_stmt, TFinalize> stmt_;
  sqlite3* db_ = nullptr;
};

class TSqliteDatabase {
 public:
  enum class TAccess { ReadOnly, ReadWrite };
  // Raises ESqliteError when the file cannot be opened (ReadOnly does not create it).
  TSqliteDatabase(const std::string& path, TAccess access);

  void Exec(std::string_view sql);
  TSqliteStatement Prepare(std::string_view sql) const;
  // The single value of a query returning one row (none when it returns no row).
  std::optional<std::int64_t> QueryInt(std::string_view sql) const;
  std::int64_t LastInsertId() const;
  bool InTransaction() const;
  sqlite3* Handle() const { return db_.get(); }

 private:
  struct TClose {
    void operator()(sqlite3* db) const;
  };
  std::unique_ptr<sqlite3, TClose> db_;
};

// Raises ESqliteError for a result code that is not success, with the connection's message.
void CheckSqlite(sqlite3* db, int code, std::string_view what);

}  // namespace ombrix
