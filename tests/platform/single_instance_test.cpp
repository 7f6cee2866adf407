#include "platform/single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/temp_dir.h"

namespace ravdel {
namespace {

class SingleInstanceTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    path_ = path("RVDAMutex");
  }
  std::string path_;
};

// A child process that takes the lock and holds it until told to go or killed.
struct LockHolder {
  pid_t pid = -1;
  int release = -1;  // closing it lets the child exit

  bool start(SingleInstance& lock) {
    int acquired[2], go[2];
    if (::pipe(acquired) != 0 || ::pipe(go) != 0) return false;
    pid = ::fork();
    if (pid == 0) {
      // Only system calls here: no allocation after fork.
      ::close(acquired[0]);
      ::close(go[1]);
      const char ok = lock.tryAcquire() && lock.held() ? 'y' : 'n';
      (void)!::write(acquired[1], &ok, 1);
      char ignored;
      (void)!::read(go[0], &ignored, 1);
      ::_exit(0);
    }
    ::close(acquired[1]);
    ::close(go[0]);
    release = go[1];
    char ok = 0;
    const bool took = ::read(acquired[0], &ok, 1) == 1 && ok == 'y';
    ::close(acquired[0]);
    return took;
  }
  int finish(bool kill) {
    if (kill) ::kill(pid, SIGKILL);
    ::close(release);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
  }
};

TEST_F(SingleInstanceTest, SecondProcessIsRefusedUntilTheFirstEndsOrDies) {
  for (const bool kill : {false, true}) {
    SingleInstance child(path_);
    LockHolder holder;
    ASSERT_TRUE(holder.start(child));
    SingleInstance ours(path_);
    EXPECT_FALSE(ours.tryAcquire()) << "kill=" << kill;
    EXPECT_FALSE(ours.held());
    holder.finish(kill);
    EXPECT_TRUE(ours.tryAcquire()) << "kill=" << kill;
    EXPECT_TRUE(ours.held());
  }
}

TEST_F(SingleInstanceTest, ReleaseAndMoveHandOverTheLock) {
  SingleInstance first(path_);
  ASSERT_TRUE(first.tryAcquire());
  EXPECT_TRUE(first.tryAcquire()) << "asking again while holding";
  SingleInstance moved(std::move(first));
  EXPECT_TRUE(moved.held());
  EXPECT_FALSE(SingleInstance(path_).tryAcquire()) << "the move kept the lock";
  moved.release();
  SingleInstance second(path_);
  EXPECT_TRUE(second.tryAcquire());
  moved = std::move(second);
  EXPECT_FALSE(SingleInstance(path_).tryAcquire());
}

// A program we start (a browser for the web link) must not keep the lock after we end.
TEST_F(SingleInstanceTest, StartedProgramsDoNotInheritTheLock) {
  pid_t pid = -1;
  {
    SingleInstance ours(path_);
    ASSERT_TRUE(ours.tryAcquire());
    char sleep[] = "sleep", seconds[] = "30";
    char* argv[] = {sleep, seconds, nullptr};
    ASSERT_EQ(::posix_spawnp(&pid, "sleep", nullptr, nullptr, argv, environ), 0);
  }
  // Until its exec the child may still hold a copy of the descriptor; a leak would last 30 s.
  bool acquired = false;
  for (int i = 0; i < 200 && !acquired; ++i) {
    acquired = SingleInstance(path_).tryAcquire();
    if (!acquired) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(acquired);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

TEST_F(SingleInstanceTest, UnusableLockFileDoesNotStopTheProgram) {
  SingleInstance lock(path("missing/RVDAMutex"));
  EXPECT_TRUE(lock.tryAcquire());
  EXPECT_FALSE(lock.held());
  EXPECT_FALSE(lock.error().empty());

  // A symlink in place of the lock file is not followed.
  std::filesystem::create_symlink(path("elsewhere"), path_);
  SingleInstance planted(path_);
  EXPECT_TRUE(planted.tryAcquire());
  EXPECT_FALSE(planted.held());
  EXPECT_FALSE(std::filesystem::exists(path("elsewhere")));
}

TEST(SingleInstanceDefaultPathTest, RuntimeFolderOrPerUserTmpFile) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string restore = saved ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
  EXPECT_EQ(SingleInstance::defaultLockPath(), "/run/user/1234/RVDAMutex");
  const std::string perUser = "/tmp/RVDAMutex-" + std::to_string(::geteuid());
  ::setenv("XDG_RUNTIME_DIR", "", 1);
  EXPECT_EQ(SingleInstance::defaultLockPath(), perUser);
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(SingleInstance::defaultLockPath(), perUser);
  if (saved) ::setenv("XDG_RUNTIME_DIR", restore.c_str(), 1);
}

}  // namespace
}  // namespace ravdel
