#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ravdel::test {

// A service or program a test could not start or that did not come up.
class ServiceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ChildOptions {
  std::vector<std::string> argv;                                 // argv[0] is the program's path
  std::vector<std::pair<std::string, std::string>> environment;  // added to the test's own
  std::string workingDirectory;                                  // empty: the test's
  std::string outputFile;  // stdout and stderr appended to it; empty: thrown away
  std::string user;        // run as this account when the test runs as root
  // Descriptors of the test the child inherits under numbers of its own (a browser's
  // DevTools pipe as 3 and 4): {child's number, test's descriptor}. At most 16.
  std::vector<std::pair<int, int>> descriptors;
};

// A program the test started and owns by its pid: killed when the object goes, and by the
// kernel when the test process dies first (a crash, ctest's timeout), so nothing outlives the
// test. One thread uses it.
class ChildProcess {
 public:
  explicit ChildProcess(const ChildOptions& options);  // throws ServiceError
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }
  bool running();
  void signal(int number);
  // The exit status once it has ended within `limit` (128 + the signal's number when a signal
  // ended it); nothing while it still runs.
  std::optional<int> wait(std::chrono::milliseconds limit);
  // `number` (SIGTERM by default), then SIGKILL after `grace`; the exit status.
  int stop(int number, std::chrono::milliseconds grace = std::chrono::seconds(20));
  void kill();

 private:
  bool reap(int flags);

  int pid_ = -1;
  std::optional<int> status_;
};

// Polls `condition` every 20 ms until it holds or `limit` has passed.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(60));

// Runs a program to its end (at most `limit`); its exit status, its output in `output`.
int runToEnd(const ChildOptions& options, std::string& output,
             std::chrono::milliseconds limit = std::chrono::seconds(120));

// A TCP port on 127.0.0.1 that nothing listens on at the moment of asking.
int freeLoopbackPort();
// Whether something accepts a TCP connection on 127.0.0.1:port.
bool acceptsConnections(int port);
// Whether the test runs as root (PostgreSQL refuses to).
bool runningAsRoot();
bool accountExists(const std::string& user);
// Hands a file or folder (and what it holds) to `user`.
void giveTo(const std::string& path, const std::string& user);
// Whether `path` names a program this process may run.
bool executable(const std::string& path);

}  // namespace ravdel::test
