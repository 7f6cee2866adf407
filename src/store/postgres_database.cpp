#include <libpq-fe.h>

#include <charconv>
#include <cstring>
#include <utility>

#include "store/database.h"

namespace ravdel {
namespace {

// PQresult as a move-only owner.
class Result {
 public:
  explicit Result(PGresult* result = nullptr) : result_(result) {}
  ~Result() { PQclear(result_); }
  Result(Result&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}
  Result& operator=(Result&& other) noexcept {
    std::swap(result_, other.result_);
    return *this;
  }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  PGresult* get() const { return result_; }

 private:
  PGresult* result_;
};

std::string failure(PGconn* connection, const char* what) {
  std::string message = PQerrorMessage(connection);
  while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
    message.pop_back();
  return std::string("PostgreSQL: ") + what + ": " + message;
}

void expectSuccess(PGconn* connection, const Result& result, const char* what) {
  const ExecStatusType status = PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    throw StoreError(failure(connection, what));
  }
}

// Parameters travel as text, except blobs (bytea) in binary; results come as text, bytea
// unescaped on reading.
class PostgresStatement final : public Statement {
 public:
  PostgresStatement(PGconn* connection, std::string name, int parameters)
      : connection_(connection),
        name_(std::move(name)),
        values_(static_cast<std::size_t>(parameters)),
        isNull_(static_cast<std::size_t>(parameters), true),
        binary_(static_cast<std::size_t>(parameters), 0) {}
  // The server keeps a prepared statement as long as the connection unless told otherwise: an
  // ingester that runs for months would pile them up.
  ~PostgresStatement() override {
    result_ = Result();
    const Result done(PQexec(connection_, ("DEALLOCATE " + name_).c_str()));
  }
  PostgresStatement(const PostgresStatement&) = delete;
  PostgresStatement& operator=(const PostgresStatement&) = delete;

  void bind(int index, std::int64_t value) override { set(index, std::to_string(value), false); }
  void bind(int index, double value) override {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    set(index, std::string(text, end), false);
  }
  void bind(int index, std::string_view text) override { set(index, std::string(text), false); }
  void bindBlob(int index, std::span<const std::uint8_t> bytes) override {
    set(index, std::string(bytes.begin(), bytes.end()), true);
  }
  void bindNull(int index) override {
    const auto at = slot(index);
    isNull_[at] = true;
    values_[at].clear();
  }

  bool step() override {
    if (!ran_) run();
    ++row_;
    return row_ < PQntuples(result_.get());
  }
  void reset() override {
    result_ = Result();
    ran_ = false;
    row_ = -1;
    std::fill(isNull_.begin(), isNull_.end(), true);
  }

  bool isNull(int column) const override { return PQgetisnull(result_.get(), row_, column) != 0; }
  // The server writes an integer as plain digits, read without the locale that strtoll
  // consults on every call (the coincidence search reads 18 million of them for a year of a
  // network). An empty text (NULL) reads as 0.
  std::int64_t integer(int column) const override {
    const char* text = PQgetvalue(result_.get(), row_, column);
    std::int64_t value = 0;
    std::from_chars(text, text + PQgetlength(result_.get(), row_, column), value);
    return value;
  }
  double real(int column) const override {
    double value = 0;
    const char* text = PQgetvalue(result_.get(), row_, column);
    std::from_chars(text, text + std::strlen(text), value);
    return value;
  }
  std::string text(int column) const override {
    return std::string(PQgetvalue(result_.get(), row_, column),
                       static_cast<std::size_t>(PQgetlength(result_.get(), row_, column)));
  }
  std::vector<std::uint8_t> blob(int column) const override {
    std::size_t length = 0;
    unsigned char* bytes = PQunescapeBytea(
        reinterpret_cast<const unsigned char*>(PQgetvalue(result_.get(), row_, column)), &length);
    std::vector<std::uint8_t> out(bytes, bytes + length);
    PQfreemem(bytes);
    return out;
  }

 private:
  std::size_t slot(int index) const {
    if (index < 1 || static_cast<std::size_t>(index) > values_.size())
      throw StoreError("PostgreSQL: parameter $" + std::to_string(index) + " is not in the query");
    return static_cast<std::size_t>(index - 1);
  }
  void set(int index, std::string value, bool binary) {
    const auto at = slot(index);
    values_[at] = std::move(value);
    isNull_[at] = false;
    binary_[at] = binary ? 1 : 0;
  }
  void run() {
    std::vector<const char*> values(values_.size());
    std::vector<int> lengths(values_.size());
    for (std::size_t i = 0; i < values_.size(); ++i) {
      values[i] = isNull_[i] ? nullptr : values_[i].c_str();
      lengths[i] = static_cast<int>(values_[i].size());
    }
    result_ = Result(PQexecPrepared(connection_, name_.c_str(), static_cast<int>(values.size()),
                                    values.data(), lengths.data(), binary_.data(), 0));
    expectSuccess(connection_, result_, "query");
    ran_ = true;
    row_ = -1;
  }

  PGconn* connection_;
  std::string name_;
  std::vector<std::string> values_;
  std::vector<bool> isNull_;
  std::vector<int> binary_;
  Result result_;
  bool ran_ = false;
  int row_ = -1;
};

// The highest $N in the query: how many parameters its statement takes.
int parameterCount(std::string_view sql) {
  int most = 0;
  for (std::size_t i = 0; i + 1 < sql.size(); ++i) {
    if (sql[i] != '$') continue;
    int number = 0;
    const auto [end, error] = std::from_chars(sql.data() + i + 1, sql.data() + sql.size(), number);
    if (error == std::errc() && end != sql.data() + i + 1) most = std::max(most, number);
  }
  return most;
}

class PostgresDatabase final : public Database {
 public:
  explicit PostgresDatabase(PGconn* connection) : connection_(connection) {}
  ~PostgresDatabase() override { PQfinish(connection_); }
  PostgresDatabase(const PostgresDatabase&) = delete;
  PostgresDatabase& operator=(const PostgresDatabase&) = delete;

  Engine engine() const override { return Engine::postgresql; }

  void execute(std::string_view sql) override {
    const Result result(PQexec(connection_, std::string(sql).c_str()));
    expectSuccess(connection_, result, "statement");
  }

  std::unique_ptr<Statement> prepare(std::string_view sql) override {
    const std::string name = "s" + std::to_string(++statements_);
    const int parameters = parameterCount(sql);
    const Result result(
        PQprepare(connection_, name.c_str(), std::string(sql).c_str(), parameters, nullptr));
    expectSuccess(connection_, result, "prepare");
    return std::make_unique<PostgresStatement>(connection_, name, parameters);
  }

  void beginWrite() override { execute("BEGIN"); }
  // Held until the transaction ends.
  void lockSchema() override { execute("SELECT pg_advisory_xact_lock(7265766)"); }

  std::int64_t sizeBytes() override {
    const auto size = prepare("SELECT pg_database_size(current_database())");
    return size->step() ? size->integer(0) : 0;
  }

 private:
  PGconn* connection_;
  int statements_ = 0;
};

}  // namespace

std::unique_ptr<Database> openPostgres(const std::string& conninfo) {
  PGconn* connection = PQconnectdb(conninfo.c_str());
  if (PQstatus(connection) != CONNECTION_OK) {
    const std::string why = failure(connection, "connect");
    PQfinish(connection);
    throw StoreError(why);
  }
  PQsetClientEncoding(connection, "UTF8");
  auto database = std::make_unique<PostgresDatabase>(connection);
  database->execute("SET client_min_messages = warning");
  return database;
}

bool postgresAvailable() {
  return true;
}

}  // namespace ravdel
