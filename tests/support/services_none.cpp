// Systems where the tests start no broker or database of their own (the Windows build under
// Wine): every test that needs one skips with this reason.
#include "support/services.h"

namespace ravdel::test {
namespace {

constexpr const char* kWhy = "the tests start their broker and database on Linux only";

}  // namespace

ChildProcess::~ChildProcess() = default;

std::optional<std::string> TestBroker::unavailable() {
  return kWhy;
}
TestBroker::TestBroker(std::string folder, BrokerOptions options)
    : folder_(std::move(folder)), options_(std::move(options)) {
  throw ServiceError(kWhy);
}
TestBroker::~TestBroker() = default;

std::optional<std::string> TestPostgres::unavailable() {
  return kWhy;
}
TestPostgres::TestPostgres(std::string folder, PostgresOptions options)
    : folder_(std::move(folder)), options_(options) {
  throw ServiceError(kWhy);
}
TestPostgres::~TestPostgres() = default;
std::string TestPostgres::uri(const std::string&) const {
  return {};
}
std::string TestPostgres::createDatabase(const std::string&) {
  throw ServiceError(kWhy);
}

}  // namespace ravdel::test
