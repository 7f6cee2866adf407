#include "capture/directshow/device_enumeration.h"

#include "capture/directshow/com_support.h"

namespace ravdel::dshow {
namespace {

// S_OK with the property's text, or what the read returned.
HRESULT readText(IPropertyBag& bag, const wchar_t* property, std::string& text) {
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = bag.Read(property, &value, nullptr);
  if (hr == S_OK) {
    if (value.vt == VT_BSTR) {
      text = utf8FromWide(value.bstrVal);
    } else {
      hr = DISP_E_TYPEMISMATCH;
    }
  }
  VariantClear(&value);
  return hr;
}

// S_OK with the name (and the path, which a device may lack), or what the bind or the read of
// the name returned.
HRESULT readDevice(IMoniker& moniker, VideoInputDevice& device) {
  ComRef<IPropertyBag> bag;
  const HRESULT hr = moniker.BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid());
  if (hr != S_OK) return hr;
  if (readText(*bag.get(), L"DevicePath", device.devicePath) != S_OK) device.devicePath.clear();
  return readText(*bag.get(), L"FriendlyName", device.friendlyName);
}

}  // namespace

VideoInputEnumeration enumerateVideoInputs(DWORD context) {
  VideoInputEnumeration result;
  ComRef<ICreateDevEnum> deviceEnum;
  result.created = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, context, IID_ICreateDevEnum,
                                    deviceEnum.putVoid());
  if (FAILED(result.created)) return result;
  ComRef<IEnumMoniker> monikers;
  result.created =
      deviceEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0);
  if (FAILED(result.created)) return result;
  if (!monikers) {
    if (result.created == S_OK) result.created = S_FALSE;
    return result;
  }
  for (;;) {
    ComRef<IMoniker> moniker;
    ULONG fetched = 0;
    result.ended = monikers->Next(1, moniker.put(), &fetched);
    if (result.ended != S_OK || !moniker) break;
    VideoInputDevice device;
    result.ended = readDevice(*moniker.get(), device);
    if (result.ended != S_OK) break;
    device.moniker = std::move(moniker);
    result.devices.push_back(std::move(device));
  }
  return result;
}

namespace {

// One text of every device, in enumeration order.
HResult listEach(std::vector<std::string>& list, std::string VideoInputDevice::*text) {
  list.clear();
  const VideoInputEnumeration found = enumerateVideoInputs(CLSCTX_INPROC_SERVER);
  if (FAILED(found.created) || found.created == S_FALSE) return found.created;
  for (const VideoInputDevice& device : found.devices)
    list.push_back(device.*text);
  return found.created;
}

}  // namespace

HResult ListVideoDevices(std::vector<std::string>& list) {
  return listEach(list, &VideoInputDevice::friendlyName);
}

HResult ListVideoDevicePaths(std::vector<std::string>& paths) {
  return listEach(paths, &VideoInputDevice::devicePath);
}

}  // namespace ravdel::dshow
