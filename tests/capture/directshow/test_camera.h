#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "capture/directshow/com_support.h"
#include "test_camera/test_camera_api.h"

namespace ravdel::test {

// A capture result that counts as success: S_OK, or S_FALSE, which IMediaControl::Run answers
// while a filter (the renderer waiting for its first sample) is still on its way to running.
::testing::AssertionResult succeeded(long hr);

// The registered test camera DLL, loaded into this process from the path regsvr32 wrote, with
// its steering functions. Null functions when the camera is not registered.
const testcam::Steering& testCamera();
// Why testCamera() is not there; empty when it is.
const std::string& testCameraProblem();

// Handles this thread's window messages until `done`, for at most `limit`.
bool pumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(10));
// Handles this thread's window messages for `time`.
void pumpFor(std::chrono::milliseconds time);

// The set-up and the checks of DirectShowTestOn.
void enterCameraTest(std::unique_ptr<dshow::ComApartment>& apartment);
void leaveCameraTest(std::unique_ptr<dshow::ComApartment>& apartment);

// Every test of DirectShow capture: COM on this thread as the program has it (a single-threaded
// apartment), the test cameras plugged in and counted from zero, and at the end no COM object
// of the camera DLL left alive: every reference the capture code took has been released.
// `Base` is the fixture it extends (a temporary folder, say); a derived fixture lets go of
// its capture objects before this TearDown counts.
template <typename Base = ::testing::Test>
class DirectShowTestOn : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    if (!this->HasFatalFailure()) enterCameraTest(apartment_);
  }
  void TearDown() override {
    leaveCameraTest(apartment_);
    Base::TearDown();
  }

  const testcam::Steering& camera() const { return testCamera(); }
  static bool pumpUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return test::pumpUntil(done, limit);
  }
  static void pumpFor(std::chrono::milliseconds time) { test::pumpFor(time); }

 private:
  std::unique_ptr<dshow::ComApartment> apartment_;
};
using DirectShowTest = DirectShowTestOn<>;

}  // namespace ravdel::test
