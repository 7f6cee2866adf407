#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "store/database.h"
#include "store/store.h"
#include "support/temp_dir.h"

namespace ravdel::test {

// "sqlite", "postgresql": for test names.
std::string engineName(Engine engine);
inline std::string engineTestName(const ::testing::TestParamInfo<Engine>& param) {
  return engineName(param.param);
}
inline const auto kBothEngines = ::testing::Values(Engine::sqlite, Engine::postgresql);

// Where a new, empty store of `engine` is: a SQLite file in `folder`, or a database of its own
// in the test program's PostgreSQL cluster (started at the first call, stopped by its pid when
// the program ends). Empty, with the reason in `why`, when PostgreSQL cannot run here: the test
// is then skipped.
std::string newStoreLocation(Engine engine, const std::string& folder, std::string& why);

// A test that runs once per engine, each time on a new, empty store.
class EngineStoreTest : public TempDirTest, public ::testing::WithParamInterface<Engine> {
 protected:
  // Null when this engine cannot run here (then GTEST_SKIP).
  std::unique_ptr<Store> openStore() {
    std::string why;
    location_ = newStoreLocation(GetParam(), dir_.string(), why);
    return location_.empty() ? nullptr : Store::open(location_);
  }
  std::string location_;
};

}  // namespace ravdel::test
