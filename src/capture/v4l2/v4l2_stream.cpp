#include "capture/v4l2/v4l2_stream.h"

#include <linux/videodev2.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <system_error>

#include "capture/v4l2/v4l2_format.h"
#include "capture/v4l2/v4l2_query.h"
#include "platform/thread_name.h"

namespace ravdel {
namespace {

constexpr std::uint32_t kBufferCount = 4;
// The worker wakes after this many frame periods without a frame, within these bounds.
constexpr std::int64_t kPeriodsPerTimeout = 4;
constexpr std::int64_t kMinTimeoutMs = 100;
constexpr std::int64_t kMaxTimeoutMs = 2000;
constexpr std::size_t kLargestFrame = std::numeric_limits<std::int32_t>::max();

// The v4l2_buffer of mmap buffer `index` for QUERYBUF, QBUF and DQBUF, with the one plane the
// multi-planar API reports through. Not copyable: the buffer points at its own plane.
class BufferDescription {
 public:
  BufferDescription(std::uint32_t type, std::uint32_t index) {
    buffer_.type = type;
    buffer_.memory = V4L2_MEMORY_MMAP;
    buffer_.index = index;
    if (multiPlanar()) {
      buffer_.m.planes = &plane_;
      buffer_.length = 1;
    }
  }
  BufferDescription(const BufferDescription&) = delete;
  BufferDescription& operator=(const BufferDescription&) = delete;

  v4l2_buffer* get() { return &buffer_; }
  std::uint32_t index() const { return buffer_.index; }
  std::uint32_t flags() const { return buffer_.flags; }
  // After QUERYBUF: what to map, and where.
  std::size_t length() const { return multiPlanar() ? plane_.length : buffer_.length; }
  off_t mapOffset() const {
    return static_cast<off_t>(multiPlanar() ? plane_.m.mem_offset : buffer_.m.offset);
  }
  // After DQBUF: where the frame lies. A plane counts its data_offset into bytesused.
  std::size_t dataBegin() const { return multiPlanar() ? plane_.data_offset : 0; }
  std::size_t dataEnd() const { return multiPlanar() ? plane_.bytesused : buffer_.bytesused; }
  // After DQBUF: when the driver finished the frame, in UTC; unknown (0) unless the driver
  // stamps with the monotonic clock, which it then was on this machine a moment ago.
  std::int64_t takenUtcUs() const {
    const timeval& stamp = buffer_.timestamp;
    if ((buffer_.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) != V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC ||
        (stamp.tv_sec == 0 && stamp.tv_usec == 0))
      return 0;
    const std::int64_t stampUs = std::int64_t{stamp.tv_sec} * 1000000 + stamp.tv_usec;
    timespec monotonic{}, realtime{};
    clock_gettime(CLOCK_MONOTONIC, &monotonic);
    clock_gettime(CLOCK_REALTIME, &realtime);
    const auto micros = [](const timespec& t) {
      return std::int64_t{t.tv_sec} * 1000000 + t.tv_nsec / 1000;
    };
    return micros(realtime) - (micros(monotonic) - stampUs);
  }

 private:
  bool multiPlanar() const { return buffer_.type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE; }

  v4l2_buffer buffer_{};
  v4l2_plane plane_{};
};

}  // namespace

V4l2Stream::V4l2Stream(V4l2Io& io, int fd, std::uint32_t bufferType, std::string label,
                       const ReceiverSlot& slot)
    : io_(io), fd_(fd), type_(bufferType), label_(std::move(label)), slot_(slot) {}

V4l2Stream::~V4l2Stream() {
  stopWorker();
  turnOff();
  buffers_.clear();  // unmaps
  releaseBuffers();
}

HResult V4l2Stream::start() {
  readFrameInterval();
  for (HResult (V4l2Stream::*step)() :
       {&V4l2Stream::readFormat, &V4l2Stream::requestBuffers, &V4l2Stream::mapBuffers,
        &V4l2Stream::queueBuffers, &V4l2Stream::turnOn, &V4l2Stream::startWorker}) {
    const HResult hr = (this->*step)();
    if (failed(hr)) return hr;
  }
  return kSOk;
}

HResult V4l2Stream::fail(int error, const char* step) {
  failure_ = std::string(step) + " failed: " + std::strerror(error);
  captureLog(label_ + ": " + failure_);
  return hresultFromErrno(error);
}

// The format as the driver has it now, whatever was asked for; the packer sizes its buffer
// for it here, so that the worker never allocates.
HResult V4l2Stream::readFormat() {
  CaptureFormat format;
  if (const int error = readCaptureFormat(io_, fd_, type_, format))
    return fail(error, "VIDIOC_G_FMT");
  if (format.planes != 1) return fail(EINVAL, "format of several memory planes");
  if (!packer_.configure(frameLayoutOf(format))) return fail(EOVERFLOW, "frame size");
  return kSOk;
}

// VIDIOC_G_PARM: a few frame periods as the poll timeout; the default when not told.
void V4l2Stream::readFrameInterval() {
  v4l2_streamparm parameters{};
  parameters.type = type_;
  if (ioctlRetry(io_, fd_, VIDIOC_G_PARM, &parameters) < 0) return;
  const v4l2_captureparm& capture = parameters.parm.capture;
  const v4l2_fract& period = capture.timeperframe;
  if ((capture.capability & V4L2_CAP_TIMEPERFRAME) == 0 || period.numerator == 0 ||
      period.denominator == 0)
    return;
  const std::int64_t periodMs = std::int64_t{1000} * period.numerator / period.denominator;
  pollTimeoutMs_ =
      static_cast<int>(std::clamp(kPeriodsPerTimeout * periodMs, kMinTimeoutMs, kMaxTimeoutMs));
}

// The driver may grant fewer buffers than asked for; whatever it grants is used.
HResult V4l2Stream::requestBuffers() {
  v4l2_requestbuffers request{};
  request.count = kBufferCount;
  request.type = type_;
  request.memory = V4L2_MEMORY_MMAP;
  if (ioctlRetry(io_, fd_, VIDIOC_REQBUFS, &request) < 0) return fail(errno, "VIDIOC_REQBUFS");
  buffersRequested_ = true;
  if (request.count == 0) return fail(ENOMEM, "VIDIOC_REQBUFS");
  bufferCount_ = request.count;
  return kSOk;
}

HResult V4l2Stream::mapBuffers() {
  buffers_.reserve(bufferCount_);
  for (std::uint32_t i = 0; i < bufferCount_; ++i) {
    BufferDescription buffer(type_, i);
    if (ioctlRetry(io_, fd_, VIDIOC_QUERYBUF, buffer.get()) < 0)
      return fail(errno, "VIDIOC_QUERYBUF");
    void* address = io_.mmap(buffer.length(), fd_, buffer.mapOffset());
    if (address == nullptr) return fail(errno, "mmap");
    buffers_.emplace_back(io_, address, buffer.length());
  }
  return kSOk;
}

HResult V4l2Stream::queueBuffers() {
  for (std::uint32_t i = 0; i < bufferCount_; ++i) {
    BufferDescription buffer(type_, i);
    if (ioctlRetry(io_, fd_, VIDIOC_QBUF, buffer.get()) < 0) return fail(errno, "VIDIOC_QBUF");
  }
  return kSOk;
}

// ENOSPC here is a USB camera whose format needs more bandwidth than the bus has left.
HResult V4l2Stream::turnOn() {
  int type = static_cast<int>(type_);
  if (ioctlRetry(io_, fd_, VIDIOC_STREAMON, &type) < 0) return fail(errno, "VIDIOC_STREAMON");
  streaming_ = true;
  return kSOk;
}

HResult V4l2Stream::startWorker() {
  if (!wake_.create()) return fail(errno, "eventfd");
  try {
    worker_ = std::thread(&V4l2Stream::run, this);
  } catch (const std::system_error& e) {
    return fail(e.code().value(), "worker thread");
  }
  return kSOk;
}

// Main thread: wakes the worker through the stop event and waits for it to finish its frame.
// A worker that ended by itself has logged its counts already.
void V4l2Stream::stopWorker() {
  if (!worker_.joinable()) return;
  wake_.signal();
  worker_.join();
  if (!ended()) logStreamStopped(label_, slot_, captured_, delivered_);
}

// After the device has gone these fail as expected; only failures of a live device are logged.
void V4l2Stream::turnOff() {
  if (!streaming_) return;
  streaming_ = false;
  int type = static_cast<int>(type_);
  if (ioctlRetry(io_, fd_, VIDIOC_STREAMOFF, &type) < 0 && !ended())
    fail(errno, "VIDIOC_STREAMOFF");
}

void V4l2Stream::releaseBuffers() {
  if (!buffersRequested_) return;
  buffersRequested_ = false;
  v4l2_requestbuffers request{};
  request.type = type_;
  request.memory = V4L2_MEMORY_MMAP;
  if (ioctlRetry(io_, fd_, VIDIOC_REQBUFS, &request) < 0 && !ended())
    fail(errno, "VIDIOC_REQBUFS 0");
}

// Worker thread. However it ends, unless told to stop, the stream has ended for good: the
// counts are logged now and ended() turns true last, so the log is complete once it does.
void V4l2Stream::run() {
  nameThisThread("ravdel-v4l2");
  try {
    if (serve()) return;
  } catch (const std::exception& e) {
    reportEnd(e.what());
  } catch (...) {
    reportEnd("unknown failure");
  }
  logStreamStopped(label_, slot_, captured_, delivered_);
  ended_.store(true);
}

// Worker thread: true when the stop event ended it, false when the device failed (logged).
bool V4l2Stream::serve() {
  for (;;) {
    switch (waitForFrame()) {
      case Wake::Stop:
        return true;
      case Wake::Failed:
        return false;
      case Wake::Frame:
        if (!takeFrame()) return false;
        break;
      case Wake::Idle:
        break;
    }
  }
}

// Worker thread: polls the device and the stop event. Interruptions and timeouts (a stalled
// camera) are idle turns; a failing or vanished device ends the stream.
V4l2Stream::Wake V4l2Stream::waitForFrame() {
  pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_.fd(), POLLIN, 0}};
  const int ready = io_.poll(fds, 2, pollTimeoutMs_);
  if (ready < 0) {
    const int error = errno;
    if (error == EINTR || error == EAGAIN) return Wake::Idle;
    reportEnd(std::string("poll: ") + std::strerror(error));
    return Wake::Failed;
  }
  if (fds[1].revents != 0) return Wake::Stop;
  if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
    reportEnd("the device reported an error or hang-up");
    return Wake::Failed;
  }
  return (fds[0].revents & POLLIN) != 0 ? Wake::Frame : Wake::Idle;
}

// Worker thread: dequeues one filled buffer, delivers it unless the driver marked it damaged,
// and queues it again. False when the stream has ended (ENODEV: the camera was unplugged).
bool V4l2Stream::takeFrame() {
  BufferDescription buffer(type_, 0);  // the driver fills in which one
  if (ioctlRetry(io_, fd_, VIDIOC_DQBUF, buffer.get()) < 0) {
    const int error = errno;
    if (error == EAGAIN) return true;
    reportEnd(std::string("VIDIOC_DQBUF: ") + std::strerror(error));
    return false;
  }
  if (buffer.index() >= buffers_.size()) {
    reportEnd("VIDIOC_DQBUF: buffer index out of range");
    return false;
  }
  ++captured_;
  if ((buffer.flags() & V4L2_BUF_FLAG_ERROR) == 0)
    deliver(buffers_[buffer.index()], buffer.dataBegin(), buffer.dataEnd(), buffer.takenUtcUs());
  if (ioctlRetry(io_, fd_, VIDIOC_QBUF, buffer.get()) < 0) {
    const int error = errno;
    reportEnd(std::string("VIDIOC_QBUF: ") + std::strerror(error));
    return false;
  }
  return true;
}

// Worker thread: the bytes the driver filled, never beyond the mapping, packed.
void V4l2Stream::deliver(const BufferMapping& buffer, std::size_t begin, std::size_t end,
                         std::int64_t takenUtcUs) {
  end = std::min(end, buffer.length());
  if (begin >= end) return;
  const std::span<const std::uint8_t> frame = packer_.pack(buffer.data() + begin, end - begin);
  if (frame.size() <= kLargestFrame &&
      slot_.deliver(frame.data(), static_cast<std::int32_t>(frame.size()), {takenUtcUs, 0}))
    ++delivered_;
}

// Worker thread: why a stream ended by itself, logged once where it was found.
void V4l2Stream::reportEnd(const std::string& reason) {
  captureLog(label_ + ": capture ended: " + reason);
}

}  // namespace ravdel
