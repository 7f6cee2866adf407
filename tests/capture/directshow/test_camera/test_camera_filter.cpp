#include "test_camera/test_camera_filter.h"

#include <dvdmedia.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "base/frame_bitmap.h"
#include "capture/directshow/com_object.h"
#include "capture/directshow/com_support.h"
#include "capture/simulated/synthetic_source.h"
#include "support/jpeg_encode.h"

// The classes below implement system COM interfaces, whose destructors are not virtual: the
// objects free themselves in Release, never through an interface pointer.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace ravdel::testcam {

using dshow::ComObject;
using dshow::ComRef;

std::atomic<LONG> gLiveObjects{0};
std::atomic<LONG> gServerLocks{0};

namespace {

constexpr wchar_t kPinName[] = L"Capture";

DeviceControl gControls[kDevices];

// Counts a COM object of the DLL from its construction to its destruction.
struct LiveObject {
  LiveObject() { gLiveObjects.fetch_add(1); }
  ~LiveObject() { gLiveObjects.fetch_sub(1); }
  LiveObject(const LiveObject&) = delete;
  LiveObject& operator=(const LiveObject&) = delete;
};

// Bytes from one row of the first plane to the next, padding included; RGB rows of a bitmap
// end on four bytes.
std::int64_t strideOf(const Capability& c) {
  const std::int64_t pixels = std::int64_t{c.width} + c.padPixels;
  if (c.fourcc == kYuy2) return pixels * 2;
  if (c.fourcc == kI420) return pixels;
  return (pixels * 3 + 3) / 4 * 4;
}

WORD bitsPerPixel(const Capability& c) {
  if (c.fourcc == kYuy2) return 16;
  if (c.fourcc == kI420) return 12;
  return 24;
}

GUID subtypeOf(const Capability& c) {
  return c.fourcc == kRgb24 ? MEDIASUBTYPE_RGB24 : dshow::subtypeFromFourcc(c.fourcc);
}

// The bitmap header of either kind of format block; null for any other.
const BITMAPINFOHEADER* bitmapHeader(const AM_MEDIA_TYPE& type) {
  if (type.pbFormat == nullptr) return nullptr;
  if (IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.cbFormat >= sizeof(VIDEOINFOHEADER))
    return &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  if (IsEqualGUID(type.formattype, FORMAT_VideoInfo2) && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
    return &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
  return nullptr;
}

LONGLONG* frameIntervalField(AM_MEDIA_TYPE& type) {
  if (IsEqualGUID(type.formattype, FORMAT_VideoInfo2))
    return &reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame;
  return &reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
}

// The header fields and rectangles both kinds of block share.
template <typename Block>
void describe(Block& info, const Capability& c, LONGLONG interval, DWORD bytes) {
  info.AvgTimePerFrame = interval;
  info.dwBitRate = static_cast<DWORD>(std::min<LONGLONG>(
      0xffffffff, LONGLONG{bytes} * 8 * 10000000 / std::max<LONGLONG>(interval, 1)));
  if (c.padPixels != 0) info.rcSource = info.rcTarget = RECT{0, 0, c.width, c.height};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = c.width + c.padPixels;
  info.bmiHeader.biHeight = c.topDown ? -c.height : c.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bitsPerPixel(c);
  info.bmiHeader.biCompression = c.fourcc;  // BI_RGB is 0
  info.bmiHeader.biSizeImage = bytes;
}

// A partial type (GUID_NULL fields are wildcards) that `full` satisfies.
bool satisfies(const AM_MEDIA_TYPE& full, const AM_MEDIA_TYPE& partial) {
  const auto fits = [](const GUID& wanted, const GUID& have) {
    return IsEqualGUID(wanted, GUID_NULL) || IsEqualGUID(wanted, have);
  };
  return fits(partial.majortype, full.majortype) && fits(partial.subtype, full.subtype) &&
         fits(partial.formattype, full.formattype);
}

AM_MEDIA_TYPE* allocateMediaTypeCopy(const AM_MEDIA_TYPE& type) {
  auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (copy == nullptr) return nullptr;
  if (!dshow::copyMediaType(type, *copy)) {
    CoTaskMemFree(copy);
    return nullptr;
  }
  return copy;
}

// A media type owned here, freed with its format block.
class OwnedMediaType {
 public:
  OwnedMediaType() = default;
  ~OwnedMediaType() { dshow::freeMediaTypeContents(type_); }
  OwnedMediaType(const OwnedMediaType&) = delete;
  OwnedMediaType& operator=(const OwnedMediaType&) = delete;
  AM_MEDIA_TYPE& get() { return type_; }
  const AM_MEDIA_TYPE& get() const { return type_; }
  void clear() {
    dshow::freeMediaTypeContents(type_);
    type_ = AM_MEDIA_TYPE{};
  }

 private:
  AM_MEDIA_TYPE type_{};
};

}  // namespace

DeviceControl& control(int device) {
  return gControls[device];
}

std::vector<Capability> capabilitiesOf(int device) {
  const std::span<const Capability> plain(device == 0
                                              ? std::span<const Capability>(kCapabilities0)
                                              : std::span<const Capability>(kCapabilities1));
  const DWORD quirks = control(device).quirks.load();
  std::vector<Capability> caps(plain.begin(), plain.end());
  if ((quirks & kQuirkPadded) != 0) {
    for (Capability& c : caps) {
      if (c.fourcc != kMjpg) c.padPixels = kPadPixels;
    }
  }
  if ((quirks & kQuirkTwins) != 0) {
    for (std::size_t i = 0, n = caps.size(); i < n; ++i) {
      caps.push_back(caps[i]);
      caps.back().videoInfo2 = true;
    }
  }
  return caps;
}

std::int64_t frameBytes(const Capability& c) {
  const std::int64_t stride = strideOf(c);
  if (c.fourcc == kI420) return stride * c.height + 2 * (stride / 2) * ((c.height + 1) / 2);
  if (c.fourcc == kMjpg) return std::int64_t{c.width} * c.height * 3;  // the most a picture takes
  return stride * c.height;
}

bool makeMediaType(const Capability& c, LONGLONG interval, AM_MEDIA_TYPE& type) {
  type = AM_MEDIA_TYPE{};
  const auto bytes = static_cast<DWORD>(frameBytes(c));
  const ULONG blockSize = c.videoInfo2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER);
  BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(blockSize));
  if (block == nullptr) return false;
  if (c.videoInfo2) {
    auto* info = new (block) VIDEOINFOHEADER2{};
    describe(*info, c, interval, bytes);
  } else {
    auto* info = new (block) VIDEOINFOHEADER{};
    describe(*info, c, interval, bytes);
  }
  type.majortype = MEDIATYPE_Video;
  type.subtype = subtypeOf(c);
  type.bFixedSizeSamples = c.fourcc != kMjpg;
  type.bTemporalCompression = FALSE;
  type.lSampleSize = bytes;
  type.formattype = c.videoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
  type.cbFormat = blockSize;
  type.pbFormat = block;
  return true;
}

int findCapability(const std::vector<Capability>& caps, const AM_MEDIA_TYPE& type) {
  const BITMAPINFOHEADER* header = bitmapHeader(type);
  if (!IsEqualGUID(type.majortype, MEDIATYPE_Video) || header == nullptr) return -1;
  const bool videoInfo2 = IsEqualGUID(type.formattype, FORMAT_VideoInfo2);
  for (std::size_t i = 0; i < caps.size(); ++i) {
    const Capability& c = caps[i];
    if (IsEqualGUID(type.subtype, subtypeOf(c)) && c.videoInfo2 == videoInfo2 &&
        header->biWidth == c.width + c.padPixels && std::abs(header->biHeight) == c.height)
      return static_cast<int>(i);
  }
  return -1;
}

// ---- The filter and its pin ----

class TestCameraFilter;

// The capture pin. Its lifetime and reference count are the filter's.
class OutputPin final : public IPin, public IKsPropertySet, public IAMStreamConfig {
 public:
  explicit OutputPin(TestCameraFilter& filter) : filter_(filter) {}
  virtual ~OutputPin() = default;
  OutputPin(const OutputPin&) = delete;
  OutputPin& operator=(const OutputPin&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override {
    return E_UNEXPECTED;  // an output pin
  }
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override {
    if (direction == nullptr) return E_POINTER;
    *direction = PINDIR_OUTPUT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override {
    return S_OK;
  }
  // IKsPropertySet: the pin category, and nothing else.
  HRESULT STDMETHODCALLTYPE Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override {
    return E_PROP_SET_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size,
                                DWORD* returned) override;
  HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;
  // IAMStreamConfig
  HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override;
  HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
  HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

  // The filter's lock held.
  bool connected() const { return static_cast<bool>(connected_); }
  int formatIndex() const { return formatIndex_; }
  LONGLONG interval() const { return interval_; }
  ComRef<IPin> peer() const { return connected_; }
  ComRef<IMemInputPin> input() const { return input_; }
  ComRef<IMemAllocator> allocator() const { return allocator_; }

 private:
  HRESULT connectWith(IPin* receivePin, int index);
  // `extra`: bytes beyond a frame in every buffer, as some drivers allocate them.
  HRESULT decideAllocator(IPin* receivePin, const AM_MEDIA_TYPE& type, long extra);
  void dropConnection();

  TestCameraFilter& filter_;
  // Guarded by the filter's lock.
  ComRef<IPin> connected_;
  ComRef<IMemInputPin> input_;
  ComRef<IMemAllocator> allocator_;
  OwnedMediaType connectionType_;
  int formatIndex_ = 0;  // the capability streamed: the first until SetFormat
  bool formatSet_ = false;
  LONGLONG interval_ = kDefaultInterval;
};

class TestCameraFilter final
    : public ComObject<IBaseFilter, IID_IPersist, IID_IMediaFilter, IID_IBaseFilter> {
 public:
  explicit TestCameraFilter(int device)
      : device_(device),
        control_(control(device)),
        capabilities_(capabilitiesOf(device)),
        pin_(*this) {
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    control_.currentFourcc.store(capabilities_[0].fourcc);
    control_.frameInterval.store(kDefaultInterval);
  }
  TestCameraFilter(const TestCameraFilter&) = delete;
  TestCameraFilter& operator=(const TestCameraFilter&) = delete;

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (clsid == nullptr) return E_POINTER;
    *clsid = kClsids[device_];
    return S_OK;
  }
  // IMediaFilter
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
    if (state == nullptr) return E_POINTER;
    *state = static_cast<FILTER_STATE>(state_.load());
    return *state == State_Paused ? VFW_S_CANT_CUE : S_OK;  // a live source
  }
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override {
    const std::lock_guard lock(mutex_);
    clock_ = ComRef<IReferenceClock>::share(clock);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
    if (clock == nullptr) return E_POINTER;
    const std::lock_guard lock(mutex_);
    *clock = ComRef<IReferenceClock>(clock_).detach();
    return S_OK;
  }
  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override {
    if (id == nullptr || pin == nullptr) return E_POINTER;
    if (std::wcscmp(id, kPinName) != 0) {
      *pin = nullptr;
      return VFW_E_NOT_FOUND;
    }
    *pin = &pin_;
    pin_.AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
    if (info == nullptr) return E_POINTER;
    const std::lock_guard lock(mutex_);
    *info = FILTER_INFO{};
    wcsncpy_s(info->achName, name_.c_str(), _TRUNCATE);
    info->pGraph = graph_;
    if (graph_ != nullptr) graph_->AddRef();
    return S_OK;
  }
  // The graph holds the filter, so the filter does not hold the graph.
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
    const std::lock_guard lock(mutex_);
    graph_ = graph;
    name_ = name != nullptr ? name : L"";
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  // For the pin and the enumerators.
  std::recursive_mutex& mutex() { return mutex_; }
  FILTER_STATE state() const { return static_cast<FILTER_STATE>(state_.load()); }
  int device() const { return device_; }
  // What this filter reports, fixed for its life.
  const std::vector<Capability>& capabilities() const { return capabilities_; }
  IFilterGraph* graph() const { return graph_; }  // the lock held
  IPin* pin() { return &pin_; }
  DeviceControl& steering() { return control_; }

 private:
  ~TestCameraFilter() override {
    Stop();
    CloseHandle(stopEvent_);
  }
  // The lock held.
  HRESULT refusal() const;
  void startWorker();
  // Streaming thread.
  void stream(int formatIndex, LONGLONG interval, ComRef<IPin> peer, ComRef<IMemInputPin> input,
              ComRef<IMemAllocator> allocator);
  void notify(long code, LONG_PTR first, LONG_PTR second);

  const LiveObject live_;
  const int device_;
  DeviceControl& control_;
  const std::vector<Capability> capabilities_;
  // Guards graph_, name_, clock_, the pin's connection and format, and the state changes.
  // Recursive: a downstream pin calls back into ours while we connect to it.
  std::recursive_mutex mutex_;
  std::atomic<int> state_{State_Stopped};  // read by the worker without the lock
  IFilterGraph* graph_ = nullptr;
  std::wstring name_;
  ComRef<IReferenceClock> clock_;
  OutputPin pin_;
  HANDLE stopEvent_ = nullptr;  // set by Stop; the worker waits on it between frames
  std::thread worker_;          // runs while the filter is paused or running
};

// ---- Enumerators ----

class PinEnumerator final : public ComObject<IEnumPins, IID_IEnumPins> {
 public:
  PinEnumerator(TestCameraFilter* filter, ULONG position)
      : filter_(ComRef<TestCameraFilter>::share(filter)), position_(position) {}
  PinEnumerator(const PinEnumerator&) = delete;
  PinEnumerator& operator=(const PinEnumerator&) = delete;

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (pins == nullptr) return E_POINTER;
    ULONG given = 0;
    while (given < count && position_ < 1) {
      pins[given] = filter_->pin();
      pins[given]->AddRef();
      ++given;
      ++position_;
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    position_ += count;
    return position_ <= 1 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = new (std::nothrow) PinEnumerator(filter_.get(), position_);
    return *copy != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~PinEnumerator() override = default;

  const LiveObject live_;
  ComRef<TestCameraFilter> filter_;
  ULONG position_;
};

class MediaTypeEnumerator final : public ComObject<IEnumMediaTypes, IID_IEnumMediaTypes> {
 public:
  MediaTypeEnumerator(TestCameraFilter* filter, std::vector<int> indices, LONGLONG interval,
                      ULONG position)
      : filter_(ComRef<TestCameraFilter>::share(filter)),
        indices_(std::move(indices)),
        interval_(interval),
        position_(position) {}
  MediaTypeEnumerator(const MediaTypeEnumerator&) = delete;
  MediaTypeEnumerator& operator=(const MediaTypeEnumerator&) = delete;

  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    if (types == nullptr) return E_POINTER;
    ULONG given = 0;
    const std::vector<Capability>& caps = filter_->capabilities();
    while (given < count && position_ < indices_.size()) {
      AM_MEDIA_TYPE type;
      if (!makeMediaType(caps[static_cast<std::size_t>(indices_[position_])], interval_, type))
        break;
      types[given] = allocateMediaTypeCopy(type);
      dshow::freeMediaTypeContents(type);
      if (types[given] == nullptr) break;
      ++given;
      ++position_;
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    position_ += count;
    return position_ <= indices_.size() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = new (std::nothrow)
        MediaTypeEnumerator(filter_.get(), indices_, interval_, static_cast<ULONG>(position_));
    return *copy != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~MediaTypeEnumerator() override = default;

  const LiveObject live_;
  ComRef<TestCameraFilter> filter_;
  std::vector<int> indices_;
  LONGLONG interval_;
  std::size_t position_;
};

// ---- OutputPin ----

HRESULT STDMETHODCALLTYPE OutputPin::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
    *object = static_cast<IPin*>(this);
  } else if (IsEqualIID(iid, IID_IKsPropertySet)) {
    *object = static_cast<IKsPropertySet*>(this);
  } else if (IsEqualIID(iid, IID_IAMStreamConfig)) {
    *object = static_cast<IAMStreamConfig*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE OutputPin::AddRef() {
  return filter_.AddRef();
}

ULONG STDMETHODCALLTYPE OutputPin::Release() {
  return filter_.Release();
}

HRESULT STDMETHODCALLTYPE OutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
  if (receivePin == nullptr) return E_POINTER;
  const std::lock_guard lock(filter_.mutex());
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (filter_.state() != State_Stopped) return VFW_E_NOT_STOPPED;
  std::vector<int> candidates;
  if (formatSet_) {
    candidates.push_back(formatIndex_);
  } else {
    for (int i = 0; i < static_cast<int>(filter_.capabilities().size()); ++i)
      candidates.push_back(i);
  }
  for (const int index : candidates) {
    if (type != nullptr) {
      AM_MEDIA_TYPE offered;
      if (!makeMediaType(filter_.capabilities()[static_cast<std::size_t>(index)], interval_,
                         offered))
        return E_OUTOFMEMORY;
      const bool fits = satisfies(offered, *type);
      dshow::freeMediaTypeContents(offered);
      if (!fits) continue;
    }
    if (connectWith(receivePin, index) == S_OK) return S_OK;
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT OutputPin::connectWith(IPin* receivePin, int index) {
  const Capability& capability = filter_.capabilities()[static_cast<std::size_t>(index)];
  connectionType_.clear();
  if (!makeMediaType(capability, interval_, connectionType_.get())) return E_OUTOFMEMORY;
  HRESULT hr = receivePin->ReceiveConnection(this, &connectionType_.get());
  if (FAILED(hr)) {
    connectionType_.clear();
    return hr;
  }
  connected_ = ComRef<IPin>::share(receivePin);
  hr = decideAllocator(receivePin, connectionType_.get(),
                       capability.padPixels != 0 ? kExtraBufferBytes : 0);
  if (FAILED(hr)) {
    receivePin->Disconnect();
    dropConnection();
    return hr;
  }
  formatIndex_ = index;
  filter_.steering().currentFourcc.store(capability.fourcc);
  filter_.steering().frameInterval.store(interval_);
  return S_OK;
}

HRESULT OutputPin::decideAllocator(IPin* receivePin, const AM_MEDIA_TYPE& type, long extra) {
  ComRef<IMemInputPin> input;
  HRESULT hr = receivePin->QueryInterface(IID_IMemInputPin, input.putVoid());
  if (FAILED(hr)) return hr;
  ComRef<IMemAllocator> allocator;
  if (FAILED(input->GetAllocator(allocator.put()))) {
    hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                          allocator.putVoid());
    if (FAILED(hr)) return hr;
  }
  ALLOCATOR_PROPERTIES wanted{};
  input->GetAllocatorRequirements(&wanted);
  wanted.cBuffers = std::max<long>(wanted.cBuffers, 3);
  wanted.cbBuffer = std::max<long>(wanted.cbBuffer, static_cast<long>(type.lSampleSize)) + extra;
  wanted.cbAlign = std::max<long>(wanted.cbAlign, 1);
  ALLOCATOR_PROPERTIES granted{};
  hr = allocator->SetProperties(&wanted, &granted);
  if (FAILED(hr)) return hr;
  if (granted.cbBuffer < static_cast<long>(type.lSampleSize)) return E_FAIL;
  hr = input->NotifyAllocator(allocator.get(), FALSE);
  if (FAILED(hr)) return hr;
  input_ = std::move(input);
  allocator_ = std::move(allocator);
  return S_OK;
}

void OutputPin::dropConnection() {
  connected_.reset();
  input_.reset();
  allocator_.reset();
  connectionType_.clear();
}

HRESULT STDMETHODCALLTYPE OutputPin::Disconnect() {
  const std::lock_guard lock(filter_.mutex());
  if (filter_.state() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!connected_) return S_FALSE;
  if (allocator_) allocator_->Decommit();
  dropConnection();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::ConnectedTo(IPin** pin) {
  if (pin == nullptr) return E_POINTER;
  const std::lock_guard lock(filter_.mutex());
  *pin = ComRef<IPin>(connected_).detach();
  return *pin != nullptr ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT STDMETHODCALLTYPE OutputPin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  const std::lock_guard lock(filter_.mutex());
  if (!connected_) {
    *type = AM_MEDIA_TYPE{};
    return VFW_E_NOT_CONNECTED;
  }
  return dshow::copyMediaType(connectionType_.get(), *type) ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE OutputPin::QueryPinInfo(PIN_INFO* info) {
  if (info == nullptr) return E_POINTER;
  *info = PIN_INFO{};
  info->pFilter = &filter_;
  filter_.AddRef();
  info->dir = PINDIR_OUTPUT;
  wcsncpy_s(info->achName, kPinName, _TRUNCATE);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::QueryId(LPWSTR* id) {
  if (id == nullptr) return E_POINTER;
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kPinName));
  if (*id == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*id, kPinName, sizeof kPinName);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  return findCapability(filter_.capabilities(), *type) >= 0 ? S_OK : S_FALSE;
}

// After SetFormat only the format set is offered, as capture pins do.
HRESULT STDMETHODCALLTYPE OutputPin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (types == nullptr) return E_POINTER;
  const std::lock_guard lock(filter_.mutex());
  std::vector<int> indices;
  if (formatSet_) {
    indices.push_back(formatIndex_);
  } else {
    for (int i = 0; i < static_cast<int>(filter_.capabilities().size()); ++i)
      indices.push_back(i);
  }
  *types = new (std::nothrow) MediaTypeEnumerator(&filter_, std::move(indices), interval_, 0);
  return *types != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE OutputPin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data,
                                         DWORD size, DWORD* returned) {
  if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (returned != nullptr) *returned = sizeof(GUID);
  if (data == nullptr) return returned != nullptr ? S_OK : E_POINTER;
  if (size < sizeof(GUID)) return E_UNEXPECTED;
  *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support != nullptr) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::SetFormat(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  const std::lock_guard lock(filter_.mutex());
  if (filter_.state() != State_Stopped) return VFW_E_NOT_STOPPED;
  const int index = findCapability(filter_.capabilities(), *type);
  if (index < 0) return VFW_E_INVALIDMEDIATYPE;
  LONGLONG interval = *frameIntervalField(*type);
  if (interval <= 0) interval = kDefaultInterval;
  interval = std::clamp(interval, kFastestInterval, kSlowestInterval);
  if (connected_ && connected_->QueryAccept(type) != S_OK) return VFW_E_INVALIDMEDIATYPE;
  formatIndex_ = index;
  formatSet_ = true;
  interval_ = interval;
  filter_.steering().currentFourcc.store(
      filter_.capabilities()[static_cast<std::size_t>(index)].fourcc);
  filter_.steering().frameInterval.store(interval);
  // A connected pin reconnects in the new format, as a driver's pin does.
  if (connected_ && filter_.graph() != nullptr) return filter_.graph()->Reconnect(this);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::GetFormat(AM_MEDIA_TYPE** type) {
  if (type == nullptr) return E_POINTER;
  const std::lock_guard lock(filter_.mutex());
  if (connected_) {
    *type = allocateMediaTypeCopy(connectionType_.get());
  } else {
    OwnedMediaType current;
    if (!makeMediaType(filter_.capabilities()[static_cast<std::size_t>(formatIndex_)], interval_,
                       current.get()))
      return E_OUTOFMEMORY;
    *type = allocateMediaTypeCopy(current.get());
  }
  return *type != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE OutputPin::GetNumberOfCapabilities(int* count, int* size) {
  if (count == nullptr || size == nullptr) return E_POINTER;
  *count = static_cast<int>(filter_.capabilities().size());
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
  if (type == nullptr || caps == nullptr) return E_POINTER;
  *type = nullptr;
  const std::vector<Capability>& all = filter_.capabilities();
  if (index < 0 || index >= static_cast<int>(all.size())) return S_FALSE;
  const Capability& c = all[static_cast<std::size_t>(index)];
  OwnedMediaType offered;
  if (!makeMediaType(c, kDefaultInterval, offered.get())) return E_OUTOFMEMORY;
  *type = allocateMediaTypeCopy(offered.get());
  if (*type == nullptr) return E_OUTOFMEMORY;
  VIDEO_STREAM_CONFIG_CAPS config{};
  config.guid = c.videoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
  config.InputSize = {c.width, c.height};
  config.MinCroppingSize = config.MaxCroppingSize = config.InputSize;
  config.CropGranularityX = config.CropGranularityY = 1;
  config.CropAlignX = config.CropAlignY = 1;
  config.MinOutputSize = config.MaxOutputSize = config.InputSize;
  config.OutputGranularityX = config.OutputGranularityY = 1;
  config.MinFrameInterval = kFastestInterval;
  config.MaxFrameInterval = kSlowestInterval;
  const auto bits = static_cast<LONG>(std::min<std::int64_t>(0x7fffffff, frameBytes(c) * 8));
  config.MinBitsPerSecond = bits;
  config.MaxBitsPerSecond =
      static_cast<LONG>(std::min<std::int64_t>(0x7fffffff, std::int64_t{bits} * 30));
  std::memcpy(caps, &config, sizeof config);
  return S_OK;
}

// ---- TestCameraFilter: state changes ----

HRESULT TestCameraFilter::refusal() const {
  if (control_.unplugged.load()) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
  const DWORD refused = control_.refusedFourcc.load();
  if (refused != kNoRefusal &&
      refused == capabilities_[static_cast<std::size_t>(pin_.formatIndex())].fourcc)
    return HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);  // as for want of USB bandwidth
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestCameraFilter::Pause() {
  const std::lock_guard lock(mutex_);
  if (const HRESULT refused = refusal(); FAILED(refused)) return refused;
  if (state() == State_Stopped && pin_.connected()) {
    const HRESULT committed = pin_.allocator()->Commit();
    if (FAILED(committed)) return committed;
    startWorker();
  }
  state_.store(State_Paused);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestCameraFilter::Run(REFERENCE_TIME) {
  const std::lock_guard lock(mutex_);
  if (const HRESULT refused = refusal(); FAILED(refused)) return refused;
  if (state() == State_Stopped) {
    const HRESULT paused = Pause();
    if (FAILED(paused)) return paused;
  }
  state_.store(State_Running);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestCameraFilter::Stop() {
  {
    const std::lock_guard lock(mutex_);
    if (state() == State_Stopped) return S_OK;
    state_.store(State_Stopped);
    SetEvent(stopEvent_);
    if (pin_.connected()) pin_.allocator()->Decommit();  // a GetBuffer waiting returns
  }
  if (worker_.joinable()) worker_.join();  // outside the lock: the worker may notify the graph
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestCameraFilter::EnumPins(IEnumPins** pins) {
  if (pins == nullptr) return E_POINTER;
  *pins = new (std::nothrow) PinEnumerator(this, 0);
  return *pins != nullptr ? S_OK : E_OUTOFMEMORY;
}

void TestCameraFilter::startWorker() {
  if (worker_.joinable()) worker_.join();  // one that ended by itself
  ResetEvent(stopEvent_);
  worker_ = std::thread(&TestCameraFilter::stream, this, pin_.formatIndex(), pin_.interval(),
                        pin_.peer(), pin_.input(), pin_.allocator());
}

void TestCameraFilter::notify(long code, LONG_PTR first, LONG_PTR second) {
  const std::lock_guard lock(mutex_);
  if (graph_ == nullptr) return;
  ComRef<IMediaEventSink> sink;
  if (SUCCEEDED(graph_->QueryInterface(IID_IMediaEventSink, sink.putVoid())))
    sink->Notify(code, first, second);
}

// ---- The streaming thread ----

namespace {

// The frames of one stream: the simulated camera's generator in the pin's format; Motion-JPEG
// frames are its RGB frames, encoded.
class FrameMaker {
 public:
  explicit FrameMaker(const Capability& capability, int device)
      : capability_(capability), source_(settings(device)) {
    const std::uint32_t generated = capability.fourcc == kMjpg ? kRgb24 : capability.fourcc;
    source_.start({generated, capability.width, capability.height});
  }

  // Fills `buffer`; the number of bytes written, 0 when the frame does not fit.
  long fill(BYTE* buffer, long size) {
    std::span<const std::uint8_t> sample;
    if (!source_.next(sample, {})) return 0;
    if (capability_.fourcc != kMjpg) return layOut(sample, buffer, size);
    FrameBitmap picture(capability_.width, capability_.height);
    const std::size_t stride = picture.stride();
    for (std::int32_t y = 0; y < capability_.height; ++y) {  // bottom-up rows to top-down
      std::memcpy(picture.row(y),
                  sample.data() + static_cast<std::size_t>(capability_.height - 1 - y) * stride,
                  stride);
    }
    const std::vector<std::uint8_t> jpeg = test::encodeJpeg(picture);
    if (static_cast<long>(jpeg.size()) > size) return 0;
    std::memcpy(buffer, jpeg.data(), jpeg.size());
    return static_cast<long>(jpeg.size());
  }

 private:
  // The packed sample as the camera's buffers hold it: rows `strideOf` apart with the padding's
  // bytes after each, I420 chroma planes at half that stride, RGB top row first when so
  // reported.
  long layOut(std::span<const std::uint8_t> sample, BYTE* buffer, long size) const {
    const Capability& c = capability_;
    if (frameBytes(c) > size) return 0;
    const auto stride = static_cast<std::size_t>(strideOf(c));
    const auto w = static_cast<std::size_t>(c.width);
    const auto h = static_cast<std::size_t>(c.height);
    std::memset(buffer, kPaddingByte, static_cast<std::size_t>(frameBytes(c)));
    const auto copyRows = [&](std::size_t from, std::size_t to, std::size_t rowBytes,
                              std::size_t rows, std::size_t toStride, bool flip) {
      for (std::size_t r = 0; r < rows; ++r) {
        const std::size_t row = flip ? rows - 1 - r : r;
        std::memcpy(buffer + to + row * toStride, sample.data() + from + r * rowBytes, rowBytes);
      }
    };
    if (c.fourcc == kI420) {
      copyRows(0, 0, w, h, stride, false);
      const std::size_t chromaRows = (h + 1) / 2;
      copyRows(w * h, stride * h, w / 2, h / 2, stride / 2, false);
      copyRows(w * h + w * h / 4, stride * h + stride / 2 * chromaRows, w / 2, h / 2, stride / 2,
               false);
    } else {
      copyRows(0, 0, sample.size() / h, h, stride, c.topDown);
    }
    return static_cast<long>(frameBytes(c));
  }

  static SyntheticSource::Settings settings(int device) {
    SyntheticSource::Settings s;
    s.hitsPerFrame = 0.2;
    s.seed = static_cast<std::uint64_t>(device) + 1;
    return s;
  }

  Capability capability_;
  SyntheticSource source_;
};

}  // namespace

void TestCameraFilter::stream(int formatIndex, LONGLONG interval, ComRef<IPin> peer,
                              ComRef<IMemInputPin> input, ComRef<IMemAllocator> allocator) {
  const dshow::ComApartment apartment(COINIT_MULTITHREADED);
  FrameMaker frames(capabilities_[static_cast<std::size_t>(formatIndex)], device_);
  const auto period = static_cast<DWORD>(std::max<LONGLONG>(1, interval / 10000));
  while (WaitForSingleObject(stopEvent_, period) == WAIT_TIMEOUT) {
    if (state() != State_Running || control_.stalled.load()) continue;
    if (control_.unplugged.load()) {
      // As a driver reports a camera pulled out: the device is gone (lParam2 0), no more frames.
      notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(this)), 0);
      return;
    }
    if (control_.endStreamRequested.exchange(false)) {
      peer->EndOfStream();
      return;
    }
    ComRef<IMediaSample> sample;
    if (FAILED(allocator->GetBuffer(sample.put(), nullptr, nullptr, 0)) || !sample) continue;
    BYTE* buffer = nullptr;
    if (FAILED(sample->GetPointer(&buffer))) continue;
    const long length = frames.fill(buffer, sample->GetSize());
    if (length <= 0) continue;
    sample->SetActualDataLength(length);
    sample->SetSyncPoint(TRUE);
    sample->SetTime(nullptr, nullptr);  // no time stamps: rendered as they come
    if (input->Receive(sample.get()) == S_OK) {
      control_.framesSent.fetch_add(1);
      control_.workerThread.store(GetCurrentThreadId());
    }
  }
}

HRESULT createTestCameraFilter(int device, REFIID iid, void** object) {
  auto* filter = new (std::nothrow) TestCameraFilter(device);
  if (filter == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = filter->QueryInterface(iid, object);
  filter->Release();
  return hr;
}

}  // namespace ravdel::testcam
