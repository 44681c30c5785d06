#include "monitor/history/Sqlite.h"

#include <sqlite3.h>

#include <climits>

namespace ombrix {

bool ESqliteError::DiskFull() const {
  return Code() == SQLITE_FULL;
}

bool ESqliteError::Damaged() const {
  return Code() == SQLITE_CORRUPT || Code() == SQLITE_NOTADB;
}

void CheckSqlite(sqlite3* db, int code, std::string_view what) {
  if (code == SQLITE_OK || code == SQLITE_ROW || code == SQLITE_DONE) return;
  const char* message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  throw ESqliteError(code, std::string(what) + ": " + message);
}

void TSqliteDatabase::TClose::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

TSqliteDatabase::TSqliteDatabase(const std::string& path, TAccess access) {
  const int flags = access == TAccess::ReadOnly ? SQLITE_OPEN_READONLY
                                                : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  sqlite3* db = nullptr;
  const int code = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  db_.reset(db);  // closed even when the open failed
  CheckSqlite(db, code, path);
  sqlite3_extended_result_codes(db, 1);
  // A reader meeting the writer's checkpoint waits a moment rather than failing at once.
  sqlite3_busy_timeout(db, 2000);
}

void TSqliteDatabase::Exec(std::string_view sql) {
  const std::string text(sql);
  CheckSqlite(db_.get(), sqlite3_exec(db_.get(), text.c_str(), nullptr, nullptr, nullptr), text);
}

TSqliteStatement TSqliteDatabase::Prepare(std::string_view sql) const {
  return TSqliteStatement(db_.get(), sql);
}

std::optional<std::int64_t> TSqliteDatabase::QueryInt(std::string_view sql) const {
  TSqliteStatement query = Prepare(sql);
  if (!query.Step() || query.IsNull(0)) return std::nullopt;
  return query.Int(0);
}

std::int64_t TSqliteDatabase::LastInsertId() const {
  return sqlite3_last_insert_rowid(db_.get());
}

bool TSqliteDatabase::InTransaction() const {
  return sqlite3_get_autocommit(db_.get()) == 0;
}

void TSqliteStatement::TFinalize::operator()(sqlite3_stmt* s) const {
  sqlite3_finalize(s);
}

TSqliteStatement::TSqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
  sqlite3_stmt* stmt = nullptr;
  const int code = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  stmt_.reset(stmt);
  CheckSqlite(db, code, sql);
}

TSqliteStatement& TSqliteStatement::Bind(int index, std::int64_t value) {
  CheckSqlite(db_, sqlite3_bind_int64(stmt_.get(), index, value), "bind");
  return *this;
}

TSqliteStatement& TSqliteStatement::Bind(int index, double value) {
  CheckSqlite(db_, sqlite3_bind_double(stmt_.get(), index, value), "bind");
  return *this;
}

TSqliteStatement& TSqliteStatement::Bind(int index, std::string_view text) {
  if (text.size() > INT_MAX) throw ESqliteError(SQLITE_TOOBIG, "bind: text too long");
  CheckSqlite(db_,
              sqlite3_bind_text(stmt_.get(), index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT),
              "bind");
  return *this;
}

TSqliteStatement& TSqliteStatement::BindNull(int index) {
  CheckSqlite(db_, sqlite3_bind_null(stmt_.get(), index), "bind");
  return *this;
}

bool TSqliteStatement::Step() {
  const int code = sqlite3_step(stmt_.get());
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  const ESqliteError error(code, sqlite3_errmsg(db_));
  sqlite3_reset(stmt_.get());  // ready for another run
  throw error;
}

void TSqliteStatement::Run() {
  while (Step()) {
  }
  Reset();
}

void TSqliteStatement::Reset() {
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

bool TSqliteStatement::IsNull(int column) const {
  return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL;
}

std::int64_t TSqliteStatement::Int(int column) const {
  return sqlite3_column_int64(stmt_.get(), column);
}

double TSqliteStatement::Real(int column) const {
  return sqlite3_column_double(stmt_.get(), column);
}

std::string TSqliteStatement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_.get(), column);
  const int bytes = sqlite3_column_bytes(stmt_.get(), column);
  if (text == nullptr || bytes <= 0) return {};
  return {reinterpret_cast<const char*>(text), static_cast<std::size_t>(bytes)};
}

}  // namespace ombrix
