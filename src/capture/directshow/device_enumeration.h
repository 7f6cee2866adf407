#pragma once

#include <dshow.h>

#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/directshow/com_ref.h"

namespace ravdel::dshow {

// ListVideoDevices: the friendly names of the video input devices, as read (not
// trimmed), in the system device enumerator's order, up to the first device whose name cannot
// be read. S_OK (whatever the count), S_FALSE with an empty list when the category is empty,
// or the failure of creating the enumerator. Main thread, COM initialised.
HResult ListVideoDevices(std::vector<std::string>& list);

// ListVideoDevices' devices' paths, in its order: the DevicePath each moniker's property bag
// holds, "" for a device without one (a DirectShow filter registered as a camera).
HResult ListVideoDevicePaths(std::vector<std::string>& paths);

struct VideoInputDevice {
  std::string friendlyName;  // as read, UTF-8
  std::string devicePath;    // as read, UTF-8; empty when the device has none
  ComRef<IMoniker> moniker;
};

// The devices of CLSID_VideoInputDeviceCategory in enumeration order, each with its moniker.
struct VideoInputEnumeration {
  // Of CoCreateInstance or CreateClassEnumerator: S_FALSE when no enumerator came back (no
  // device at all), a failure when the enumerator could not be made.
  HRESULT created = S_OK;
  // What ended the walk: S_FALSE at the end of the list, or the first fetch, property-bag bind
  // or FriendlyName read that did not return S_OK.
  HRESULT ended = S_FALSE;
  std::vector<VideoInputDevice> devices;
};

// `context` is the CoCreateInstance context of the system device enumerator:
// CLSCTX_INPROC_SERVER for the list, with CLSCTX_INPROC_HANDLER added for the search.
VideoInputEnumeration enumerateVideoInputs(DWORD context);

}  // namespace ravdel::dshow
