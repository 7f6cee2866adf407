#include "app/window/failure_box.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "window_test_app.h"

namespace ravdel {
namespace {

TEST(FailureBoxTest, FullStopOnlyAfterCharactersSortingAfterTheDot) {
  EXPECT_EQ(failureText("Unable to write to a/RVD.ini"), "Unable to write to a/RVD.ini.");
  EXPECT_EQ(failureText("Error 5"), "Error 5.");
  EXPECT_EQ(failureText("Could not start!"), "Could not start!");
  EXPECT_EQ(failureText("Done."), "Done.");
  EXPECT_EQ(failureText("Path /"), "Path /.");  // '/' sorts right after '.'
  EXPECT_EQ(failureText("Range -"), "Range -");
  EXPECT_EQ(failureText(""), "");
  EXPECT_EQ(failureText("Gr\xC3\xBC\xC3\x9F"), "Gr\xC3\xBC\xC3\x9F.");  // UTF-8 tail bytes
}

TEST(FailureBoxTest, GuardedHandlerShowsTheExceptionInTheRavdelErrorBox) {
  test::WindowTestApp app;
  test::BoxSeen seen;
  test::answerNextBox(seen);
  guarded(nullptr, [] { throw std::runtime_error("Unable to write to x"); });
  EXPECT_TRUE(seen.shown);
  EXPECT_EQ(seen.title, "Ravdel");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.text, "Unable to write to x.");
}

}  // namespace
}  // namespace ravdel
