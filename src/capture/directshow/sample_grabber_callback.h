#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "capture/capture_device.h"
#include "capture/directshow/com_object.h"
#include "capture/directshow/com_ref.h"
#include "capture/directshow/sample_grabber_api.h"
#include "capture/frame_packer.h"

namespace ravdel {

// What the Sample Grabber calls once per captured frame, on DirectShow's streaming
// thread. It hands the sample's own bytes to the installed receiver, uncopied when the camera
// lays them out as the converter takes them, else packed (rows a driver pads, a buffer larger
// than the frame, RGB top row first); crossing to the main thread is the receiver's business.

// The plain object behind the callback: the installed receiver and the delivery.
class TSampleGrabberCBImpl {
 public:
  // Frames that come while no receiver is installed are offered to `mainWindow` as message
  // WM_USER+2 (0x402), posted, never sent: nothing waits for the main thread.
  explicit TSampleGrabberCBImpl(HWND mainWindow) : mainWindow_(mainWindow) {}

  // Streaming thread. Both always return S_OK.
  HRESULT SampleCB(double sampleTime, IMediaSample* sample);
  HRESULT BufferCB(double sampleTime, BYTE* buffer, LONG length);

  // Installed from the main thread as one unit; read once per frame by the streaming thread.
  ReceiverSlot Receiver;

  // How the stream's samples lie in their buffers. Main thread, once the graph is connected;
  // a sample that carries a new media type sets it again on the streaming thread.
  void setLayout(const FrameLayout& layout);

  // Any thread: samples of more than 0 bytes that reached the callback, and those the
  // receiver took.
  std::uint64_t captured() const { return captured_.load(std::memory_order_relaxed); }
  std::uint64_t delivered() const { return delivered_.load(std::memory_order_relaxed); }

 private:
  void deliver(BYTE* buffer, LONG length);
  void takeMediaTypeChange(IMediaSample& sample);

  const HWND mainWindow_;
  // Guards packer_: set by the main thread (or a media type change), used by the streaming
  // thread for each sample; the main thread takes it only around a format change.
  std::mutex packerMutex_;
  FramePacker packer_;
  std::atomic<std::uint64_t> captured_{0};
  std::atomic<std::uint64_t> delivered_{0};
};

// The interface the grabber is handed. It declares SampleCB and BufferCB again; in C++ that
// overrides the same two vtable entries, so the table is
// exactly ISampleGrabberCB's: QueryInterface, AddRef, Release, SampleCB, BufferCB.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"  // IUnknown's, as in every COM header
struct TSampleGrabberCBInt : public dshow::ISampleGrabberCB {
  HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) override = 0;
  HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, LONG length) override = 0;

 protected:
  ~TSampleGrabberCBInt() = default;
};
#pragma GCC diagnostic pop

// The reference-counted COM object: freed when its last reference goes (the capture object's
// and the grabber's, from SetCallback with it until SetCallback with none). SampleCB and
// BufferCB forward to Impl.
class TSampleGrabberCB final
    : public dshow::ComObject<TSampleGrabberCBInt, dshow::kIidSampleGrabberCB> {
 public:
  // A new object holding one reference, which the caller owns.
  static dshow::ComRef<TSampleGrabberCB> create(HWND mainWindow);

  HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) override;
  HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, LONG length) override;

  TSampleGrabberCBImpl& impl() { return *Impl; }
  // Objects of this class alive in the process, for tests of the teardown.
  static long liveObjects() { return live_.load(); }

 private:
  explicit TSampleGrabberCB(HWND mainWindow);
  ~TSampleGrabberCB() override;

  const std::unique_ptr<TSampleGrabberCBImpl> Impl;
  static std::atomic<long> live_;
};

}  // namespace ravdel
