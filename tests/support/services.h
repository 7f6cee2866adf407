#pragma once

#include <memory>
#include <optional>
#include <string>

#include "support/child_process.h"

namespace ravdel::test {

// A PostgreSQL cluster of the test's own: initdb into `folder`/pg (as the postgres account when
// the test runs as root), the server listening only on a socket in that folder (no TCP port to
// collide with another test's), a database "ravdel" owned by the account "ravdel" (trusted,
// no password). Stopped by its pid when the object goes. Throws ServiceError when it does not
// come up.
class TestPostgres {
 public:
  static constexpr const char* kBinaries = "/usr/lib/postgresql/15/bin";
  // Why this machine cannot run a cluster; nothing when it can.
  static std::optional<std::string> unavailable();

  // With `reuse`, a cluster left in `folder` by an earlier run is started as it is (the
  // benchmark's store); otherwise the folder must hold none.
  explicit TestPostgres(std::string folder, bool reuse = false);
  ~TestPostgres();
  TestPostgres(const TestPostgres&) = delete;
  TestPostgres& operator=(const TestPostgres&) = delete;

  // postgresql://ravdel@/DATABASE?host=FOLDER, as the store opens it.
  std::string uri(const std::string& database = "ravdel") const;
  // A new, empty database; its URI.
  std::string createDatabase(const std::string& name);
  std::string log() const;

 private:
  std::string tool(const std::string& name) const;
  ChildOptions asServerAccount(std::vector<std::string> argv) const;
  void run(const ChildOptions& options, const std::string& what);
  bool ready();

  std::string folder_;
  std::unique_ptr<ChildProcess> server_;
};

}  // namespace ravdel::test
