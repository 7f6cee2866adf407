#include "fake_v4l2_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ravdel {
namespace {

constexpr std::size_t kBufferBytes = 4096;  // a page: larger than any test frame
constexpr std::uint32_t kOffsetStep = 0x10000;
constexpr std::uint32_t kRangeStep = 16;

std::string codeText(std::uint32_t code) {
  return std::string(reinterpret_cast<const char*>(&code), 4);
}

void copyCard(const std::string& card, std::uint8_t (&out)[32]) {
  std::memcpy(out, card.data(), std::min(card.size(), sizeof out));
}

bool multiPlanar(std::uint32_t type) {
  return type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
}

// Bytes of a row's pixels (of the luma plane for 4:2:0); 0 for compressed formats.
std::uint32_t rowBytes(std::uint32_t pixelFormat, std::uint32_t width) {
  switch (pixelFormat) {
    case V4L2_PIX_FMT_BGR24:
      return width * 3;
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_UYVY:
      return width * 2;
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
      return 0;
    default:
      return width;
  }
}

std::uint32_t imageBytes(const v4l2_pix_format& pix) {
  switch (pix.pixelformat) {
    case V4L2_PIX_FMT_YUV420:
    case V4L2_PIX_FMT_YVU420:
    case V4L2_PIX_FMT_NV12:
    case V4L2_PIX_FMT_NV21:
      return pix.bytesperline * pix.height * 3 / 2;
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
      return pix.width * pix.height * 2;
    default:
      return pix.bytesperline * pix.height;
  }
}

std::uint32_t nearestInRange(std::uint32_t wanted, std::uint32_t smallest, std::uint32_t largest) {
  const std::uint32_t clamped = std::clamp(wanted, smallest, largest);
  const std::uint32_t steps = (clamped - smallest + kRangeStep / 2) / kRangeStep;
  return std::min(largest, smallest + steps * kRangeStep);
}

std::uint32_t alignUp(std::uint32_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

}  // namespace

void FakeV4l2Io::addNode(const std::string& name, const std::string& card, std::uint32_t nodeCaps,
                         bool deviceCaps) {
  const std::lock_guard lock(mutex_);
  nodes_[name] = {card, nodeCaps, deviceCaps, ""};
}

void FakeV4l2Io::setBusInfo(const std::string& name, const std::string& busInfo) {
  const std::lock_guard lock(mutex_);
  nodes_.at(name).busInfo = busInfo;
}

void FakeV4l2Io::addFormat(std::uint32_t pixelFormat, std::vector<Size> sizes,
                           std::uint32_t planes) {
  const std::lock_guard lock(mutex_);
  formats_.push_back({pixelFormat, std::move(sizes), false, planes});
}

void FakeV4l2Io::addRange(std::uint32_t pixelFormat, Size smallest, Size largest) {
  const std::lock_guard lock(mutex_);
  formats_.push_back({pixelFormat, {smallest, largest}, true, 1});
}

void FakeV4l2Io::setCurrent(std::uint32_t pixelFormat, Size size, std::uint32_t bytesPerLine) {
  const std::lock_guard lock(mutex_);
  current_.pixelformat = pixelFormat;
  current_.width = size.width;
  current_.height = size.height;
  current_.bytesperline = bytesPerLine;
  current_.sizeimage = imageBytes(current_);
  const Format* format = findFormat(pixelFormat);
  currentPlanes_ = format != nullptr ? format->planes : 1;
}

void FakeV4l2Io::setIntervals(std::uint32_t pixelFormat, Size size,
                              std::vector<v4l2_fract> intervals, bool stepwise) {
  const std::lock_guard lock(mutex_);
  intervals_[{pixelFormat, size.width, size.height}] = {std::move(intervals), stepwise};
}

void FakeV4l2Io::setTimePerFrame(bool settable) {
  const std::lock_guard lock(mutex_);
  timePerFrameSettable_ = settable;
}

void FakeV4l2Io::setAlignment(std::uint32_t pixels) {
  const std::lock_guard lock(mutex_);
  alignment_ = pixels;
}

void FakeV4l2Io::setRowPadding(std::uint32_t bytes) {
  const std::lock_guard lock(mutex_);
  rowPadding_ = bytes;
}

void FakeV4l2Io::setBufferLimit(std::uint32_t count) {
  const std::lock_guard lock(mutex_);
  bufferLimit_ = count;
}

void FakeV4l2Io::setBandwidth(std::uint32_t bytesPerFrame) {
  const std::lock_guard lock(mutex_);
  bandwidth_ = bytesPerFrame;
}

void FakeV4l2Io::setDataOffset(std::uint32_t bytes) {
  const std::lock_guard lock(mutex_);
  dataOffset_ = bytes;
}

void FakeV4l2Io::pushFrame(std::vector<std::uint8_t> bytes, std::uint32_t flags) {
  const std::lock_guard lock(mutex_);
  frames_.push_back({std::move(bytes), flags});
}

void FakeV4l2Io::setEndless(bool endless) {
  const std::lock_guard lock(mutex_);
  endless_ = endless;
}

void FakeV4l2Io::setStalled(bool stalled) {
  const std::lock_guard lock(mutex_);
  stalled_ = stalled;
}

void FakeV4l2Io::unplug() {
  const std::lock_guard lock(mutex_);
  unplugged_ = true;
}

void FakeV4l2Io::failNext(unsigned long request, int error, int times) {
  const std::lock_guard lock(mutex_);
  failures_[request] = {error, times};
}

void FakeV4l2Io::reportOnPoll(short revents) {
  const std::lock_guard lock(mutex_);
  pollReport_ = revents;
}

std::vector<std::string> FakeV4l2Io::events() const {
  const std::lock_guard lock(mutex_);
  return events_;
}

int FakeV4l2Io::openCount() const {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(open_.size());
}

int FakeV4l2Io::mappedCount() const {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(std::count(mapped_.begin(), mapped_.end(), true));
}

int FakeV4l2Io::pollCount() const {
  const std::lock_guard lock(mutex_);
  return polls_;
}

int FakeV4l2Io::takeFailure(unsigned long request) {
  const auto it = failures_.find(request);
  if (it == failures_.end()) return 0;
  const int error = it->second.first;
  if (it->second.second != kForever && --it->second.second == 0) failures_.erase(it);
  return error;
}

std::vector<std::string> FakeV4l2Io::listDirectory(const std::string&) {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& entry : nodes_)
    names.push_back(entry.first);
  return names;
}

int FakeV4l2Io::open(const std::string& path) {
  const std::lock_guard lock(mutex_);
  const std::string name = path.substr(path.rfind('/') + 1);
  errno = takeFailure(kOpen);
  if (errno == 0 && (nodes_.count(name) == 0 || unplugged_)) errno = ENOENT;
  if (errno != 0) return -1;
  open_[nextFd_] = name;
  events_.push_back("open");
  return nextFd_++;
}

int FakeV4l2Io::close(int fd) {
  const std::lock_guard lock(mutex_);
  events_.push_back("close");
  return open_.erase(fd) == 1 ? 0 : (errno = EBADF, -1);
}

int FakeV4l2Io::ioctl(int fd, unsigned long request, void* arg) {
  const std::lock_guard lock(mutex_);
  errno = open_.count(fd) == 0 ? EBADF : unplugged_ ? ENODEV : takeFailure(request);
  if (errno == 0) errno = handle(fd, request, arg);
  return errno == 0 ? 0 : -1;
}

// Under mutex_: whether the node of `fd` takes buffers of `type`.
bool FakeV4l2Io::accepts(int fd, std::uint32_t type) const {
  const std::uint32_t caps = nodes_.at(open_.at(fd)).nodeCaps;
  return multiPlanar(type)
             ? (caps & V4L2_CAP_VIDEO_CAPTURE_MPLANE) != 0
             : type == V4L2_BUF_TYPE_VIDEO_CAPTURE && (caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}

// Under mutex_: one ioctl; 0 or the errno.
int FakeV4l2Io::handle(int fd, unsigned long request, void* arg) {
  switch (request) {
    case VIDIOC_QUERYCAP: {
      auto& caps = *static_cast<v4l2_capability*>(arg);
      const Node& node = nodes_.at(open_.at(fd));
      copyCard(node.card, caps.card);
      copyCard(node.busInfo, caps.bus_info);
      caps.capabilities = node.nodeCaps;
      if (node.deviceCaps) {
        caps.device_caps = node.nodeCaps;
        caps.capabilities = node.nodeCaps | V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE |
                            V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS;
      }
      return 0;
    }
    case VIDIOC_ENUM_FMT: {
      auto& description = *static_cast<v4l2_fmtdesc*>(arg);
      if (!accepts(fd, description.type) || description.index >= formats_.size()) return EINVAL;
      description.pixelformat = formats_[description.index].pixelFormat;
      return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES:
      return enumerateSizes(*static_cast<v4l2_frmsizeenum*>(arg));
    case VIDIOC_ENUM_FRAMEINTERVALS:
      return enumerateIntervals(*static_cast<v4l2_frmivalenum*>(arg));
    case VIDIOC_G_FMT: {
      auto& format = *static_cast<v4l2_format*>(arg);
      if (!accepts(fd, format.type)) return EINVAL;
      if (!multiPlanar(format.type)) {
        format.fmt.pix = current_;
        return 0;
      }
      v4l2_pix_format_mplane& pix = format.fmt.pix_mp;
      pix.pixelformat = current_.pixelformat;
      pix.width = current_.width;
      pix.height = current_.height;
      pix.num_planes = static_cast<std::uint8_t>(currentPlanes_);
      pix.plane_fmt[0].bytesperline = current_.bytesperline;
      pix.plane_fmt[0].sizeimage = current_.sizeimage;
      return 0;
    }
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
      auto& format = *static_cast<v4l2_format*>(arg);
      return accepts(fd, format.type) ? negotiate(format, request == VIDIOC_S_FMT) : EINVAL;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
      auto& parameters = *static_cast<v4l2_streamparm*>(arg);
      if (!accepts(fd, parameters.type)) return EINVAL;
      v4l2_captureparm& capture = parameters.parm.capture;
      if (request == VIDIOC_S_PARM) {
        if (!timePerFrameSettable_) return ENOTTY;
        timePerFrame_ = capture.timeperframe;
        events_.push_back("S_PARM " + std::to_string(timePerFrame_.numerator) + "/" +
                          std::to_string(timePerFrame_.denominator));
      }
      capture.capability = timePerFrameSettable_ ? V4L2_CAP_TIMEPERFRAME : 0;
      capture.timeperframe = timePerFrame_;
      return 0;
    }
    case VIDIOC_REQBUFS: {
      auto& requested = *static_cast<v4l2_requestbuffers*>(arg);
      if (!accepts(fd, requested.type)) return EINVAL;
      if (const int error = requested.count > 0 ? takeFailure(kAllocate) : 0) return error;
      return requestBuffers(requested);
    }
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF:
      return bufferCall(fd, request, *static_cast<v4l2_buffer*>(arg));
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF: {
      if (!accepts(fd, static_cast<std::uint32_t>(*static_cast<int*>(arg)))) return EINVAL;
      const bool on = request == VIDIOC_STREAMON;
      if (on && bandwidth_ != 0 && current_.sizeimage > bandwidth_) return ENOSPC;
      streaming_ = on;
      if (!streaming_) queued_.clear();
      events_.push_back(streaming_ ? "STREAMON" : "STREAMOFF");
      return 0;
    }
    default:
      return ENOTTY;
  }
}

int FakeV4l2Io::enumerateSizes(v4l2_frmsizeenum& size) const {
  const Format* f = findFormat(size.pixel_format);
  if (f == nullptr) return EINVAL;
  if (f->range) {
    if (size.index > 0) return EINVAL;
    size.type = V4L2_FRMSIZE_TYPE_STEPWISE;
    size.stepwise = {f->sizes[0].width,  f->sizes[1].width,  kRangeStep,
                     f->sizes[0].height, f->sizes[1].height, kRangeStep};
    return 0;
  }
  if (size.index >= f->sizes.size()) return EINVAL;
  size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
  size.discrete = {f->sizes[size.index].width, f->sizes[size.index].height};
  return 0;
}

int FakeV4l2Io::enumerateIntervals(v4l2_frmivalenum& interval) const {
  const auto it = intervals_.find({interval.pixel_format, interval.width, interval.height});
  if (it == intervals_.end()) return EINVAL;
  const Intervals& offered = it->second;
  if (offered.stepwise) {
    if (interval.index > 0) return EINVAL;
    interval.type = V4L2_FRMIVAL_TYPE_STEPWISE;
    interval.stepwise = {offered.list[0], offered.list[1], {1, 1000}};
    return 0;
  }
  if (interval.index >= offered.list.size()) return EINVAL;
  interval.type = V4L2_FRMIVAL_TYPE_DISCRETE;
  interval.discrete = offered.list[interval.index];
  return 0;
}

// Under mutex_: S_FMT (commit) or TRY_FMT. An unknown pixel format becomes the first one; the
// size becomes the nearest supported one, aligned; rows are padded.
int FakeV4l2Io::negotiate(v4l2_format& format, bool commit) {
  if (commit && !buffers_.empty()) return EBUSY;
  if (formats_.empty()) return EINVAL;
  const bool mplane = multiPlanar(format.type);
  const std::uint32_t asked = mplane ? format.fmt.pix_mp.pixelformat : format.fmt.pix.pixelformat;
  const std::uint32_t width = mplane ? format.fmt.pix_mp.width : format.fmt.pix.width;
  const std::uint32_t height = mplane ? format.fmt.pix_mp.height : format.fmt.pix.height;
  const Format* known = findFormat(asked);
  const Format& f = known != nullptr ? *known : formats_.front();
  Size size = f.sizes[0];
  if (f.range) {
    size = {nearestInRange(width, f.sizes[0].width, f.sizes[1].width),
            nearestInRange(height, f.sizes[0].height, f.sizes[1].height)};
  } else {
    const auto distance = [&](const Size& s) {
      return std::abs(static_cast<long>(s.width) - static_cast<long>(width)) +
             std::abs(static_cast<long>(s.height) - static_cast<long>(height));
    };
    for (const Size& s : f.sizes) {
      if (distance(s) < distance(size)) size = s;
    }
  }
  v4l2_pix_format granted{};
  granted.pixelformat = f.pixelFormat;
  granted.width = alignUp(size.width, alignment_);
  granted.height = alignUp(size.height, alignment_);
  granted.field = V4L2_FIELD_NONE;
  const std::uint32_t row = rowBytes(f.pixelFormat, granted.width);
  granted.bytesperline = row == 0 ? 0 : row + rowPadding_;
  granted.sizeimage = imageBytes(granted);
  if (mplane) {
    v4l2_pix_format_mplane& pix = format.fmt.pix_mp;
    pix.pixelformat = granted.pixelformat;
    pix.width = granted.width;
    pix.height = granted.height;
    pix.field = granted.field;
    pix.num_planes = static_cast<std::uint8_t>(f.planes);
    for (std::uint32_t i = 0; i < f.planes; ++i) {
      pix.plane_fmt[i].bytesperline = granted.bytesperline;
      pix.plane_fmt[i].sizeimage = granted.sizeimage / f.planes;
    }
  } else {
    format.fmt.pix = granted;
  }
  if (commit) {
    current_ = granted;
    currentPlanes_ = f.planes;
    events_.push_back("S_FMT " + codeText(asked) + " " + std::to_string(width) + "x" +
                      std::to_string(height));
  }
  return 0;
}

// Under mutex_: QUERYBUF, QBUF and DQBUF. Multi-planar buffers report through their plane
// array, which must be there.
int FakeV4l2Io::bufferCall(int fd, unsigned long request, v4l2_buffer& buffer) {
  if (!accepts(fd, buffer.type) || buffer.memory != V4L2_MEMORY_MMAP) return EINVAL;
  const bool mplane = multiPlanar(buffer.type);
  if (mplane && (buffer.m.planes == nullptr || buffer.length < currentPlanes_)) return EINVAL;
  switch (request) {
    case VIDIOC_QUERYBUF:
      if (buffer.index >= buffers_.size()) return EINVAL;
      if (mplane) {
        buffer.m.planes[0].length = kBufferBytes;
        buffer.m.planes[0].m.mem_offset = buffer.index * kOffsetStep;
      } else {
        buffer.length = kBufferBytes;
        buffer.m.offset = buffer.index * kOffsetStep;
      }
      return 0;
    case VIDIOC_QBUF:
      if (buffer.index >= buffers_.size() ||
          std::count(queued_.begin(), queued_.end(), buffer.index) != 0)
        return EINVAL;
      queued_.push_back(buffer.index);
      return 0;
    default:
      return dequeue(buffer);
  }
}

// Under mutex_: the driver fills the oldest queued buffer with the next frame.
int FakeV4l2Io::dequeue(v4l2_buffer& buffer) {
  if (!streaming_) return EINVAL;
  if (!frameReady()) return EAGAIN;
  Frame frame = endless_ ? Frame{std::vector<std::uint8_t>(16, 0x5a), 0} : frames_.front();
  if (!endless_) frames_.pop_front();
  buffer.index = queued_.front();
  queued_.pop_front();
  buffer.flags = frame.flags;
  std::vector<std::uint8_t>& storage = buffers_[buffer.index];
  std::fill(storage.begin(), storage.end(), 0xEE);
  const auto size = static_cast<std::uint32_t>(frame.bytes.size());
  if (multiPlanar(buffer.type)) {
    std::copy(frame.bytes.begin(), frame.bytes.end(), storage.begin() + dataOffset_);
    v4l2_plane& plane = buffer.m.planes[0];
    plane.data_offset = dataOffset_;
    plane.bytesused = dataOffset_ + size;
    plane.length = kBufferBytes;
    buffer.bytesused = 0;
  } else {
    std::copy(frame.bytes.begin(), frame.bytes.end(), storage.begin());
    buffer.bytesused = size;
    buffer.length = kBufferBytes;
  }
  return 0;
}

int FakeV4l2Io::requestBuffers(v4l2_requestbuffers& request) {
  if (request.memory != V4L2_MEMORY_MMAP) return EINVAL;
  if (streaming_ || std::count(mapped_.begin(), mapped_.end(), true) != 0) return EBUSY;
  request.count = std::min(request.count, bufferLimit_);
  buffers_.assign(request.count, std::vector<std::uint8_t>(kBufferBytes));
  mapped_.assign(request.count, false);
  queued_.clear();
  events_.push_back("REQBUFS " + std::to_string(request.count));
  return 0;
}

const FakeV4l2Io::Format* FakeV4l2Io::findFormat(std::uint32_t pixelFormat) const {
  for (const Format& f : formats_) {
    if (f.pixelFormat == pixelFormat) return &f;
  }
  return nullptr;
}

bool FakeV4l2Io::frameReady() const {
  return streaming_ && !stalled_ && !queued_.empty() && (endless_ || !frames_.empty());
}

void* FakeV4l2Io::mmap(std::size_t length, int, off_t offset) {
  const std::lock_guard lock(mutex_);
  const auto index = static_cast<std::size_t>(offset) / kOffsetStep;
  errno = takeFailure(kMmap);
  if (errno == 0 && (index >= buffers_.size() || length > kBufferBytes)) errno = EINVAL;
  if (errno != 0) return nullptr;
  mapped_[index] = true;
  return buffers_[index].data();
}

int FakeV4l2Io::munmap(void* address, std::size_t) {
  const std::lock_guard lock(mutex_);
  events_.push_back("munmap");
  for (std::size_t i = 0; i < buffers_.size(); ++i) {
    if (buffers_[i].data() == address) mapped_[i] = false;
  }
  return 0;
}

// The fake device's readiness comes from the script (an unplugged one wakes the worker); every
// other descriptor (the stop event) is polled for real, briefly, so that the worker loops
// instead of sleeping.
int FakeV4l2Io::poll(pollfd* fds, nfds_t count, int timeoutMs) {
  std::vector<pollfd> real;
  int ready = 0;
  {
    const std::lock_guard lock(mutex_);
    ++polls_;
    if ((errno = takeFailure(kPoll)) != 0) return -1;
    for (nfds_t i = 0; i < count; ++i) {
      if (open_.count(fds[i].fd) == 0) {
        real.push_back(fds[i]);
        continue;
      }
      const short readiness = unplugged_ || frameReady() ? POLLIN : 0;
      fds[i].revents = pollReport_ != 0 ? pollReport_ : readiness;
      ready += fds[i].revents != 0 ? 1 : 0;
    }
  }
  const int wait = ready > 0 ? 0 : std::clamp(timeoutMs, 0, 2);
  if (!real.empty() && ::poll(real.data(), real.size(), wait) < 0) return -1;
  for (nfds_t i = 0, r = 0; i < count; ++i) {
    if (r < real.size() && fds[i].fd == real[r].fd) {
      fds[i].revents = real[r++].revents;
      ready += fds[i].revents != 0 ? 1 : 0;
    }
  }
  return ready;
}

}  // namespace ravdel
