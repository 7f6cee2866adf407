#include "support/services.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ravdel::test {
namespace {

constexpr const char* kServerAccount = "postgres";

}  // namespace

std::optional<std::string> TestPostgres::unavailable() {
  for (const char* name : {"initdb", "postgres", "pg_isready", "createdb"}) {
    const std::string path = std::string(kBinaries) + "/" + name;
    if (!executable(path)) return path + " is not installed (package postgresql)";
  }
  return std::nullopt;
}

// The folder made absolute: the server runs in it and finds its socket's folder by name.
TestPostgres::TestPostgres(std::string folder, bool reuse)
    : folder_(std::filesystem::absolute(folder).string() + "/pg") {
  const bool made = reuse && std::filesystem::exists(folder_ + "/data/PG_VERSION");
  std::filesystem::create_directories(folder_);
  if (runningAsRoot()) giveTo(folder_, kServerAccount);
  if (!made) {
    run(asServerAccount({tool("initdb"), "-D", folder_ + "/data", "-U", "ravdel", "-A", "trust",
                         "-E", "UTF8", "--no-sync"}),
        "initdb");
  }
  ChildOptions server = asServerAccount({tool("postgres"), "-D", folder_ + "/data", "-k", folder_,
                                         "-c", "listen_addresses=", "-c", "fsync=off", "-c",
                                         "synchronous_commit=off", "-c", "full_page_writes=off"});
  server.outputFile = folder_ + "/server.log";
  server_ = std::make_unique<ChildProcess>(server);
  if (!eventually([&] { return !server_->running() || ready(); })) {
    throw ServiceError("PostgreSQL did not come up: " + log());
  }
  if (!server_->running()) throw ServiceError("PostgreSQL ended at start: " + log());
  if (!made) createDatabase("ravdel");
}

// A fast shutdown: the sessions are ended, then the server.
TestPostgres::~TestPostgres() {
  server_->stop(SIGINT);
}

std::string TestPostgres::uri(const std::string& database) const {
  return "postgresql://ravdel@/" + database + "?host=" + folder_;
}

std::string TestPostgres::createDatabase(const std::string& name) {
  run(asServerAccount({tool("createdb"), "-h", folder_, "-U", "ravdel", name}), "createdb " + name);
  return uri(name);
}

std::string TestPostgres::log() const {
  std::ostringstream text;
  text << std::ifstream(folder_ + "/server.log").rdbuf();
  return text.str();
}

std::string TestPostgres::tool(const std::string& name) const {
  return std::string(kBinaries) + "/" + name;
}

ChildOptions TestPostgres::asServerAccount(std::vector<std::string> argv) const {
  ChildOptions options;
  options.argv = std::move(argv);
  options.workingDirectory = folder_;
  options.user = kServerAccount;
  return options;
}

void TestPostgres::run(const ChildOptions& options, const std::string& what) {
  std::string output;
  if (runToEnd(options, output) != 0) throw ServiceError(what + " failed: " + output);
}

bool TestPostgres::ready() {
  std::string output;
  return runToEnd(asServerAccount(
                      {tool("pg_isready"), "-q", "-h", folder_, "-U", "ravdel", "-d", "postgres"}),
                  output) == 0;
}

}  // namespace ravdel::test
