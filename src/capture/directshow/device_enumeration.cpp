#include "capture/directshow/device_enumeration.h"

#include "capture/directshow/com_support.h"

namespace ravdel::dshow {
namespace {

// S_OK with the name, or what the bind or the read returned.
HRESULT readFriendlyName(IMoniker& moniker, std::string& name) {
  ComRef<IPropertyBag> bag;
  HRESULT hr = moniker.BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid());
  if (hr != S_OK) return hr;
  VARIANT value;
  VariantInit(&value);
  hr = bag->Read(L"FriendlyName", &value, nullptr);
  if (hr == S_OK) {
    if (value.vt == VT_BSTR) {
      name = utf8FromWide(value.bstrVal);
    } else {
      hr = DISP_E_TYPEMISMATCH;
    }
  }
  VariantClear(&value);
  return hr;
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
    result.ended = readFriendlyName(*moniker.get(), device.friendlyName);
    if (result.ended != S_OK) break;
    device.moniker = std::move(moniker);
    result.devices.push_back(std::move(device));
  }
  return result;
}

HResult ListVideoDevices(std::vector<std::string>& list) {
  list.clear();
  const VideoInputEnumeration found = enumerateVideoInputs(CLSCTX_INPROC_SERVER);
  if (FAILED(found.created) || found.created == S_FALSE) return found.created;
  for (const VideoInputDevice& device : found.devices)
    list.push_back(device.friendlyName);
  return found.created;
}

}  // namespace ravdel::dshow
