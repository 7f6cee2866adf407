#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "store/database.h"

namespace ravdel {
namespace {

class SqliteStatement final : public Statement {
 public:
  SqliteStatement(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}
  ~SqliteStatement() override { sqlite3_finalize(statement_); }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  void bind(int index, std::int64_t value) override {
    check(sqlite3_bind_int64(statement_, index, value));
  }
  void bind(int index, double value) override {
    check(sqlite3_bind_double(statement_, index, value));
  }
  void bind(int index, std::string_view text) override {
    check(sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8));
  }
  void bindBlob(int index, std::span<const std::uint8_t> bytes) override {
    // A zero-length blob is still a blob, not NULL.
    static constexpr std::uint8_t kNothing = 0;
    check(sqlite3_bind_blob64(statement_, index, bytes.empty() ? &kNothing : bytes.data(),
                              bytes.size(), SQLITE_TRANSIENT));
  }
  void bindNull(int index) override { check(sqlite3_bind_null(statement_, index)); }

  bool step() override {
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db_));
  }
  void reset() override {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }

  bool isNull(int column) const override {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
  }
  std::int64_t integer(int column) const override {
    return sqlite3_column_int64(statement_, column);
  }
  double real(int column) const override { return sqlite3_column_double(statement_, column); }
  std::string text(int column) const override {
    const auto* bytes = sqlite3_column_text(statement_, column);
    const int size = sqlite3_column_bytes(statement_, column);
    return bytes == nullptr
               ? std::string()
               : std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
  }
  std::vector<std::uint8_t> blob(int column) const override {
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement_, column));
    const int size = sqlite3_column_bytes(statement_, column);
    return bytes == nullptr ? std::vector<std::uint8_t>()
                            : std::vector<std::uint8_t>(bytes, bytes + size);
  }

 private:
  void check(int result) const {
    if (result != SQLITE_OK) throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db_));
  }

  sqlite3* db_;
  sqlite3_stmt* statement_;
};

class SqliteDatabase final : public Database {
 public:
  explicit SqliteDatabase(sqlite3* db) : db_(db) {}
  ~SqliteDatabase() override { sqlite3_close_v2(db_); }
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  Engine engine() const override { return Engine::sqlite; }

  void execute(std::string_view sql) override {
    char* message = nullptr;
    const std::string text(sql);
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      std::string error = std::string("SQLite: ") + (message != nullptr ? message : "failed");
      sqlite3_free(message);
      throw StoreError(error);
    }
  }

  std::unique_ptr<Statement> prepare(std::string_view sql) override {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) !=
        SQLITE_OK) {
      throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db_));
    }
    return std::make_unique<SqliteStatement>(db_, statement);
  }

  void beginWrite() override { execute("BEGIN IMMEDIATE"); }
  void lockSchema() override {}  // BEGIN IMMEDIATE already holds the one writer's lock

  // Pages in use: freed pages stay in the file for reuse, and do not count.
  std::int64_t sizeBytes() override {
    const auto pages = prepare("PRAGMA page_count");
    const auto free = prepare("PRAGMA freelist_count");
    const auto size = prepare("PRAGMA page_size");
    if (!pages->step() || !free->step() || !size->step()) return 0;
    return (pages->integer(0) - free->integer(0)) * size->integer(0);
  }

 private:
  sqlite3* db_;
};

constexpr int kBusyTimeoutMs = 10000;

// Switching a new file to the write-ahead log takes the file for a moment, and a connection
// opening it at that moment may be told that it is locked without its busy handler being asked
// (so under Wine, with six programs opening one new store): the switch is tried again within
// the busy timeout.
void useWriteAheadLog(sqlite3* db) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  while (sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) == SQLITE_BUSY &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace

std::unique_ptr<Database> openSqlite(const std::string& path) {
  sqlite3* db = nullptr;
  const int opened =
      sqlite3_open_v2(path.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (opened != SQLITE_OK) {
    const std::string why = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(opened);
    sqlite3_close_v2(db);
    throw StoreError("cannot open the store " + path + ": " + why);
  }
  auto database = std::make_unique<SqliteDatabase>(db);
  // Another connection (the sender's thread, another program) may hold the write lock for a
  // moment: wait for it rather than fail.
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  useWriteAheadLog(db);
  database->execute("PRAGMA journal_mode=WAL");  // says why, if it still cannot
  database->execute("PRAGMA synchronous=NORMAL");
  return database;
}

}  // namespace ravdel
