#include "app/window/event_balloon.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QStringList>

#include "window_test_app.h"

namespace ravdel {
namespace {

class EventBalloonTest : public ::testing::Test {
 protected:
  // Runs the loop until `done`, for at most a generous while.
  template <typename Done>
  bool waitFor(Done done) {
    QDeadlineTimer deadline(30000);
    while (!done()) {
      if (deadline.hasExpired()) return false;
      test::spinLoop(20);
    }
    return true;
  }

  test::WindowTestApp app_;
  QStringList shown_;
  bool menuOpen_ = false;
  EventBalloon balloon_{[this](const QString& text) { shown_.append(text); },
                        [this] { return menuOpen_; }};
};

TEST_F(EventBalloonTest, EventsWhileItShowsAreCountedIntoOneUpdate) {
  balloon_.eventDetected();
  EXPECT_EQ(shown_, QStringList{"Event detected!"});
  balloon_.eventDetected();
  balloon_.eventDetected();
  EXPECT_EQ(shown_.size(), 1) << "no balloon per event";
  ASSERT_TRUE(waitFor([&] { return shown_.size() == 2; }));
  EXPECT_EQ(shown_.last(), "3 events detected!");

  balloon_.eventDetected();
  ASSERT_TRUE(waitFor([&] { return shown_.size() == 3; }));
  EXPECT_EQ(shown_.last(), "4 events detected!") << "the count goes on while one shows";
}

TEST_F(EventBalloonTest, TheUpdateWaitsForTheTrayMenuAndAClickStartsAfresh) {
  balloon_.eventDetected();
  menuOpen_ = true;
  balloon_.eventDetected();
  test::spinLoop(EventBalloon::kUpdateMs + 200);
  EXPECT_EQ(shown_.size(), 1) << "not over the open menu";
  menuOpen_ = false;
  ASSERT_TRUE(waitFor([&] { return shown_.size() == 2; }));
  EXPECT_EQ(shown_.last(), "2 events detected!");

  balloon_.dismissed();
  balloon_.eventDetected();
  EXPECT_EQ(shown_.last(), "Event detected!");
  EXPECT_EQ(balloon_.count(), 1);
}

}  // namespace
}  // namespace ravdel
