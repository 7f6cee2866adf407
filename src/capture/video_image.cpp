#include "capture/video_image.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

namespace ravdel {
namespace {

// Frames are taken only while the main loop was idle at most this long ago.
constexpr std::int64_t kIdleWindowMs = 1000;

}  // namespace

TVideoImage::TVideoImage(CaptureBackend& backend, MainLoop& loop, Clock clock)
    : backend_(backend), loop_(loop), clock_(clock) {
  loop_.attach(this);
}

TVideoImage::~TVideoImage() {
  VideoStop();
  Dispose();
}

void TVideoImage::GetListOfDevices(std::vector<std::string>& list) {
  list.clear();
  backend_.ListVideoDevices(list);
}

std::int32_t TVideoImage::VideoStart(const std::string& name) {
  return open(
      [&](CaptureDevice& device, std::string& found) { return device.StartVideo(name, found); },
      true);
}

std::int32_t TVideoImage::VideoReopen(const std::string& path, const std::string& name) {
  return open([&](CaptureDevice& device,
                  std::string& found) { return device.StartVideoByPath(path, name, found); },
              false);
}

std::int32_t TVideoImage::open(const Opening& opening, bool patient) {
  convertedGeneration_ = kNoGeneration;
  VideoStop();
  startFailure_.clear();
  lastReceivedUs_ = 0;
  FVideoSample = backend_.CreateDevice();
  FVideoSample->setPatient(patient);
  HResult hr;
  try {
    hr = opening(*FVideoSample, FDeviceName);
  } catch (const std::exception& e) {
    hr = -1;
    startFailure_ = e.what();
  }
  std::int32_t w = 0, h = 0;
  std::uint32_t code = 0;
  if (!failed(hr)) hr = FVideoSample->GetStreamInfo(w, h, code);
  if (failed(hr)) {
    if (startFailure_.empty()) startFailure_ = FVideoSample->failure();
    VideoStop();
    return 1;
  }
  devicePath_ = FVideoSample->devicePath();
  applyStreamInfo(w, h, code);
  FVideoSample->SetFrameCallback(this);
  return 0;
}

std::vector<VideoFormat> TVideoImage::formatTable() const {
  if (!FVideoSample) return {};
  return FVideoSample->formats();
}

void TVideoImage::GetListOfFormats(std::vector<std::string>& list) {
  list.clear();
  if (FVideoSample) FVideoSample->ListFormats(list);
}

std::int32_t TVideoImage::SelectFormat(std::int32_t index) {
  if (!FVideoSample) return 1;
  const HResult switched = FVideoSample->SetFormatByIndex(index);
  std::int32_t w = 0, h = 0;
  std::uint32_t code = 0;
  if (!failed(FVideoSample->GetStreamInfo(w, h, code))) applyStreamInfo(w, h, code);
  const bool streams = !failed(switched) && FVideoSample->running();
  startFailure_ = streams ? std::string() : FVideoSample->failure();
  return streams ? 0 : 1;
}

void TVideoImage::applyStreamInfo(std::int32_t w, std::int32_t h, std::uint32_t code) {
  FWidth = w;
  FHeight = h;
  FFourCC = code;
  FBitmap.resize(w, h);
  convertedGeneration_ = kNoGeneration;  // the resized bitmap holds no conversion yet
  // Frames published so far are of the previous format (or camera): converted at the new size
  // they would only show the notice. After a switch this may also pass over the first few
  // frames of the new stream, which has already started.
  firstFreshGeneration_ = generationOf(published_.load()) + 1;
}

// Destroying the device stops its worker; no frame arrives after that has returned.
// Destructors do not throw, so nothing is left to swallow here.
void TVideoImage::VideoStop() {
  FVideoSample.reset();
  FDeviceName.clear();
  devicePath_.clear();
}

void TVideoImage::Dispose() {
  if (disposed_) return;
  loop_.attach(nullptr);
  for (int i = kSlots - 1; i >= 0; --i) {
    FSlotData[static_cast<std::size_t>(i)].reset();
    FSlotSize[static_cast<std::size_t>(i)] = 0;
  }
  FBitmap = FrameBitmap();
  disposed_ = true;
}

// Capture thread: the least possible per frame — a clock read, at most one allocation (only
// when the byte count changes), one copy, one post.
void TVideoImage::receiveFrame(const std::uint8_t* data, std::int32_t& byteCount,
                               const FrameMoment& moment) {
  framesReceived_.fetch_add(1, std::memory_order_relaxed);
  const FrameMoment taken = completeMoment(moment);
  const auto sinceIdle = static_cast<std::int32_t>(clock_() - FLastIdleTime.load());
  if (std::llabs(static_cast<long long>(sinceIdle)) > kIdleWindowMs) {
    framesDropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const std::uint64_t current = published_.load();
  int slot = (slotOf(current) + 1) % kSlots;
  if (slot == slotInUse_.load()) slot = (slot + 1) % kSlots;
  if (!fillSlot(slot, data, byteCount)) return;
  FSlotMoment[static_cast<std::size_t>(slot)] = taken;
  published_.store(pack(generationOf(current) + 1, slot));
  if (notificationsPending_.fetch_add(1) < kMaxPendingNotifications) {
    loop_.postFrameNotification();
  } else {
    notificationsPending_.fetch_sub(1);  // enough are queued; they will deliver this frame
    framesBacklogged_.fetch_add(1, std::memory_order_relaxed);
  }
  std::this_thread::yield();
}

// Every frame, the discarded ones too, so that a period is the time between two frames the
// camera took rather than two the program kept.
FrameMoment TVideoImage::completeMoment(const FrameMoment& moment) {
  FrameMoment taken = moment;
  if (taken.utcUs == 0) {
    taken.utcUs = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  }
  if (taken.periodUs == 0 && lastReceivedUs_ != 0 && taken.utcUs > lastReceivedUs_) {
    taken.periodUs = taken.utcUs - lastReceivedUs_;
  }
  lastReceivedUs_ = taken.utcUs;
  return taken;
}

bool TVideoImage::fillSlot(int slot, const std::uint8_t* data, std::int32_t byteCount) {
  const auto s = static_cast<std::size_t>(slot);
  if (byteCount != FSlotSize[s]) {
    FSlotData[s].reset();
    FSlotSize[s] = 0;
    if (byteCount > 0) {
      FSlotData[s].reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(byteCount)]);
      if (!FSlotData[s]) return false;  // out of memory: this frame is lost, the next may fit
    }
    FSlotSize[s] = byteCount;
  }
  if (byteCount > 0) std::memcpy(FSlotData[s].get(), data, static_cast<std::size_t>(byteCount));
  return true;
}

// Marks the published slot as in use, so that the capture thread writes elsewhere. The
// published slot is read again after the mark: a frame published in between is claimed
// instead, so the claim always names a slot the capture thread has seen marked.
std::uint64_t TVideoImage::claimCurrentSlot() {
  std::uint64_t current = published_.load();
  for (;;) {
    slotInUse_.store(slotOf(current));
    const std::uint64_t again = published_.load();
    if (again == current) return current;
    current = again;
  }
}

void TVideoImage::releaseSlot() {
  slotInUse_.store(-1);
}

void TVideoImage::convertClaimed(std::uint64_t claimed) {
  if (convertedGeneration_ == generationOf(claimed) ||
      generationOf(claimed) < firstFreshGeneration_)
    return;
  const auto s = static_cast<std::size_t>(slotOf(claimed));
  const ConvertOutcome outcome =
      converter_.ConvertFrame(FFourCC, FSlotSize[s], FSlotData[s].get(), FBitmap);
  FBitmapMoment = FSlotMoment[s];
  ++conversions_;
  if (completed(outcome)) convertedGeneration_ = generationOf(claimed);
}

void TVideoImage::GetBitmap(FrameBitmap& dest) {
  // `dest` shares the pixels it got last time until it is written to. Letting go of them
  // first lets the conversion write in place instead of copying the picture aside.
  dest = FrameBitmap();
  if (handlerHasClaim_) {
    convertClaimed(handlerClaim_);
  } else {
    convertClaimed(claimCurrentSlot());
    releaseSlot();
  }
  dest = FBitmap;
}

// Main thread: one frame notification. The slot current now stays claimed while the frame
// event runs, so the bytes handed to it stay valid and GetBitmap converts exactly them. While
// the newest frame is one of the previous format there is nothing to hand on.
void TVideoImage::onFrameNotification() {
  notificationsPending_.fetch_sub(1);
  if (FBusy) {  // a notification while the handler pumps the loop is dropped
    ++notificationsWhileBusy_;
    return;
  }
  if (generationOf(published_.load()) < firstFreshGeneration_) return;
  FBusy = true;
  convertedGeneration_ = kNoGeneration;
  handlerClaim_ = claimCurrentSlot();
  handlerHasClaim_ = true;
  try {
    if (OnNewVideoFrame) {
      OnNewVideoFrame(*this, FWidth, FHeight,
                      FSlotData[static_cast<std::size_t>(slotOf(handlerClaim_))].get());
    }
  } catch (const std::exception& e) {
    reportError(e.what());
  } catch (...) {
    reportError("Unknown failure");
  }
  handlerHasClaim_ = false;
  releaseSlot();
  FBusy = false;
}

void TVideoImage::onIdle() {
  FLastIdleTime.store(clock_());
}

void TVideoImage::reportError(const std::string& message) {
  if (!OnError) return;
  try {
    OnError(message);
  } catch (...) {
    // The error box itself failed; nothing more can be shown.
  }
}

}  // namespace ravdel
