#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ravdel {

// A failure of the database: the engine's own message, with what was being done.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Engine { sqlite, postgresql };

// One prepared statement. Parameters are written $1, $2 ... in the SQL, in the order of their
// first appearance, for both engines; columns are counted from 0. Used on the thread of its
// database. Throws StoreError.
class Statement {
 public:
  virtual ~Statement() = default;
  virtual void bind(int index, std::int64_t value) = 0;
  virtual void bind(int index, double value) = 0;
  virtual void bind(int index, std::string_view text) = 0;
  virtual void bindBlob(int index, std::span<const std::uint8_t> bytes) = 0;
  virtual void bindNull(int index) = 0;
  void bind(int index, const std::optional<double>& value) {
    if (value) {
      bind(index, *value);
    } else {
      bindNull(index);
    }
  }
  // Runs the statement, or moves to its next row: true while a row is there to read.
  virtual bool step() = 0;
  // Ready to run again with new parameters.
  virtual void reset() = 0;

  virtual bool isNull(int column) const = 0;
  virtual std::int64_t integer(int column) const = 0;
  virtual double real(int column) const = 0;
  virtual std::string text(int column) const = 0;
  virtual std::vector<std::uint8_t> blob(int column) const = 0;
  std::optional<double> optionalReal(int column) const {
    return isNull(column) ? std::nullopt : std::optional<double>(real(column));
  }
};

// One connection to a database. One thread at a time; a second thread opens a connection of
// its own. Throws StoreError.
class Database {
 public:
  virtual ~Database() = default;
  virtual Engine engine() const = 0;
  virtual void execute(std::string_view sql) = 0;
  virtual std::unique_ptr<Statement> prepare(std::string_view sql) = 0;
  // BEGIN that takes the write lock at once (SQLite's IMMEDIATE), so two writers never both
  // read, then both fail to write.
  virtual void beginWrite() = 0;
  // Serialises schema changes between processes starting at the same moment.
  virtual void lockSchema() = 0;
  // The database's size in bytes (pages in use); 0 where it cannot tell cheaply.
  virtual std::int64_t sizeBytes() = 0;
};

// A transaction that rolls back unless committed. Throws StoreError.
class Transaction {
 public:
  explicit Transaction(Database& database) : database_(database) { database_.beginWrite(); }
  ~Transaction() {
    if (open_) {
      try {
        database_.execute("ROLLBACK");
      } catch (...) {
      }
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit() {
    database_.execute("COMMIT");
    open_ = false;
  }

 private:
  Database& database_;
  bool open_ = true;
};

// A SQLite file in write-ahead-log mode with synchronous=NORMAL: a commit survives a crash of
// the program, and a power cut loses at most the last commits, never the file.
std::unique_ptr<Database> openSqlite(const std::string& path);
// A libpq connection string or URI ("postgresql://user@host/db", "host=/tmp dbname=x").
std::unique_ptr<Database> openPostgres(const std::string& conninfo);
// Whether this build has the PostgreSQL engine.
bool postgresAvailable();

}  // namespace ravdel
