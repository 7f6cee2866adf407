#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
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

extern char** environ;

namespace ravdel::test {
namespace {

// Everything the child needs, made before fork: between fork and exec only async-signal-safe
// calls are allowed (the test may run other threads, a broker client's say).
struct Launch {
  std::vector<std::string> argv;
  std::vector<std::string> environment;
  std::optional<passwd> account;

  static std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& text : texts)
      out.push_back(text.data());
    out.push_back(nullptr);
    return out;
  }
};

std::vector<std::string> environmentWith(
    const std::vector<std::pair<std::string, std::string>>& added) {
  std::vector<std::string> out;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const auto& [key, value] : added)
      replaced = replaced || key == name;
    if (!replaced) out.push_back(text);
  }
  for (const auto& [key, value] : added)
    out.push_back(key + "=" + value);
  return out;
}

std::optional<passwd> accountOf(const std::string& user) {
  if (user.empty() || !runningAsRoot()) return std::nullopt;
  const passwd* entry = ::getpwnam(user.c_str());
  if (entry == nullptr) throw ServiceError("no account named " + user);
  return *entry;
}

constexpr std::size_t kMostDescriptors = 16;

// In the child: the test's descriptors under the child's numbers, through copies above any
// target number, so that no target overwrites a source still to be handed on. The copies and
// targets carry no close-on-exec.
bool handOnDescriptors(const std::vector<std::pair<int, int>>& descriptors) {
  std::array<int, kMostDescriptors> copies{};
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    copies[i] = ::fcntl(descriptors[i].second, F_DUPFD, 100);
    if (copies[i] < 0) return false;
  }
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    if (::dup2(copies[i], descriptors[i].first) < 0) return false;
  }
  return true;
}

[[noreturn]] void becomeChild(const ChildOptions& options, const Launch& launch, char** argv,
                              char** envp) {
  const int output = options.outputFile.empty()
                         ? ::open("/dev/null", O_WRONLY)
                         : ::open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const int input = ::open("/dev/null", O_RDONLY);
  if (output < 0 || input < 0 || ::dup2(input, 0) < 0 || ::dup2(output, 1) < 0 ||
      ::dup2(output, 2) < 0)
    ::_exit(127);
  if (!handOnDescriptors(options.descriptors)) ::_exit(127);
  ::setpgid(0, 0);  // a terminal's Ctrl+C reaches the test, which ends its children itself
  if (launch.account) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(launch.account->pw_gid) != 0 ||
        ::setuid(launch.account->pw_uid) != 0)
      ::_exit(127);
  }
  // After the change of user, which clears it.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() == 1) ::_exit(127);  // the test is already gone
  if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0)
    ::_exit(127);
  ::execve(argv[0], argv, envp);
  ::_exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const ChildOptions& options) {
  if (options.argv.empty()) throw ServiceError("no program to start");
  if (options.descriptors.size() > kMostDescriptors)
    throw ServiceError("more than 16 descriptors to hand on");
  Launch launch{options.argv, environmentWith(options.environment), accountOf(options.user)};
  std::vector<char*> argv = Launch::pointers(launch.argv);
  std::vector<char*> envp = Launch::pointers(launch.environment);
  pid_ = ::fork();
  if (pid_ < 0) throw ServiceError(std::string("fork: ") + std::strerror(errno));
  if (pid_ == 0) becomeChild(options, launch, argv.data(), envp.data());
}

ChildProcess::~ChildProcess() {
  kill();
}

bool ChildProcess::reap(int flags) {
  if (status_) return true;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, flags);
  if (done != pid_) return false;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

bool ChildProcess::running() {
  return !reap(WNOHANG);
}

void ChildProcess::signal(int number) {
  if (running()) ::kill(pid_, number);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds limit) {
  eventually([this] { return !running(); }, limit);
  return status_;
}

int ChildProcess::stop(int number, std::chrono::milliseconds grace) {
  signal(number);
  if (const auto status = wait(grace)) return *status;
  kill();
  return status_.value_or(-1);
}

void ChildProcess::kill() {
  if (!running()) return;
  ::kill(pid_, SIGCONT);  // a stopped process takes SIGKILL too, but its children may not
  ::kill(pid_, SIGKILL);
  reap(0);
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

int runToEnd(const ChildOptions& options, std::string& output, std::chrono::milliseconds limit) {
  char name[] = "/tmp/ravdel-run-XXXXXX";
  const int file = ::mkstemp(name);
  if (file < 0) throw ServiceError(std::string("mkstemp: ") + std::strerror(errno));
  ::close(file);
  ChildOptions captured = options;
  captured.outputFile = name;
  int status = -1;
  {
    ChildProcess child(captured);
    status = child.wait(limit).value_or(-1);
  }
  std::ostringstream text;
  text << std::ifstream(name).rdbuf();
  output = text.str();
  ::unlink(name);
  return status;
}

int freeLoopbackPort() {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  if (socket < 0) throw ServiceError(std::string("socket: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool bound = ::bind(socket, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                     ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(socket);
  if (!bound) throw ServiceError(std::string("no free port: ") + std::strerror(errno));
  return ntohs(address.sin_port);
}

bool acceptsConnections(int port) {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  if (socket < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool connected =
      ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(socket);
  return connected;
}

bool runningAsRoot() {
  return ::geteuid() == 0;
}

bool accountExists(const std::string& user) {
  return ::getpwnam(user.c_str()) != nullptr;
}

void giveTo(const std::string& path, const std::string& user) {
  const passwd* entry = ::getpwnam(user.c_str());
  if (entry == nullptr) throw ServiceError("no account named " + user);
  const uid_t uid = entry->pw_uid;
  const gid_t gid = entry->pw_gid;
  const auto own = [&](const std::filesystem::path& item) {
    if (::chown(item.c_str(), uid, gid) != 0)
      throw ServiceError("chown " + item.string() + ": " + std::strerror(errno));
  };
  own(path);
  if (std::filesystem::is_directory(path)) {
    for (const auto& entryPath : std::filesystem::recursive_directory_iterator(path))
      own(entryPath.path());
  }
}

bool executable(const std::string& path) {
  return ::access(path.c_str(), X_OK) == 0;
}

}  // namespace ravdel::test
