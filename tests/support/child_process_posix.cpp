#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/child_process.h"

namespace ravdel::test {
namespace {

int statusOf(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

// Runs in the child between fork and exec: only async-signal-safe calls, and _exit on failure.
[[noreturn]] void becomeProgram(const ChildOptions& options, const passwd* account,
                                std::vector<char*>& argv, std::vector<char*>& envp, int output,
                                pid_t parent) {
  setpgid(0, 0);
  const int devNull = open("/dev/null", O_RDWR);
  dup2(devNull, 0);
  dup2(output >= 0 ? output : devNull, 1);
  dup2(output >= 0 ? output : devNull, 2);
  // Through copies above the targets' numbers, so that no target overwrites a source that is
  // still to be handed on; the copies carry no close-on-exec.
  std::array<int, 16> copies{};
  for (std::size_t i = 0; i < options.descriptors.size() && i < copies.size(); ++i)
    copies[i] = fcntl(options.descriptors[i].second, F_DUPFD, 100);
  for (std::size_t i = 0; i < options.descriptors.size() && i < copies.size(); ++i)
    dup2(copies[i], options.descriptors[i].first);
  if (account != nullptr &&
      (setgroups(0, nullptr) != 0 || setgid(account->pw_gid) != 0 || setuid(account->pw_uid) != 0))
    _exit(126);
  // After the change of account, which clears it; a test that ended before this leaves no one
  // to signal.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(1);
  if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) _exit(126);
  execve(argv[0], argv.data(), envp.data());
  _exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const ChildOptions& options) {
  if (options.argv.empty()) throw ServiceError("no program to start");
  std::vector<char*> argv;
  for (const std::string& word : options.argv)
    argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const passwd* account = nullptr;
  if (!options.user.empty() && runningAsRoot()) {
    account = getpwnam(options.user.c_str());
    if (account == nullptr) throw ServiceError("no account " + options.user);
  }
  // The additions, then the test's environment (getenv takes the first of a name), made
  // before the fork.
  std::vector<std::string> variables;
  for (const auto& [name, value] : options.environment)
    variables.push_back(name + "=" + value);
  for (char** entry = environ; *entry != nullptr; ++entry)
    variables.emplace_back(*entry);
  std::vector<char*> envp;
  for (std::string& variable : variables)
    envp.push_back(variable.data());
  envp.push_back(nullptr);
  int output = -1;
  if (!options.outputFile.empty()) {
    output = open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (output < 0) throw ServiceError("cannot open " + options.outputFile);
  }
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) becomeProgram(options, account, argv, envp, output, parent);
  const int forkError = errno;
  if (output >= 0) close(output);
  if (pid_ < 0) throw ServiceError(std::string("fork: ") + std::strerror(forkError));
}

ChildProcess::~ChildProcess() {
  if (running()) stop(SIGKILL, std::chrono::seconds(5));
}

bool ChildProcess::reap(bool wait) {
  if (status_) return true;
  int raw = 0;
  const pid_t done = waitpid(pid_, &raw, wait ? 0 : WNOHANG);
  if (done != pid_) return false;
  status_ = statusOf(raw);
  kill(-pid_, SIGKILL);  // whatever the program left behind in its group
  return true;
}

bool ChildProcess::running() {
  return !reap(false);
}

int ChildProcess::stop(int number, std::chrono::milliseconds grace) {
  if (running()) {
    kill(-pid_, number);
    if (!eventually([&] { return !running(); }, grace)) {
      kill(-pid_, SIGKILL);
      reap(true);
    }
  }
  return status_.value_or(-1);
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int runToEnd(const ChildOptions& options, std::string& output, std::chrono::milliseconds limit) {
  char name[] = "/tmp/ravdel-child-XXXXXX";
  const int file = mkstemp(name);
  if (file < 0) throw ServiceError("no temporary file for a program's output");
  close(file);
  ChildOptions withOutput = options;
  withOutput.outputFile = name;
  int status = -1;
  {
    ChildProcess child(withOutput);
    if (!eventually([&] { return !child.running(); }, limit)) {
      child.stop(SIGKILL);
      std::remove(name);
      throw ServiceError(options.argv[0] + " did not end in time");
    }
    status = child.stop(SIGKILL);
  }
  std::ostringstream text;
  text << std::ifstream(name).rdbuf();
  output = text.str();
  std::remove(name);
  return status;
}

bool runningAsRoot() {
  return geteuid() == 0;
}

void giveTo(const std::string& path, const std::string& user) {
  const passwd* account = getpwnam(user.c_str());
  if (account == nullptr) throw ServiceError("no account " + user);
  const auto own = [&](const std::filesystem::path& p) {
    if (chown(p.c_str(), account->pw_uid, account->pw_gid) != 0)
      throw ServiceError("cannot hand " + p.string() + " to " + user);
  };
  own(path);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
    own(entry.path());
}

bool executable(const std::string& path) {
  return access(path.c_str(), X_OK) == 0;
}

}  // namespace ravdel::test
