#include "monitor/event_notice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "capture/headless_main_loop.h"

namespace ravdel {
namespace {

class EventNoticeTest : public ::testing::Test {
 protected:
  // Runs the loop until `done`, for at most a generous while.
  bool runUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      loop_.run(std::chrono::milliseconds(20));
    }
    return true;
  }

  HeadlessMainLoop loop_;
  std::vector<std::string> shown_;  // "+" before a text changed in place
  bool menuOpen_ = false;
  int menuChecks_ = 0;
  EventNotice notice_{loop_,
                      [this](const std::string& text, bool inPlace) {
                        shown_.push_back((inPlace ? "+" : "") + text);
                      },
                      [this] {
                        ++menuChecks_;
                        return menuOpen_;
                      }};
};

TEST_F(EventNoticeTest, EventsWhileItShowsAreCountedIntoOneUpdateAndTheCountGoesOn) {
  notice_.eventDetected();
  ASSERT_EQ(shown_, std::vector<std::string>{"Event detected!"});
  notice_.eventDetected();
  notice_.eventDetected();
  EXPECT_EQ(shown_.size(), 1u) << "no balloon per event";
  ASSERT_TRUE(runUntil([&] { return shown_.size() == 2; }));
  EXPECT_EQ(shown_.back(), "+3 events detected!") << "the balloon showing, changed in place";

  notice_.eventDetected();
  ASSERT_TRUE(runUntil([&] { return shown_.size() == 3; }));
  EXPECT_EQ(shown_.back(), "+4 events detected!");
}

TEST_F(EventNoticeTest, TheUpdateWaitsForTheTrayMenuAndAClickStartsAfresh) {
  notice_.eventDetected();
  menuOpen_ = true;
  notice_.eventDetected();
  ASSERT_TRUE(runUntil([&] { return menuChecks_ >= 1; }));
  EXPECT_EQ(shown_.size(), 1u) << "not over the open menu";
  menuOpen_ = false;
  ASSERT_TRUE(runUntil([&] { return shown_.size() == 2; }));
  EXPECT_EQ(shown_.back(), "+2 events detected!");

  notice_.dismissed();
  notice_.eventDetected();
  EXPECT_EQ(shown_.back(), "Event detected!");
  EXPECT_EQ(notice_.count(), 1);
}

// The first balloon, too, waits for the menu: it appeared over it, covering Exit.
TEST_F(EventNoticeTest, TheFirstBalloonWaitsForTheTrayMenu) {
  menuOpen_ = true;
  notice_.eventDetected();
  ASSERT_TRUE(runUntil([&] { return menuChecks_ >= 2; }));
  EXPECT_TRUE(shown_.empty()) << "not over the open menu";
  notice_.eventDetected();
  menuOpen_ = false;
  ASSERT_TRUE(runUntil([&] { return shown_.size() == 1; }));
  EXPECT_EQ(shown_.back(), "2 events detected!") << "a new balloon, with every event in it";
}

}  // namespace
}  // namespace ravdel
