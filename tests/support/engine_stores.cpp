#include "support/engine_stores.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <random>

#include "support/services.h"

namespace ravdel::test {
namespace {

// The cluster every PostgreSQL test of this program shares, each test in a database of its own.
class SharedCluster {
 public:
  ~SharedCluster() {
    postgres_.reset();
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  }

  std::string newDatabase() {
    const std::lock_guard lock(mutex_);
    if (!postgres_) start();
    return postgres_->createDatabase("test" + std::to_string(++databases_));
  }

 private:
  void start() {
    std::random_device seed;
    folder_ = std::filesystem::temp_directory_path() /
              ("ravdel-pg-" + std::to_string(std::mt19937_64(seed())() % 100000000));
    std::filesystem::create_directories(folder_);
    postgres_ = std::make_unique<TestPostgres>(folder_.string());
  }

  std::mutex mutex_;  // guards everything below: tests may start on several threads
  std::filesystem::path folder_;
  std::unique_ptr<TestPostgres> postgres_;
  int databases_ = 0;
};

SharedCluster& sharedCluster() {
  static SharedCluster cluster;
  return cluster;
}

}  // namespace

std::string engineName(Engine engine) {
  return engine == Engine::sqlite ? "sqlite" : "postgresql";
}

std::string newStoreLocation(Engine engine, const std::string& folder, std::string& why) {
  if (engine == Engine::sqlite) return "sqlite:" + folder + "/store.db";
  if (!postgresAvailable()) {
    why = "this build has no PostgreSQL engine";
    return {};
  }
  if (const auto missing = TestPostgres::unavailable()) {
    why = *missing;
    return {};
  }
  return sharedCluster().newDatabase();
}

}  // namespace ravdel::test
