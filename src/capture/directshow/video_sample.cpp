#include "capture/directshow/video_sample.h"

#include <dvdmedia.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>

#include "capture/directshow/device_enumeration.h"
#include "capture/directshow/failure_text.h"
#include "capture/directshow/media_format.h"

namespace ravdel {
namespace {

using dshow::ComRef;
using dshow::MediaTypePtr;

// Graph events are announced to the owner window with this message (WM_APP+1).
constexpr UINT kGraphEventMessage = 0x8001;
// How long a Run that answered S_FALSE may take to reach running or fail.
constexpr LONG kRunSettleMs = 5000;
// Reference time: 100 ns units.
constexpr std::uint32_t kReferenceTimePerSecond = 10000000;

// The capability structure of GetStreamCaps; a driver may declare a larger one.
struct StreamCaps {
  VIDEO_STREAM_CONFIG_CAPS caps{};
  std::vector<BYTE> buffer;

  explicit StreamCaps(int declaredSize)
      : buffer(std::max<std::size_t>(sizeof(VIDEO_STREAM_CONFIG_CAPS),
                                     static_cast<std::size_t>(std::max(declaredSize, 0)))) {}
  BYTE* data() { return buffer.data(); }
  const VIDEO_STREAM_CONFIG_CAPS& read() {
    std::memcpy(&caps, buffer.data(), sizeof caps);
    return caps;
  }
};

// The format code of a capability: "RGB " for 24-bit RGB, else the subtype's first four bytes.
std::uint32_t capabilityCode(const GUID& subtype) {
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return kRgbCapabilityCode;
  return static_cast<std::uint32_t>(subtype.Data1);
}

// Cameras keep the rate last set, often a slow one, and every frame is analysed: the switch
// asks for the shortest interval the capability offers.
void askForFastestRate(AM_MEDIA_TYPE& type, const VIDEO_STREAM_CONFIG_CAPS& caps) {
  if (caps.MinFrameInterval > 0) dshow::setFrameInterval(type, caps.MinFrameInterval);
}

}  // namespace

TVideoSample::TVideoSample(HWND ownerWindow, bool forceRgb24, std::int32_t callbackMode,
                           HResult& setupResult)
    : OwnerWindow(ownerWindow) {
  const auto setUp = [&]() -> HRESULT {
    if (!apartment_.usable()) return note("CoInitializeEx", apartment_.result());
    constexpr DWORD kServerAndHandler = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, kServerAndHandler, IID_IGraphBuilder,
                                  GraphBuilder.putVoid());
    if (FAILED(hr)) return note("CoCreateInstance(Filter Graph)", hr);
    hr = CoCreateInstance(dshow::kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                          IID_IBaseFilter, GrabberFilter.putVoid());
    if (FAILED(hr)) return note("CoCreateInstance(Sample Grabber, qedit.dll)", hr);
    hr = CoCreateInstance(dshow::kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          NullRenderer.putVoid());
    if (FAILED(hr)) return note("CoCreateInstance(Null Renderer, qedit.dll)", hr);
    hr = GrabberFilter.query(dshow::kIidSampleGrabber, SampleGrabber);
    if (FAILED(hr)) return note("QueryInterface(ISampleGrabber)", hr);
    SampleGrabber->SetBufferSamples(FALSE);
    if (forceRgb24) {
      AM_MEDIA_TYPE rgb{};
      rgb.majortype = MEDIATYPE_Video;
      rgb.subtype = MEDIASUBTYPE_RGB24;
      hr = SampleGrabber->SetMediaType(&rgb);
      if (FAILED(hr)) return note("ISampleGrabber::SetMediaType", hr);
    }
    ComRef<TSampleGrabberCB> object = TSampleGrabberCB::create(OwnerWindow);
    if (!object) return note("new TSampleGrabberCB", E_OUTOFMEMORY);
    CallbackObject = object.get();
    Callback = ComRef<TSampleGrabberCBInt>::adopt(object.detach());
    SampleGrabber->SetCallback(Callback.get(), callbackMode);
    hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, kServerAndHandler,
                          IID_ICaptureGraphBuilder2, CaptureGraphBuilder.putVoid());
    if (FAILED(hr)) return note("CoCreateInstance(Capture Graph Builder)", hr);
    hr = GraphBuilder.query(IID_IMediaControl, MediaControl);
    if (FAILED(hr)) return note("QueryInterface(IMediaControl)", hr);
    hr = GraphBuilder.query(IID_IVideoWindow, VideoWindow);
    if (FAILED(hr)) return note("QueryInterface(IVideoWindow)", hr);
    hr = GraphBuilder.query(IID_IMediaEventEx, MediaEvent);
    if (FAILED(hr)) return note("QueryInterface(IMediaEventEx)", hr);
    return note(
        "IMediaEventEx::SetNotifyWindow",
        MediaEvent->SetNotifyWindow(reinterpret_cast<OAHWND>(OwnerWindow), kGraphEventMessage, 0));
  };
  setupResult = setUp();
}

TVideoSample::~TVideoSample() {
  SetRunning(false);
  if (MediaControl) MediaControl->Stop();
  if (SourceFilter) {
    SourceFilter->Stop();
    TearDownGraph();
  }
  DetachGraph();
  if (graphRan_ && CallbackObject != nullptr)
    logStreamStopped(deviceName_, CallbackObject->impl().Receiver, framesCaptured(),
                     framesDelivered());
  // Released in field order; the grabber let go of the callback in DetachGraph, so
  // releasing Callback frees it.
  VideoWindow.reset();
  MediaControl.reset();
  MediaEvent.reset();
  GraphBuilder.reset();
  CaptureGraphBuilder.reset();
  GrabberFilter.reset();
  NullRenderer.reset();
  SampleGrabber.reset();
  SourceFilter.reset();
  CallbackObject = nullptr;
  Callback.reset();
  Formats.clear();
}

HResult TVideoSample::listDeviceNames(std::vector<std::string>& names) {
  return dshow::ListVideoDevices(names);
}

HResult TVideoSample::listDevicePaths(std::vector<std::string>& paths) {
  return dshow::ListVideoDevicePaths(paths);
}

HRESULT TVideoSample::note(const char* call, HRESULT result) {
  if (FAILED(result)) failure_ = dshow::failureText(call, result);
  return result;
}

HResult TVideoSample::StartVideo(const std::string& deviceName, bool showPreview,
                                 std::string& foundName) {
  return startChosen(
      [&](const std::vector<std::string>& names) { return selectDevice(names, deviceName); },
      showPreview, foundName);
}

HResult TVideoSample::StartVideoAt(std::int32_t position, std::string& foundName) {
  return startChosen(
      [position](const std::vector<std::string>& names) {
        return position >= 1 && static_cast<std::size_t>(position) <= names.size() ? position - 1
                                                                                   : -1;
      },
      false, foundName);
}

HResult TVideoSample::startChosen(const Chooser& choose, bool showPreview, std::string& foundName) {
  foundName.clear();
  // One start per object. A second one leaves the first graph alone: releasing its source
  // here would leave the destructor nothing to take the running graph apart by.
  if (startTried_) return E_FAIL;
  startTried_ = true;
  SourceFilter.reset();
  ShowPreview = showPreview;
  // Set-up failed: failure_ says where.
  if (!CaptureGraphBuilder || !GraphBuilder || !MediaControl) return E_FAIL;
  HRESULT hr = note("ICaptureGraphBuilder2::SetFiltergraph",
                    CaptureGraphBuilder->SetFiltergraph(GraphBuilder.get()));
  if (FAILED(hr)) return hr;
  hr = SelectDevice(choose, foundName, &SourceFilter);
  if (FAILED(hr)) return hr;
  if (hr != S_OK || !SourceFilter) {
    if (failure_.empty()) failure_ = "no such camera";
    return E_FAIL;
  }
  deviceName_ = foundName;
  LoadFormatTable();
  return BuildAndRunGraph(ShowPreview);
}

// The device search, with the matching of every backend (selectDevice) applied to the
// names in enumeration order. The walk over the devices ends at the first one whose name
// cannot be read, so the devices after it can be neither listed nor chosen.
HResult TVideoSample::SelectDevice(const Chooser& choose, std::string& foundName,
                                   ComRef<IBaseFilter>* filter) {
  foundName.clear();
  if (filter == nullptr) return E_POINTER;
  try {
    dshow::VideoInputEnumeration found =
        dshow::enumerateVideoInputs(CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER);
    if (FAILED(found.created)) return note("the system device enumerator", found.created);
    if (found.created == S_FALSE) {
      failure_ = "no camera is connected";
      return E_FAIL;
    }
    std::vector<std::string> names;
    for (const dshow::VideoInputDevice& device : found.devices)
      names.push_back(device.friendlyName);
    const int index = choose(names);
    if (index < 0) return FAILED(found.ended) ? found.ended : S_FALSE;
    const dshow::VideoInputDevice& device = found.devices[static_cast<std::size_t>(index)];
    foundName = trimDeviceText(device.friendlyName);
    devicePath_ = device.devicePath;
    const HRESULT bound =
        device.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter->putVoid());
    if (bound != S_OK) filter->reset();
    return note("IMoniker::BindToObject (the camera's filter)", bound);
  } catch (const std::exception&) {
    return E_FAIL;
  }
}

HResult TVideoSample::GetStreamConfig(ComRef<IAMStreamConfig>& config) const {
  config.reset();
  if (!CaptureGraphBuilder || !SourceFilter) return E_POINTER;
  return CaptureGraphBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                            SourceFilter.get(), IID_IAMStreamConfig,
                                            config.putVoid());
}

HResult TVideoSample::LoadFormatTable() {
  Formats.clear();
  ComRef<IAMStreamConfig> config;
  HRESULT hr = GetStreamConfig(config);
  if (hr == S_OK) {
    int count = 0;
    int size = 0;
    hr = config->GetNumberOfCapabilities(&count, &size);
    if (hr == S_OK && count >= 1) {
      StreamCaps caps(size);
      for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* returned = nullptr;
        hr = config->GetStreamCaps(i, &returned, caps.data());
        const MediaTypePtr type(returned);
        if (FAILED(hr) || !type) continue;  // skipped; the others keep the device's numbers
        const VIDEO_STREAM_CONFIG_CAPS& c = caps.read();
        VideoFormat format;
        format.width = c.InputSize.cx;
        format.height = c.InputSize.cy;
        const std::optional<dshow::MediaFormat> described = dshow::mediaFormatOf(*type);
        if ((format.width <= 0 || format.height <= 0) && described) {
          // A driver that leaves InputSize empty still describes the frames it sends.
          format.width = described->width;
          format.height = described->height;
        }
        format.sampleSize = static_cast<std::int32_t>(type->lSampleSize);
        format.capsIndex = i;
        format.fourcc = capabilityCode(type->subtype);
        if (c.MinFrameInterval > 0 &&
            c.MinFrameInterval <= std::numeric_limits<std::uint32_t>::max())
          format.fastest = {static_cast<std::uint32_t>(c.MinFrameInterval),
                            kReferenceTimePerSecond};
        Formats.push_back(format);
      }
    }
  }
  sortFormats(Formats);
  return hr;
}

HResult TVideoSample::BuildAndRunGraph(bool preview) {
  HRESULT hr = note("IFilterGraph::AddFilter(Video Capture)",
                    GraphBuilder->AddFilter(SourceFilter.get(), L"Video Capture"));
  if (FAILED(hr)) return hr;
  hr = connectGraph(preview);
  if (FAILED(hr)) return hr;
  // S_FALSE: a filter (the renderer, until its first sample) is still on its way to running;
  // a success, and not waited for: a camera that never delivers is the monitor's silence watchdog's
  // business.
  hr = runGraph();
  State = State_Running;
  graphRan_ = true;
  if (FAILED(hr)) endStream("the graph does not run");
  return hr;
}

// BuildAndRunGraph after the source, also the rebuild after a format switch: the source is in
// the graph, the grabber and the renderer are added (again, after a teardown) and connected.
HResult TVideoSample::connectGraph(bool preview) {
  HRESULT hr = note("IFilterGraph::AddFilter(Sample Grabber)",
                    GraphBuilder->AddFilter(GrabberFilter.get(), L"Sample Grabber"));
  if (FAILED(hr)) return hr;
  if (!preview) {
    hr = note("IFilterGraph::AddFilter(Null Renderer)",
              GraphBuilder->AddFilter(NullRenderer.get(), L"Null Renderer"));
    if (FAILED(hr)) return hr;
  }
  try {
    hr = CaptureGraphBuilder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                           SourceFilter.get(), GrabberFilter.get(),
                                           preview ? nullptr : NullRenderer.get());
  } catch (...) {
    hr = static_cast<HRESULT>(0xFFFFFFFFu);
  }
  if (FAILED(hr)) return note("ICaptureGraphBuilder2::RenderStream", hr);
  takeConnectedLayout();
  if (preview) return SetupVideoWindow();
  return hr;
}

// How the samples of the connected format lie in their buffers, for the callback's packer:
// the type the grabber agreed with the camera, stride and all.
void TVideoSample::takeConnectedLayout() {
  if (!SampleGrabber || CallbackObject == nullptr) return;
  AM_MEDIA_TYPE connected{};
  if (FAILED(SampleGrabber->GetConnectedMediaType(&connected))) return;
  if (const std::optional<dshow::MediaFormat> format = dshow::mediaFormatOf(connected))
    CallbackObject->impl().setLayout(format->layout);
  dshow::freeMediaTypeContents(connected);
}

// IMediaControl::Run. S_FALSE says that a filter (the renderer, until its first sample) is
// still on its way to running: a success. A filter that then fails to start (a camera that is
// gone, or has no bandwidth for the format) may only show in the graph's state, not in Run's
// result (so under Wine), so a patient start waits for the transition, at most kRunSettleMs; a
// camera that merely has not delivered yet leaves it intermediate, which is success too. An
// impatient one (a reconnection try) only looks.
HRESULT TVideoSample::runGraph() {
  const HRESULT hr = note("IMediaControl::Run", MediaControl->Run());
  if (hr != S_FALSE) return hr;
  OAFilterState state = State_Stopped;
  const HRESULT settled = MediaControl->GetState(patient_ ? kRunSettleMs : 0, &state);
  return FAILED(settled) ? note("IMediaControl::Run (the graph's state)", settled) : hr;
}

HResult TVideoSample::SetupVideoWindow() {
  HRESULT hr = VideoWindow->put_Owner(reinterpret_cast<OAHWND>(OwnerWindow));
  if (FAILED(hr)) return hr;
  hr = VideoWindow->put_WindowStyle(WS_CHILD | WS_CLIPCHILDREN);
  if (FAILED(hr)) return hr;
  ResizeVideoWindow();
  return VideoWindow->put_Visible(OATRUE);
}

void TVideoSample::ResizeVideoWindow() {
  if (!VideoWindow) return;
  RECT client{};
  GetClientRect(OwnerWindow, &client);
  VideoWindow->SetWindowPosition(0, 0, client.right, client.bottom);
}

HResult TVideoSample::GetStreamInfo(std::int32_t& width, std::int32_t& height,
                                    std::uint32_t& fourcc) {
  width = 0;
  height = 0;
  if (MediaControl) MediaControl->Stop();
  if (SourceFilter) SourceFilter->Stop();
  ComRef<IAMStreamConfig> config;
  HRESULT hr = GetStreamConfig(config);
  if (hr == S_OK) {
    AM_MEDIA_TYPE* returned = nullptr;
    hr = config->GetFormat(&returned);
    const MediaTypePtr type(returned);
    if (SUCCEEDED(hr) && type) {
      // Either kind of block: a camera's VIDEOINFOHEADER2 twin streams as well as the other.
      if (const std::optional<dshow::MediaFormat> format = dshow::mediaFormatOf(*type)) {
        width = format->width;
        height = format->height;
        fourcc = format->compression;
      }
    }
  }
  if (SourceFilter) SourceFilter->Run(0);
  if (MediaControl && FAILED(MediaControl->Run()) && State == State_Running)
    endStream("the graph does not run again");
  return hr;
}

void TVideoSample::SetFrameCallback(FrameReceiver* receiver) {
  if (CallbackObject != nullptr) CallbackObject->impl().Receiver.install(receiver);
}

HResult TVideoSample::SetFormatByIndex(std::int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= Formats.size()) return S_FALSE;
  if (!MediaControl || !SourceFilter) return E_FAIL;
  const std::int32_t capsIndex = Formats[static_cast<std::size_t>(index)].capsIndex;
  readGraphEvents();  // what the old stream reported stays with it
  MediaControl->Stop();
  ComRef<IAMStreamConfig> config;
  HRESULT hr = GetStreamConfig(config);
  HRESULT ran = S_OK;
  if (SUCCEEDED(hr)) {
    int count = 0;
    int size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    StreamCaps caps(size);
    AM_MEDIA_TYPE* returned = nullptr;
    hr = config->GetStreamCaps(capsIndex, &returned, caps.data());
    const MediaTypePtr type(returned);
    if (SUCCEEDED(hr) && type) {
      askForFastestRate(*type, caps.read());
      // The capture pin takes a new format while it is unconnected (what every driver
      // supports); the graph downstream of it is then built again, in the new format or,
      // when SetFormat failed, in the old one.
      RemoveDownstream(SourceFilter.get());
      hr = note("IAMStreamConfig::SetFormat", config->SetFormat(type.get()));
      ran = connectGraph(ShowPreview);
      if (SUCCEEDED(ran)) ran = runGraph();
    } else {
      ran = runGraph();
    }
  } else {
    ran = runGraph();
  }
  if (FAILED(ran)) {
    endStream("the stream does not start in the new format");
    return SUCCEEDED(hr) ? ran : hr;
  }
  streamEnded_ = false;
  endReason_.clear();
  return hr;
}

HResult TVideoSample::SetRunning(bool run) {
  if (!MediaControl) return S_OK;
  if (!run) {
    const HRESULT hr = MediaControl->Stop();
    State = State_Stopped;
    return hr;
  }
  readGraphEvents();
  if (State == State_Running && !streamEnded_) return S_OK;
  if (streamEnded_) MediaControl->Stop();  // a stream that ended by itself starts afresh
  const HRESULT hr = runGraph();
  State = State_Running;
  if (FAILED(hr)) {
    endStream("the graph does not run");
  } else {
    streamEnded_ = false;
    endReason_.clear();
  }
  return hr;
}

bool TVideoSample::running() const {
  readGraphEvents();
  return State == State_Running && !streamEnded_;
}

void TVideoSample::endStream(const char* why) const {
  if (streamEnded_) return;
  streamEnded_ = true;
  endReason_ = why;
  captureLog(deviceName_ + ": " + why);
}

// The graph's events, read without waiting. The owner window hears of them as 0x8001 too,
// and may ignore that (the main window does): the stream's end is learnt here.
void TVideoSample::readGraphEvents() const {
  if (!MediaEvent) return;
  long code = 0;
  LONG_PTR first = 0;
  LONG_PTR second = 0;
  while (MediaEvent->GetEvent(&code, &first, &second, 0) == S_OK) {
    switch (code) {
      case EC_DEVICE_LOST:
        if (second == 0) endStream("device lost");  // 1: it came back
        break;
      case EC_ERRORABORT:
      case EC_ERRORABORTEX:
      case EC_STREAM_ERROR_STOPPED:
        endStream("stream error");
        break;
      case EC_COMPLETE:
      case EC_USERABORT:
        endStream("its stream ended");
        break;
      default:
        break;
    }
    MediaEvent->FreeEventParams(code, first, second);
  }
}

void TVideoSample::TearDownGraph() {
  SourceFilter->Stop();
  RemoveDownstream(SourceFilter.get());
}

// Depth first: every filter behind an output pin of `filter` is disconnected and removed.
// Unlike a walk that ends at the first unconnected pin, every pin is visited, so a
// capture pin listed after an unconnected one (a still pin, say) is taken apart too.
void TVideoSample::RemoveDownstream(IBaseFilter* filter) {
  if (filter == nullptr || !GraphBuilder) return;
  ComRef<IEnumPins> pins;
  if (filter->EnumPins(pins.put()) != S_OK || !pins) return;
  for (;;) {
    ComRef<IPin> pin;
    ULONG fetched = 0;
    if (pins->Next(1, pin.put(), &fetched) != S_OK || !pin) return;
    ComRef<IPin> peer;
    if (pin->ConnectedTo(peer.put()) != S_OK || !peer) continue;
    PIN_INFO info{};
    if (peer->QueryPinInfo(&info) != S_OK) continue;
    const auto peerFilter = ComRef<IBaseFilter>::adopt(info.pFilter);
    if (info.dir != PINDIR_INPUT) continue;
    RemoveDownstream(peerFilter.get());
    GraphBuilder->Disconnect(peer.get());
    GraphBuilder->Disconnect(pin.get());
    GraphBuilder->RemoveFilter(peerFilter.get());
  }
}

void TVideoSample::DetachGraph() {
  if (SampleGrabber) SampleGrabber->SetCallback(nullptr, 1);
  if (MediaControl) MediaControl->StopWhenReady();
  State = State_Stopped;
  if (MediaEvent) MediaEvent->SetNotifyWindow(0, kGraphEventMessage, 0);
  if (VideoWindow) {
    VideoWindow->put_Visible(OAFALSE);
    VideoWindow->put_Owner(0);
  }
}

std::uint64_t TVideoSample::framesCaptured() const {
  return CallbackObject != nullptr ? CallbackObject->impl().captured() : 0;
}

std::uint64_t TVideoSample::framesDelivered() const {
  return CallbackObject != nullptr ? CallbackObject->impl().delivered() : 0;
}

}  // namespace ravdel
