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
  // Descriptors of the test handed to the child under other numbers: {child's, test's}.
  std::vector<std::pair<int, int>> descriptors;
};

// A program the test started and owns by its pid, in a process group of its own: the group is
// ended when the object goes, and the kernel kills the program when the test process dies
// first (a crash, ctest's timeout), so nothing outlives the test. One thread uses it.
class ChildProcess {
 public:
  explicit ChildProcess(const ChildOptions& options);  // throws ServiceError
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }
  bool running();
  // `number` to the program's group, then SIGKILL after `grace`; the exit status (128 + the
  // signal's number when a signal ended it).
  int stop(int number, std::chrono::milliseconds grace = std::chrono::seconds(20));

 private:
  bool reap(bool wait);

  int pid_ = -1;
  std::optional<int> status_;
};

// Polls `condition` every 20 ms until it holds or `limit` has passed.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(60));

// Runs a program to its end (at most `limit`); its exit status, its output in `output`.
int runToEnd(const ChildOptions& options, std::string& output,
             std::chrono::milliseconds limit = std::chrono::seconds(120));

// Whether the test runs as root (PostgreSQL refuses to).
bool runningAsRoot();
// Hands a folder and what it holds to `user`.
void giveTo(const std::string& path, const std::string& user);
// Whether `path` names a program this process may run.
bool executable(const std::string& path);

}  // namespace ravdel::test
