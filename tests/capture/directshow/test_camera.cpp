#include "test_camera.h"

#include <cstdio>
#include <thread>

namespace ravdel::test {
namespace {

struct LoadedCamera {
  testcam::Steering steering{};
  std::string problem;
};

template <typename Function>
void bind(HMODULE module, const char* name, Function& function, std::string& problem) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (function == nullptr && problem.empty()) problem = std::string("no export ") + name;
}

// The DLL the registry names for the first camera: the very module COM loads, so the
// steering and the filters share their state.
LoadedCamera load() {
  LoadedCamera loaded;
  wchar_t clsid[40] = {};
  StringFromGUID2(testcam::kClsids[0], clsid, 40);
  const std::wstring key = std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32";
  wchar_t path[MAX_PATH] = {};
  DWORD size = sizeof path;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) !=
      ERROR_SUCCESS) {
    loaded.problem = "the test camera is not registered (regsvr32 ravdel_test_camera.dll)";
    return loaded;
  }
  HMODULE module = LoadLibraryW(path);  // kept for the process: COM's reference comes and goes
  if (module == nullptr) {
    loaded.problem = "the registered test camera DLL does not load";
    return loaded;
  }
  testcam::Steering& s = loaded.steering;
  bind(module, "RavdelTestCamera_LiveObjects", s.liveObjects, loaded.problem);
  bind(module, "RavdelTestCamera_SetUnplugged", s.setUnplugged, loaded.problem);
  bind(module, "RavdelTestCamera_EndStream", s.endStream, loaded.problem);
  bind(module, "RavdelTestCamera_SetStalled", s.setStalled, loaded.problem);
  bind(module, "RavdelTestCamera_RefuseFormat", s.refuseFormat, loaded.problem);
  bind(module, "RavdelTestCamera_FramesSent", s.framesSent, loaded.problem);
  bind(module, "RavdelTestCamera_WorkerThread", s.workerThread, loaded.problem);
  bind(module, "RavdelTestCamera_FrameInterval", s.frameInterval, loaded.problem);
  bind(module, "RavdelTestCamera_CurrentFourcc", s.currentFourcc, loaded.problem);
  bind(module, "RavdelTestCamera_SetQuirks", s.setQuirks, loaded.problem);
  bind(module, "RavdelTestCamera_SetFriendlyName", s.setFriendlyName, loaded.problem);
  bind(module, "RavdelTestCamera_Reset", s.reset, loaded.problem);
  return loaded;
}

const LoadedCamera& loaded() {
  static const LoadedCamera camera = load();
  return camera;
}

}  // namespace

::testing::AssertionResult succeeded(long hr) {
  if (hr == S_OK || hr == S_FALSE) return ::testing::AssertionSuccess();
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
  return ::testing::AssertionFailure() << "failed with " << text;
}

const testcam::Steering& testCamera() {
  return loaded().steering;
}

const std::string& testCameraProblem() {
  return loaded().problem;
}

void enterCameraTest(std::unique_ptr<dshow::ComApartment>& apartment) {
  apartment = std::make_unique<dshow::ComApartment>(COINIT_APARTMENTTHREADED);
  ASSERT_TRUE(apartment->usable());
  ASSERT_EQ(testCameraProblem(), "");
  testCamera().reset();
}

void leaveCameraTest(std::unique_ptr<dshow::ComApartment>& apartment) {
  if (!testCameraProblem().empty()) return;
  testCamera().reset();
  EXPECT_EQ(testCamera().liveObjects(), 0) << "COM objects of the test camera still referenced";
  apartment.reset();
}

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void pumpFor(std::chrono::milliseconds time) {
  const auto until = std::chrono::steady_clock::now() + time;
  pumpUntil([&] { return std::chrono::steady_clock::now() >= until; }, time * 2);
}

}  // namespace ravdel::test
