#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/single_instance.h"

namespace ravdel {
namespace {

// A name of the test's own, so that a running program's "RVDAMutex" does not interfere.
std::string testMutexName() {
  return "RVDAMutex-test-" + std::to_string(::GetCurrentProcessId());
}

TEST(SingleInstanceWinTest, TheNamedMutexIsTakenOnceUntilReleased) {
  const std::string name = testMutexName();
  SingleInstance first(name);
  ASSERT_TRUE(first.tryAcquire()) << first.error();
  EXPECT_TRUE(first.held());
  EXPECT_TRUE(first.tryAcquire()) << "asking again while holding";

  SingleInstance second(name);
  EXPECT_FALSE(second.tryAcquire());
  EXPECT_FALSE(second.held());

  SingleInstance moved(std::move(first));
  EXPECT_TRUE(moved.held());
  EXPECT_FALSE(SingleInstance(name).tryAcquire()) << "the move kept the mutex";
  moved.release();
  EXPECT_TRUE(second.tryAcquire());
  EXPECT_TRUE(second.held());
}

// Any other process holding a mutex of that name counts as a running copy.
TEST(SingleInstanceWinTest, AMutexOfThatNameHeldElsewhereRefuses) {
  const std::string name = testMutexName() + "-other";
  const HANDLE other = ::CreateMutexA(nullptr, FALSE, name.c_str());
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(SingleInstance(name).tryAcquire());
  ::CloseHandle(other);
  EXPECT_TRUE(SingleInstance(name).tryAcquire());
}

TEST(SingleInstanceWinTest, ANameTakenByAnotherKindOfObjectDoesNotStopTheProgram) {
  const std::string name = testMutexName() + "-event";
  const HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  SingleInstance lock(name);
  EXPECT_TRUE(lock.tryAcquire());
  EXPECT_FALSE(lock.held());
  EXPECT_FALSE(lock.error().empty());
  ::CloseHandle(event);
}

TEST(SingleInstanceWinTest, TheProgramsMutexIsRVDAMutex) {
  EXPECT_EQ(SingleInstance::defaultLockPath(), "RVDAMutex");
}

}  // namespace
}  // namespace ravdel
