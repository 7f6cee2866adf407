#pragma once

#include <dshow.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/directshow/com_ref.h"
#include "capture/directshow/com_support.h"
#include "capture/directshow/sample_grabber_api.h"
#include "capture/directshow/sample_grabber_callback.h"

namespace ravdel {

// One opening of one DirectShow video input device. The graph runs the device's
// capture pin through a Sample Grabber (no media type: frames come in the camera's own
// format) into a Null Renderer; the grabber calls TSampleGrabberCB on the graph's
// streaming thread, which hands each sample to the installed receiver.
//
// Threads: every operation runs on the thread that constructed the object (the main thread,
// a single-threaded apartment); only the receiver runs on the streaming thread.
// Results are HRESULTs; S_FALSE is a success (IMediaControl::Run answers it while the
// renderer still waits for its first sample).
class TVideoSample final : public CaptureDevice {
 public:
  // Graph events go to `ownerWindow` as message 0x8001 (WM_APP+1); null: none are announced.
  // callbackMode 0: the grabber calls SampleCB, 1: BufferCB. The object is always made;
  // `setupResult` says whether the graph set-up completed.
  TVideoSample(HWND ownerWindow, bool forceRgb24, std::int32_t callbackMode, HResult& setupResult);
  // Stops the graph, then withdraws the callback from the grabber: once this has returned no
  // callback runs (IMediaControl::Stop returns only after the streaming thread left it).
  ~TVideoSample() override;
  TVideoSample(const TVideoSample&) = delete;
  TVideoSample& operator=(const TVideoSample&) = delete;

  using CaptureDevice::StartVideo;
  // Selects the device by name or "#n" (selectDevice), builds the graph and runs it.
  // E_FAIL when no device matches; foundName is the matched device's trimmed name, also when
  // binding or running it then fails. One start per object.
  HResult StartVideo(const std::string& deviceName, bool showPreview, std::string& foundName);
  HResult StartVideoAt(std::int32_t position, std::string& foundName) override;
  HResult GetStreamInfo(std::int32_t& width, std::int32_t& height, std::uint32_t& fourcc) override;
  void SetFrameCallback(FrameReceiver* receiver) override;
  const std::vector<VideoFormat>& formats() const override { return Formats; }
  // Stop, SetFormat on the capture pin, rebuild the graph downstream of it, run. The result
  // of the last of GetStreamConfig, GetStreamCaps, SetFormat; when the graph then cannot run
  // (rebuild or Run failing), that failure, and running() is false.
  HResult SetFormatByIndex(std::int32_t index) override;
  HResult SetRunning(bool run) override;
  // Streaming: State_Running and no end of stream reported. Reads the graph's events first:
  // EC_DEVICE_LOST (device removed), EC_ERRORABORT, EC_STREAM_ERROR_STOPPED and EC_COMPLETE
  // end the stream for good, as a failed Run does.
  bool running() const override;

  std::string devicePath() const override { return devicePath_; }
  std::string failure() const override { return failure_; }
  void setPatient(bool patient) override { patient_ = patient; }

  // Why the stream ended, once running() has seen it end; empty before.
  const std::string& endReason() const { return endReason_; }
  // Samples that reached the callback, and those the receiver took. Any thread.
  std::uint64_t framesCaptured() const;
  std::uint64_t framesDelivered() const;

 protected:
  HResult listDeviceNames(std::vector<std::string>& names) override;
  HResult listDevicePaths(std::vector<std::string>& paths) override;

 private:
  using Chooser = std::function<int(const std::vector<std::string>& names)>;

  HResult startChosen(const Chooser& choose, bool showPreview, std::string& foundName);
  // `result`, remembered in words (failure()) when it is a failure of `call`.
  HRESULT note(const char* call, HRESULT result);
  HResult SelectDevice(const Chooser& choose, std::string& foundName,
                       dshow::ComRef<IBaseFilter>* filter);
  HResult LoadFormatTable();
  HResult BuildAndRunGraph(bool preview);
  // BuildAndRunGraph after the source is in the graph: grabber, renderer, RenderStream.
  HResult connectGraph(bool preview);
  void takeConnectedLayout();
  HResult SetupVideoWindow();
  void ResizeVideoWindow();
  HRESULT runGraph();
  HResult GetStreamConfig(dshow::ComRef<IAMStreamConfig>& config) const;
  void TearDownGraph();
  void RemoveDownstream(IBaseFilter* filter);
  void DetachGraph();
  void endStream(const char* why) const;
  void readGraphEvents() const;

  // First member, last destroyed: COM stays initialised on this thread while any of the
  // interfaces below is held.
  const dshow::ComApartment apartment_;

  // The capture object's fields, in their documented order.
  HWND OwnerWindow;
  dshow::ComRef<IVideoWindow> VideoWindow;
  dshow::ComRef<IMediaControl> MediaControl;
  dshow::ComRef<IMediaEventEx> MediaEvent;
  dshow::ComRef<IGraphBuilder> GraphBuilder;
  dshow::ComRef<ICaptureGraphBuilder2> CaptureGraphBuilder;
  FILTER_STATE State = State_Stopped;
  dshow::ComRef<IBaseFilter> GrabberFilter;
  dshow::ComRef<IBaseFilter> NullRenderer;
  dshow::ComRef<dshow::ISampleGrabber> SampleGrabber;
  dshow::ComRef<IBaseFilter> SourceFilter;
  TSampleGrabberCB* CallbackObject = nullptr;  // borrowed: Callback holds the reference
  dshow::ComRef<TSampleGrabberCBInt> Callback;
  bool ShowPreview = false;
  std::vector<VideoFormat> Formats;

  bool startTried_ = false;
  bool patient_ = true;     // a start waits for the graph to settle (setPatient)
  std::string devicePath_;  // of the device matched
  std::string failure_;     // the last failure in words
  bool graphRan_ = false;   // a graph was built and run: its stop is logged
  std::string deviceName_;
  // The stream ended by itself (device lost, stream error, a Run that failed). Main thread;
  // mutable because running() reads the graph's events.
  mutable bool streamEnded_ = false;
  mutable std::string endReason_;
};

}  // namespace ravdel
