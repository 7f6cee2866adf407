#include "capture/directshow/failure_text.h"

#include <gtest/gtest.h>

#include <string>

namespace ravdel::dshow {
namespace {

// What a failed start means for a camera, as Windows documents the results.
TEST(FailureTextTest, NamesTheCallTheResultAndWhatItMeans) {
  const struct {
    HRESULT result;
    const char* text;
  } cases[] = {
      {E_ACCESSDENIED,
       "IMediaControl::Run failed with 0x80070005: access denied: the camera privacy setting "
       "(Settings, Privacy, Camera: let desktop apps access your camera) blocks it, or another "
       "program holds it"},
      {HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES),
       "IMediaControl::Run failed with 0x800705AA: the camera is in use by another program, or "
       "its USB bus has no bandwidth left"},
      {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION),
       "IMediaControl::Run failed with 0x80070020: the camera is in use by another program"},
      {REGDB_E_CLASSNOTREG,
       "IMediaControl::Run failed with 0x80040154: not registered on this system"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(failureText("IMediaControl::Run", c.result), c.text);
  // Any other result: the system's own words, when it has some.
  const std::string other = failureText("IMoniker::BindToObject", E_OUTOFMEMORY);
  EXPECT_EQ(other.rfind("IMoniker::BindToObject failed with 0x8007000E", 0), 0u) << other;
  EXPECT_NE(other.back(), '\n');
}

}  // namespace
}  // namespace ravdel::dshow
