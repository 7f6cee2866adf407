#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace ravdel::test {

struct BrokerOptions {
  std::string passwordFile;  // empty: anonymous clients are let in
  std::string aclFile;
  // A test CA and a certificate for "localhost" (not for 127.0.0.1, so that a client that
  // checks the host name must connect by that name), made in the broker's folder.
  bool tls = false;
  std::vector<std::string> extraConfig;  // more lines for the broker's configuration
};

// A mosquitto broker of the test's own on a free port of 127.0.0.1, its configuration, log and
// certificates in `folder` (made when missing). Persistence is off: what a restart loses, the
// network must survive. Throws ServiceError when it does not come up.
class TestBroker {
 public:
  static constexpr const char* kProgram = "/usr/sbin/mosquitto";
  // Why this machine cannot run a broker (the program is not installed); nothing when it can.
  static std::optional<std::string> unavailable();

  TestBroker(std::string folder, BrokerOptions options = {});
  ~TestBroker();

  int port() const { return port_; }
  // "HOST:PORT" as the programs take it; "localhost" with TLS, else "127.0.0.1".
  std::string address() const;
  std::string host() const { return options_.tls ? "localhost" : "127.0.0.1"; }
  std::string caFile() const;  // with TLS
  std::string log() const;     // the broker's output so far

  // Started again on the same port, so that clients find it where they left it.
  void start();
  void stop();  // SIGTERM: a clean end
  void kill();  // SIGKILL: a crash
  void restart();
  // SIGSTOP and SIGCONT: unreachable while its connections stay open, as behind a dead link.
  void pause();
  void resume();
  // SIGHUP: reads its password and ACL files again.
  void reload();
  bool running();

 private:
  void writeConfig() const;
  void makeCertificates() const;

  std::string folder_;
  BrokerOptions options_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

struct PostgresOptions {
  // Commits wait for the disk, as in production. Off (the default for tests), a commit is
  // done when the server has it: an operating system crash could lose it, a server restart
  // cannot.
  bool durable = false;
  // A cluster an earlier run left in the folder is started as it is (a benchmark's store);
  // otherwise, or when there is none, a new one is made.
  bool reuse = false;
};

// A PostgreSQL cluster of the test's own: initdb into `folder`/pg (as the postgres account when
// the test runs as root), the server on a free port of 127.0.0.1 with its socket in the same
// folder, a database "ravdel" owned by the account "ravdel" (trusted, no password). Throws
// ServiceError when it does not come up.
class TestPostgres {
 public:
  static constexpr const char* kBinaries = "/usr/lib/postgresql/15/bin";
  static std::optional<std::string> unavailable();

  TestPostgres(std::string folder, PostgresOptions options = {});
  ~TestPostgres();

  int port() const { return port_; }
  // postgresql://ravdel@127.0.0.1:PORT/ravdel, or another database of the cluster.
  std::string uri(const std::string& database = "ravdel") const;
  // A new, empty database; its URI.
  std::string createDatabase(const std::string& name);
  std::string log() const;

  void start();
  void stop();  // a fast shutdown: sessions are ended, commits kept
  void kill();  // an immediate shutdown, as a crash: the next start recovers from the log
  void restart();
  bool running();

 private:
  std::string tool(const std::string& name) const;
  ChildOptions asServerAccount(std::vector<std::string> argv) const;
  void initialise();
  bool ready();

  std::string folder_;
  std::string data_;
  PostgresOptions options_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace ravdel::test
