#include "support/services.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ravdel::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

constexpr int kStartAttempts = 5;  // a free port can be taken between asking and binding
constexpr const char* kOpenssl = "/usr/bin/openssl";
constexpr const char* kServerAccount = "postgres";

std::string readText(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::trunc);
  file << text;
  if (!file.flush()) throw ServiceError("cannot write " + path);
}

ChildOptions command(std::vector<std::string> argv, std::string workingDirectory = {},
                     std::string outputFile = {}) {
  ChildOptions options;
  options.argv = std::move(argv);
  options.workingDirectory = std::move(workingDirectory);
  options.outputFile = std::move(outputFile);
  return options;
}

void run(const ChildOptions& options, const std::string& what) {
  std::string output;
  if (runToEnd(options, output) != 0) throw ServiceError(what + " failed:\n" + output);
}

// Starts the service by `launch` until `ready` says so; a launch that ends early (its port was
// taken meanwhile) is tried again after `retry`, at most kStartAttempts times.
std::unique_ptr<ChildProcess> startService(
    const std::function<std::unique_ptr<ChildProcess>()>& launch,
    const std::function<bool()>& ready, const std::function<void()>& retry,
    const std::string& what) {
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    std::unique_ptr<ChildProcess> process = launch();
    if (eventually([&] { return !process->running() || ready(); }, seconds(60)) &&
        process->running())
      return process;
    process->kill();
    retry();
  }
  throw ServiceError(what + " did not come up");
}

}  // namespace

std::optional<std::string> TestBroker::unavailable() {
  if (!executable(kProgram))
    return std::string("the broker is not installed (") + kProgram + "; package mosquitto)";
  return std::nullopt;
}

TestBroker::TestBroker(std::string folder, BrokerOptions options)
    : folder_(std::move(folder)), options_(std::move(options)) {
  fs::create_directories(folder_);
  if (options_.tls) makeCertificates();
  start();
}

TestBroker::~TestBroker() {
  kill();
}

std::string TestBroker::address() const {
  return host() + ":" + std::to_string(port_);
}

std::string TestBroker::caFile() const {
  return folder_ + "/ca.crt";
}

std::string TestBroker::log() const {
  return readText(folder_ + "/broker.log");
}

void TestBroker::writeConfig() const {
  std::string config = "per_listener_settings false\npersistence false\nlog_dest stderr\n";
  config += "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n";
  config += "log_type subscribe\n";  // so that a test can wait for a subscription
  config += "listener " + std::to_string(port_) + " 127.0.0.1\n";
  if (options_.tls) {
    config += "cafile " + folder_ + "/ca.crt\ncertfile " + folder_ + "/server.crt\nkeyfile " +
              folder_ + "/server.key\n";
  }
  if (options_.passwordFile.empty()) {
    config += "allow_anonymous true\n";
  } else {
    config += "allow_anonymous false\npassword_file " + options_.passwordFile + "\n";
  }
  if (!options_.aclFile.empty()) config += "acl_file " + options_.aclFile + "\n";
  for (const std::string& line : options_.extraConfig)
    config += line + "\n";
  writeText(folder_ + "/broker.conf", config);
}

// An elliptic-curve CA and a server certificate it signs, valid for two days.
void TestBroker::makeCertificates() const {
  const std::string dir = folder_ + "/";
  const auto openssl = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kOpenssl};
    argv.insert(argv.end(), args.begin(), args.end());
    run(command(argv, folder_), "openssl " + args.front());
  };
  const std::vector<std::string> key = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                        "-nodes"};
  std::vector<std::string> ca = {
      "req",     "-x509",        "-days", "2",           "-subj", "/CN=Ravdel test CA",
      "-keyout", dir + "ca.key", "-out",  dir + "ca.crt"};
  ca.insert(ca.end(), key.begin(), key.end());
  openssl(ca);
  std::vector<std::string> request = {
      "req", "-subj", "/CN=localhost", "-keyout", dir + "server.key", "-out", dir + "server.csr"};
  request.insert(request.end(), key.begin(), key.end());
  openssl(request);
  writeText(dir + "server.ext", "subjectAltName=DNS:localhost\n");
  openssl({"x509", "-req", "-days", "2", "-in", dir + "server.csr", "-CA", dir + "ca.crt", "-CAkey",
           dir + "ca.key", "-CAcreateserial", "-extfile", dir + "server.ext", "-out",
           dir + "server.crt"});
  fs::permissions(dir + "server.key", fs::perms::others_read, fs::perm_options::add);
}

void TestBroker::start() {
  const bool samePort = port_ != 0;
  if (!samePort) port_ = freeLoopbackPort();
  process_ = startService(
      [&] {
        writeConfig();
        return std::make_unique<ChildProcess>(
            command({kProgram, "-c", folder_ + "/broker.conf"}, {}, folder_ + "/broker.log"));
      },
      [&] { return acceptsConnections(port_); },
      [&] {
        if (!samePort) port_ = freeLoopbackPort();
      },
      "the broker (log in " + folder_ + "/broker.log)");
}

void TestBroker::stop() {
  if (process_) process_->stop(SIGTERM);
}

void TestBroker::kill() {
  if (process_) process_->kill();
}

void TestBroker::restart() {
  stop();
  start();
}

void TestBroker::pause() {
  process_->signal(SIGSTOP);
}

void TestBroker::resume() {
  process_->signal(SIGCONT);
}

void TestBroker::reload() {
  process_->signal(SIGHUP);
}

bool TestBroker::running() {
  return process_ && process_->running();
}

std::optional<std::string> TestPostgres::unavailable() {
  for (const char* name : {"initdb", "postgres", "pg_isready", "createdb"}) {
    const std::string path = std::string(kBinaries) + "/" + name;
    if (!executable(path))
      return "PostgreSQL is not installed (" + path + "; package postgresql-15)";
  }
  if (runningAsRoot() && !accountExists(kServerAccount))
    return std::string("PostgreSQL refuses to run as root, and there is no account ") +
           kServerAccount + " to run it as";
  return std::nullopt;
}

TestPostgres::TestPostgres(std::string folder, PostgresOptions options)
    : folder_(fs::absolute(folder).string() + "/pg"), data_(folder_ + "/data"), options_(options) {
  initialise();
}

TestPostgres::~TestPostgres() {
  stop();
}

std::string TestPostgres::tool(const std::string& name) const {
  return std::string(kBinaries) + "/" + name;
}

// The server refuses to run as root; so does initdb.
ChildOptions TestPostgres::asServerAccount(std::vector<std::string> argv) const {
  ChildOptions options = command(std::move(argv), folder_);
  options.user = kServerAccount;
  return options;
}

void TestPostgres::initialise() {
  if (options_.reuse && fs::exists(data_ + "/PG_VERSION")) {
    start();
    return;
  }
  fs::create_directories(folder_);
  if (runningAsRoot()) giveTo(folder_, kServerAccount);
  run(asServerAccount({tool("initdb"), "-D", data_, "-U", "ravdel", "-A", "trust", "-E", "UTF8",
                       "--locale=C", "--no-sync", "--no-instructions"}),
      "initdb");
  start();
  createDatabase("ravdel");
}

std::string TestPostgres::uri(const std::string& database) const {
  return "postgresql://ravdel@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string TestPostgres::createDatabase(const std::string& name) {
  run(asServerAccount(
          {tool("createdb"), "-h", "127.0.0.1", "-p", std::to_string(port_), "-U", "ravdel", name}),
      "createdb " + name);
  return uri(name);
}

std::string TestPostgres::log() const {
  return readText(folder_ + "/server.log");
}

bool TestPostgres::ready() {
  std::string output;
  return runToEnd(asServerAccount({tool("pg_isready"), "-q", "-h", "127.0.0.1", "-p",
                                   std::to_string(port_), "-U", "ravdel", "-d", "postgres"}),
                  output) == 0;
}

void TestPostgres::start() {
  const bool samePort = port_ != 0;
  if (!samePort) port_ = freeLoopbackPort();
  process_ = startService(
      [&] {
        std::vector<std::string> argv = {tool("postgres"),
                                         "-D",
                                         data_,
                                         "-p",
                                         std::to_string(port_),
                                         "-k",
                                         folder_,
                                         "-c",
                                         "listen_addresses=127.0.0.1"};
        if (!options_.durable) {
          for (const char* setting :
               {"fsync=off", "synchronous_commit=off", "full_page_writes=off"})
            argv.insert(argv.end(), {"-c", setting});
        }
        ChildOptions options = asServerAccount(std::move(argv));
        options.outputFile = folder_ + "/server.log";
        return std::make_unique<ChildProcess>(options);
      },
      [&] { return ready(); },
      [&] {
        // After a kill the old server's processes may still hold its shared memory for a
        // moment; on the first start the port may have been taken.
        if (!samePort) port_ = freeLoopbackPort();
      },
      "PostgreSQL (log in " + folder_ + "/server.log)");
}

void TestPostgres::stop() {
  if (process_) process_->stop(SIGINT);
}

// An immediate shutdown: the server ends its sessions without a checkpoint, as after a crash,
// and takes its own processes with it.
void TestPostgres::kill() {
  if (process_) process_->stop(SIGQUIT);
}

void TestPostgres::restart() {
  stop();
  start();
}

bool TestPostgres::running() {
  return process_ && process_->running();
}

}  // namespace ravdel::test
