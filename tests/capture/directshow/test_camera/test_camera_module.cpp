// The COM server of the test camera: class factories, registration under the video input
// device category (regsvr32), and the steering exports for tests.

#include <dshow.h>
#include <olectl.h>
#include <windows.h>

#include <atomic>
#include <new>
#include <string>

#include "capture/directshow/com_object.h"
#include "capture/directshow/com_ref.h"
#include "capture/directshow/com_support.h"
#include "test_camera/test_camera_filter.h"

// The class factory implements a system COM interface, whose destructor is not virtual: the
// object frees itself in Release.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

using ravdel::dshow::ComRef;
namespace testcam = ravdel::testcam;

namespace {

HMODULE gModule = nullptr;

class ClassFactory final : public ravdel::dshow::ComObject<IClassFactory, IID_IClassFactory> {
 public:
  explicit ClassFactory(int device) : device_(device) { testcam::gLiveObjects.fetch_add(1); }
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return testcam::createTestCameraFilter(device_, iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    testcam::gServerLocks.fetch_add(lock ? 1 : -1);
    return S_OK;
  }

 private:
  ~ClassFactory() override { testcam::gLiveObjects.fetch_sub(1); }

  const int device_;
};

std::wstring guidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

LSTATUS setString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// HKCR\CLSID\{clsid}: the name, and InprocServer32 with this DLL's path, free-threaded.
HRESULT registerServer(int device, const std::wstring& modulePath) {
  const std::wstring path = L"CLSID\\" + guidText(testcam::kClsids[device]);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  setString(key, nullptr, testcam::kNames[device]);
  HKEY server = nullptr;
  LSTATUS status =
      RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr);
  if (status == ERROR_SUCCESS) {
    status = setString(server, nullptr, modulePath);
    if (status == ERROR_SUCCESS) status = setString(server, L"ThreadingModel", L"Both");
    RegCloseKey(server);
  }
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

// The key the filter mapper keeps a camera's entry of the video input category under, whose
// values the device enumerator's property bag reads.
std::wstring instanceKey(int device) {
  return L"CLSID\\" + guidText(CLSID_VideoInputDeviceCategory) + L"\\Instance\\" +
         guidText(testcam::kClsids[device]);
}

// One value of a camera's entry; false when the entry is not there.
bool setInstanceValue(int device, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, instanceKey(device).c_str(), 0, KEY_SET_VALUE, &key) !=
      ERROR_SUCCESS)
    return false;
  const bool set = setString(key, name, value) == ERROR_SUCCESS;
  RegCloseKey(key);
  return set;
}

// Through the filter mapper, as a capture driver's filter is registered: under
// CLSID_VideoInputDeviceCategory, with one video output pin.
HRESULT registerFilters(bool install) {
  const ravdel::dshow::ComApartment apartment;
  ComRef<IFilterMapper2> mapper;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFilterMapper2, mapper.putVoid());
  if (FAILED(hr)) return hr;
  for (int device = 0; device < testcam::kDevices; ++device) {
    if (!install) {
      hr = mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, nullptr,
                                    testcam::kClsids[device]);
      continue;
    }
    REGPINTYPES types{&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};
    REGFILTERPINS pin{};
    pin.bOutput = TRUE;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &types;
    REGFILTER2 filter{};
    filter.dwVersion = 1;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins = 1;
    filter.rgPins = &pin;
    hr = mapper->RegisterFilter(testcam::kClsids[device], testcam::kNames[device], nullptr,
                                &CLSID_VideoInputDeviceCategory, nullptr, &filter);
    if (FAILED(hr)) return hr;
    // A camera's own path, as a driver's device interface has one.
    if (!setInstanceValue(device, L"DevicePath", testcam::kDevicePaths[device]))
      return SELFREG_E_CLASS;
  }
  return install ? hr : S_OK;
}

}  // namespace

extern "C" {
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
}

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    gModule = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  for (int device = 0; device < testcam::kDevices; ++device) {
    if (!IsEqualCLSID(clsid, testcam::kClsids[device])) continue;
    auto* factory = new (std::nothrow) ClassFactory(device);
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT WINAPI DllCanUnloadNow() {
  return testcam::gLiveObjects.load() == 0 && testcam::gServerLocks.load() == 0 ? S_OK : S_FALSE;
}

HRESULT WINAPI DllRegisterServer() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(gModule, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;
  for (int device = 0; device < testcam::kDevices; ++device) {
    if (const HRESULT hr = registerServer(device, path); FAILED(hr)) return hr;
  }
  return registerFilters(true);
}

HRESULT WINAPI DllUnregisterServer() {
  registerFilters(false);
  for (int device = 0; device < testcam::kDevices; ++device) {
    const std::wstring path = L"CLSID\\" + guidText(testcam::kClsids[device]);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  }
  return S_OK;
}

// ---- Steering (test_camera_api.h) ----

LONG WINAPI RavdelTestCamera_LiveObjects() {
  return testcam::gLiveObjects.load();
}

void WINAPI RavdelTestCamera_SetUnplugged(int device, BOOL unplugged) {
  testcam::control(device).unplugged.store(unplugged != FALSE);
}

void WINAPI RavdelTestCamera_EndStream(int device) {
  testcam::control(device).endStreamRequested.store(true);
}

void WINAPI RavdelTestCamera_SetStalled(int device, BOOL stalled) {
  testcam::control(device).stalled.store(stalled != FALSE);
}

void WINAPI RavdelTestCamera_RefuseFormat(int device, DWORD fourcc) {
  testcam::control(device).refusedFourcc.store(fourcc);
}

ULONGLONG WINAPI RavdelTestCamera_FramesSent(int device) {
  return testcam::control(device).framesSent.load();
}

DWORD WINAPI RavdelTestCamera_WorkerThread(int device) {
  return testcam::control(device).workerThread.load();
}

LONGLONG WINAPI RavdelTestCamera_FrameInterval(int device) {
  return testcam::control(device).frameInterval.load();
}

DWORD WINAPI RavdelTestCamera_CurrentFourcc(int device) {
  return testcam::control(device).currentFourcc.load();
}

void WINAPI RavdelTestCamera_SetQuirks(int device, DWORD quirks) {
  testcam::control(device).quirks.store(quirks);
}

BOOL WINAPI RavdelTestCamera_SetFriendlyName(int device, const wchar_t* name) {
  return setInstanceValue(device, L"FriendlyName",
                          name != nullptr ? name : testcam::kNames[device]);
}

void WINAPI RavdelTestCamera_Reset() {
  for (int device = 0; device < testcam::kDevices; ++device) {
    testcam::DeviceControl& c = testcam::control(device);
    c.unplugged.store(false);
    c.endStreamRequested.store(false);
    c.stalled.store(false);
    c.refusedFourcc.store(testcam::kNoRefusal);
    c.framesSent.store(0);
    c.workerThread.store(0);
    c.quirks.store(0);
    RavdelTestCamera_SetFriendlyName(device, nullptr);
  }
}

}  // extern "C"
