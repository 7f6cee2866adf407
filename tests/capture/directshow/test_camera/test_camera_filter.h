#pragma once

#include <dshow.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "capture/directshow/com_ref.h"
#include "test_camera/test_camera_api.h"

namespace ravdel::testcam {

// What the tests steer and read, per camera; shared by every filter object of that camera.
struct DeviceControl {
  std::atomic<bool> unplugged{false};
  std::atomic<bool> endStreamRequested{false};
  std::atomic<bool> stalled{false};
  std::atomic<DWORD> refusedFourcc{kNoRefusal};
  std::atomic<ULONGLONG> framesSent{0};
  std::atomic<DWORD> workerThread{0};
  std::atomic<LONGLONG> frameInterval{kDefaultInterval};
  std::atomic<DWORD> currentFourcc{0};
  std::atomic<DWORD> quirks{0};
};
DeviceControl& control(int device);

// The DLL's live COM objects (the DLL may unload when it is 0 and not locked).
extern std::atomic<LONG> gLiveObjects;
extern std::atomic<LONG> gServerLocks;

// The capabilities a filter of the camera made now reports, with its quirks.
std::vector<Capability> capabilitiesOf(int device);
// The bytes of one frame as the camera lays it out, padding included.
std::int64_t frameBytes(const Capability& capability);
// The media type a capability is reported with, at `interval`; its format block is allocated
// with CoTaskMemAlloc.
bool makeMediaType(const Capability& capability, LONGLONG interval, AM_MEDIA_TYPE& type);
// The capability of `capabilities` a media type names (subtype, block kind and size), or -1.
int findCapability(const std::vector<Capability>& capabilities, const AM_MEDIA_TYPE& type);

class TestCameraFilter;

// The creation point for the class factory: a filter of camera `device` with one reference.
HRESULT createTestCameraFilter(int device, REFIID iid, void** object);

}  // namespace ravdel::testcam
