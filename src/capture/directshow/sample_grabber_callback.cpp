#include "capture/directshow/sample_grabber_callback.h"

#include <new>

#include "capture/directshow/com_support.h"
#include "capture/directshow/media_format.h"

namespace ravdel {

namespace {
// The offer of a frame nobody receives yet; the main window has no handler for it.
constexpr UINT kFrameOfferMessage = WM_USER + 2;
}  // namespace

std::atomic<long> TSampleGrabberCB::live_{0};

// ---- TSampleGrabberCBImpl: streaming thread ----

void TSampleGrabberCBImpl::setLayout(const FrameLayout& layout) {
  const std::lock_guard lock(packerMutex_);
  // A layout too large to pack: the frames pass as they are and show the format notice.
  if (!packer_.configure(layout)) packer_.configure({});
}

// Streaming thread: a driver that changes the stride mid-stream says so on the sample.
void TSampleGrabberCBImpl::takeMediaTypeChange(IMediaSample& sample) {
  AM_MEDIA_TYPE* changed = nullptr;
  if (sample.GetMediaType(&changed) != S_OK || changed == nullptr) return;
  const dshow::MediaTypePtr type(changed);
  if (const auto format = dshow::mediaFormatOf(*type)) setLayout(format->layout);
}

HRESULT TSampleGrabberCBImpl::SampleCB(double /*sampleTime*/, IMediaSample* sample) {
  if (sample == nullptr) return S_OK;
  takeMediaTypeChange(*sample);
  // The allocated size of the buffer, not the length of the data in it.
  const LONG length = sample->GetSize();
  if (length > 0) {
    BYTE* buffer = nullptr;
    if (SUCCEEDED(sample->GetPointer(&buffer)) && buffer != nullptr) deliver(buffer, length);
  }
  return S_OK;
}

HRESULT TSampleGrabberCBImpl::BufferCB(double /*sampleTime*/, BYTE* buffer, LONG length) {
  if (length > 0 && buffer != nullptr) deliver(buffer, length);
  return S_OK;
}

void TSampleGrabberCBImpl::deliver(BYTE* buffer, LONG length) {
  captured_.fetch_add(1, std::memory_order_relaxed);
  const std::lock_guard lock(packerMutex_);
  const std::span<const std::uint8_t> frame =
      packer_.pack(buffer, static_cast<std::size_t>(length));
  if (Receiver.deliver(frame.data(), static_cast<std::int32_t>(frame.size()))) {
    delivered_.fetch_add(1, std::memory_order_relaxed);
  } else if (mainWindow_ != nullptr) {
    // Posted: a sent message could wait for a main thread that waits in IMediaControl::Stop
    // for this very thread. The address is valid only during this call; nobody reads it.
    PostMessageA(mainWindow_, kFrameOfferMessage, static_cast<WPARAM>(length),
                 reinterpret_cast<LPARAM>(buffer));
  }
}

// ---- TSampleGrabberCB ----

dshow::ComRef<TSampleGrabberCB> TSampleGrabberCB::create(HWND mainWindow) {
  return dshow::ComRef<TSampleGrabberCB>::adopt(new (std::nothrow) TSampleGrabberCB(mainWindow));
}

TSampleGrabberCB::TSampleGrabberCB(HWND mainWindow)
    : Impl(std::make_unique<TSampleGrabberCBImpl>(mainWindow)) {
  live_.fetch_add(1);
}

TSampleGrabberCB::~TSampleGrabberCB() {
  live_.fetch_sub(1);
}

HRESULT STDMETHODCALLTYPE TSampleGrabberCB::SampleCB(double sampleTime, IMediaSample* sample) {
  return Impl->SampleCB(sampleTime, sample);
}

HRESULT STDMETHODCALLTYPE TSampleGrabberCB::BufferCB(double sampleTime, BYTE* buffer, LONG length) {
  return Impl->BufferCB(sampleTime, buffer, length);
}

}  // namespace ravdel
