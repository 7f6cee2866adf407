#include "capture/v4l2/v4l2_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>

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

// The description of capture buffer `index` of an mmap stream, for QUERYBUF, QBUF and DQBUF.
v4l2_buffer mmapBuffer(std::uint32_t index) {
  v4l2_buffer buffer{};
  buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  buffer.memory = V4L2_MEMORY_MMAP;
  buffer.index = index;
  return buffer;
}

}  // namespace

V4l2Stream::V4l2Stream(V4l2Io& io, int fd, std::string label, const ReceiverSlot& slot)
    : io_(io), fd_(fd), label_(std::move(label)), slot_(slot) {}

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
  std::fprintf(stderr, "ravdel: %s: %s: %s\n", label_.c_str(), step, std::strerror(error));
  return hresultFromErrno(error);
}

// The frame size and layout the worker works with; a BGR24 stream gets its flip buffer.
HResult V4l2Stream::readFormat() {
  if (const int error = readCaptureFormat(io_, fd_, format_)) return fail(error, "VIDIOC_G_FMT");
  if (format_.pixelformat != V4L2_PIX_FMT_BGR24) return kSOk;
  const std::size_t bytes = std::size_t{format_.width} * 3 * format_.height;
  if (bytes > kLargestFrame) return fail(EOVERFLOW, "BGR24 frame size");
  flipped_.resize(bytes);
  return kSOk;
}

// VIDIOC_G_PARM: a few frame periods as the poll timeout; the default when not told.
void V4l2Stream::readFrameInterval() {
  v4l2_streamparm parameters{};
  parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
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

HResult V4l2Stream::requestBuffers() {
  v4l2_requestbuffers request{};
  request.count = kBufferCount;
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
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
    v4l2_buffer buffer = mmapBuffer(i);
    if (ioctlRetry(io_, fd_, VIDIOC_QUERYBUF, &buffer) < 0) return fail(errno, "VIDIOC_QUERYBUF");
    void* address = io_.mmap(buffer.length, fd_, static_cast<off_t>(buffer.m.offset));
    if (address == nullptr) return fail(errno, "mmap");
    buffers_.emplace_back(io_, address, buffer.length);
  }
  return kSOk;
}

HResult V4l2Stream::queueBuffers() {
  for (std::uint32_t i = 0; i < bufferCount_; ++i) {
    v4l2_buffer buffer = mmapBuffer(i);
    if (ioctlRetry(io_, fd_, VIDIOC_QBUF, &buffer) < 0) return fail(errno, "VIDIOC_QBUF");
  }
  return kSOk;
}

HResult V4l2Stream::turnOn() {
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
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
void V4l2Stream::stopWorker() {
  if (!worker_.joinable()) return;
  wake_.signal();
  worker_.join();
  logStreamStopped(label_, captured_, delivered_);
}

// After the device has gone these fail as expected; only failures of a live device are logged.
void V4l2Stream::turnOff() {
  if (!streaming_) return;
  streaming_ = false;
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (ioctlRetry(io_, fd_, VIDIOC_STREAMOFF, &type) < 0 && !ended())
    fail(errno, "VIDIOC_STREAMOFF");
}

void V4l2Stream::releaseBuffers() {
  if (!buffersRequested_) return;
  buffersRequested_ = false;
  v4l2_requestbuffers request{};
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  if (ioctlRetry(io_, fd_, VIDIOC_REQBUFS, &request) < 0 && !ended())
    fail(errno, "VIDIOC_REQBUFS 0");
}

// Worker thread.
void V4l2Stream::run() {
  nameThisThread("ravdel-v4l2");
  for (;;) {
    const Wake wake = waitForFrame();
    if (wake == Wake::Stop || (wake == Wake::Frame && !takeFrame())) return;
  }
}

// Worker thread: polls the device and the stop event. Interruptions and timeouts are idle
// turns; a failing or vanished device ends the stream.
V4l2Stream::Wake V4l2Stream::waitForFrame() {
  pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_.fd(), POLLIN, 0}};
  const int ready = io_.poll(fds, 2, pollTimeoutMs_);
  if (ready < 0) {
    const int error = errno;
    if (error == EINTR || error == EAGAIN) return Wake::Idle;
    end(std::string("poll: ") + std::strerror(error));
    return Wake::Stop;
  }
  if (fds[1].revents != 0) return Wake::Stop;
  if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
    end("the device reported an error or hang-up");
    return Wake::Stop;
  }
  return (fds[0].revents & POLLIN) != 0 ? Wake::Frame : Wake::Idle;
}

// Worker thread: dequeues one filled buffer, delivers it unless the driver marked it damaged,
// and queues it again. False when the stream has ended.
bool V4l2Stream::takeFrame() {
  v4l2_buffer buffer = mmapBuffer(0);  // the driver fills in which one
  if (ioctlRetry(io_, fd_, VIDIOC_DQBUF, &buffer) < 0) {
    const int error = errno;
    if (error == EAGAIN) return true;
    end(std::string("VIDIOC_DQBUF: ") + std::strerror(error));
    return false;
  }
  if (buffer.index >= buffers_.size()) {
    end("VIDIOC_DQBUF: buffer index out of range");
    return false;
  }
  ++captured_;
  if ((buffer.flags & V4L2_BUF_FLAG_ERROR) == 0) deliver(buffers_[buffer.index], buffer.bytesused);
  if (ioctlRetry(io_, fd_, VIDIOC_QBUF, &buffer) < 0) {
    const int error = errno;
    end(std::string("VIDIOC_QBUF: ") + std::strerror(error));
    return false;
  }
  return true;
}

// Worker thread: the bytes the driver filled, never more than the mapping holds.
void V4l2Stream::deliver(const BufferMapping& buffer, std::uint32_t bytesUsed) {
  const std::size_t bytes = std::min<std::size_t>(bytesUsed, buffer.length());
  if (format_.pixelformat == V4L2_PIX_FMT_BGR24) {
    deliverFlipped(buffer.data(), bytes);
  } else if (bytes <= kLargestFrame &&
             slot_.deliver(buffer.data(), static_cast<std::int32_t>(bytes))) {
    ++delivered_;
  }
}

// Worker thread: BGR24 rows come top-down, possibly padded; the receiver takes packed rows
// bottom row first. A short frame keeps only its complete rows.
void V4l2Stream::deliverFlipped(const std::uint8_t* data, std::size_t bytes) {
  const std::size_t rowBytes = std::size_t{format_.width} * 3;
  const std::size_t stride = std::max<std::size_t>(format_.bytesperline, rowBytes);
  if (rowBytes == 0 || bytes < rowBytes) return;
  const std::size_t rows = std::min<std::size_t>(format_.height, 1 + (bytes - rowBytes) / stride);
  std::uint8_t* out = flipped_.data();
  for (std::size_t r = 0; r < rows; ++r)
    std::memcpy(out + (rows - 1 - r) * rowBytes, data + r * stride, rowBytes);
  if (slot_.deliver(out, static_cast<std::int32_t>(rows * rowBytes))) ++delivered_;
}

// Worker thread: the one log line of a stream that ends by itself.
void V4l2Stream::end(const std::string& reason) {
  ended_.store(true);
  std::fprintf(stderr, "ravdel: %s: capture ended: %s\n", label_.c_str(), reason.c_str());
}

}  // namespace ravdel
