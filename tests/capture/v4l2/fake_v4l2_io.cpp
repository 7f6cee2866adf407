#include "fake_v4l2_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ravdel {
namespace {

constexpr std::size_t kBufferBytes = 4096;  // a page: larger than any test frame
constexpr std::uint32_t kOffsetStep = 0x10000;

std::string codeText(std::uint32_t code) {
  return std::string(reinterpret_cast<const char*>(&code), 4);
}

void copyCard(const std::string& card, std::uint8_t (&out)[32]) {
  std::memcpy(out, card.data(), std::min(card.size(), sizeof out));
}

}  // namespace

void FakeV4l2Io::addNode(const std::string& name, const std::string& card, std::uint32_t nodeCaps,
                         bool deviceCaps) {
  const std::lock_guard lock(mutex_);
  nodes_[name] = {card, nodeCaps, deviceCaps};
}

void FakeV4l2Io::addFormat(std::uint32_t pixelFormat, std::vector<Size> sizes) {
  const std::lock_guard lock(mutex_);
  formats_.push_back({pixelFormat, std::move(sizes), false});
}

void FakeV4l2Io::addRange(std::uint32_t pixelFormat, Size smallest, Size largest) {
  const std::lock_guard lock(mutex_);
  formats_.push_back({pixelFormat, {smallest, largest}, true});
}

void FakeV4l2Io::setCurrent(std::uint32_t pixelFormat, Size size, std::uint32_t bytesPerLine) {
  const std::lock_guard lock(mutex_);
  current_.pixelformat = pixelFormat;
  current_.width = size.width;
  current_.height = size.height;
  current_.bytesperline = bytesPerLine;
}

void FakeV4l2Io::pushFrame(std::vector<std::uint8_t> bytes, std::uint32_t flags) {
  const std::lock_guard lock(mutex_);
  frames_.push_back({std::move(bytes), flags});
}

void FakeV4l2Io::setEndless(bool endless) {
  const std::lock_guard lock(mutex_);
  endless_ = endless;
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
  if (errno == 0 && nodes_.count(name) == 0) errno = ENOENT;
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
  errno = open_.count(fd) == 0 ? EBADF : takeFailure(request);
  if (errno == 0) errno = handle(fd, request, arg);
  return errno == 0 ? 0 : -1;
}

// Under mutex_: one ioctl; 0 or the errno.
int FakeV4l2Io::handle(int fd, unsigned long request, void* arg) {
  switch (request) {
    case VIDIOC_QUERYCAP: {
      auto& caps = *static_cast<v4l2_capability*>(arg);
      const Node& node = nodes_.at(open_.at(fd));
      copyCard(node.card, caps.card);
      caps.capabilities = node.nodeCaps;
      if (node.deviceCaps) {
        caps.device_caps = node.nodeCaps;
        caps.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING |
                            V4L2_CAP_DEVICE_CAPS;
      }
      return 0;
    }
    case VIDIOC_ENUM_FMT: {
      auto& description = *static_cast<v4l2_fmtdesc*>(arg);
      if (description.index >= formats_.size()) return EINVAL;
      description.pixelformat = formats_[description.index].pixelFormat;
      return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
      auto& size = *static_cast<v4l2_frmsizeenum*>(arg);
      for (const Format& f : formats_) {
        if (f.pixelFormat != size.pixel_format) continue;
        if (f.range) {
          if (size.index > 0) return EINVAL;
          size.type = V4L2_FRMSIZE_TYPE_STEPWISE;
          size.stepwise = {f.sizes[0].width,  f.sizes[1].width,  16,
                           f.sizes[0].height, f.sizes[1].height, 16};
          return 0;
        }
        if (size.index >= f.sizes.size()) return EINVAL;
        size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size.discrete = {f.sizes[size.index].width, f.sizes[size.index].height};
        return 0;
      }
      return EINVAL;
    }
    case VIDIOC_G_FMT:
      static_cast<v4l2_format*>(arg)->fmt.pix = current_;
      return 0;
    case VIDIOC_S_FMT: {
      if (!buffers_.empty()) return EBUSY;
      const v4l2_pix_format& pix = static_cast<v4l2_format*>(arg)->fmt.pix;
      current_ = pix;
      events_.push_back("S_FMT " + codeText(pix.pixelformat) + " " + std::to_string(pix.width) +
                        "x" + std::to_string(pix.height));
      return 0;
    }
    case VIDIOC_REQBUFS:
      return requestBuffers(static_cast<v4l2_requestbuffers*>(arg)->count);
    case VIDIOC_QUERYBUF: {
      auto& buffer = *static_cast<v4l2_buffer*>(arg);
      if (buffer.index >= buffers_.size()) return EINVAL;
      buffer.length = kBufferBytes;
      buffer.m.offset = buffer.index * kOffsetStep;
      return 0;
    }
    case VIDIOC_QBUF: {
      const std::uint32_t index = static_cast<v4l2_buffer*>(arg)->index;
      if (index >= buffers_.size() || std::count(queued_.begin(), queued_.end(), index) != 0)
        return EINVAL;
      queued_.push_back(index);
      return 0;
    }
    case VIDIOC_DQBUF:
      return dequeue(*static_cast<v4l2_buffer*>(arg));
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF:
      streaming_ = request == VIDIOC_STREAMON;
      if (!streaming_) queued_.clear();
      events_.push_back(streaming_ ? "STREAMON" : "STREAMOFF");
      return 0;
    default:
      return ENOTTY;
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
  std::vector<std::uint8_t>& storage = buffers_[buffer.index];
  std::fill(storage.begin(), storage.end(), 0xEE);
  std::copy(frame.bytes.begin(), frame.bytes.end(), storage.begin());
  buffer.bytesused = static_cast<std::uint32_t>(frame.bytes.size());
  buffer.flags = frame.flags;
  buffer.length = kBufferBytes;
  return 0;
}

int FakeV4l2Io::requestBuffers(std::uint32_t count) {
  if (streaming_ || std::count(mapped_.begin(), mapped_.end(), true) != 0) return EBUSY;
  buffers_.assign(count, std::vector<std::uint8_t>(kBufferBytes));
  mapped_.assign(count, false);
  queued_.clear();
  events_.push_back("REQBUFS " + std::to_string(count));
  return 0;
}

bool FakeV4l2Io::frameReady() const {
  return streaming_ && !queued_.empty() && (endless_ || !frames_.empty());
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

// The fake device's readiness comes from the script; every other descriptor (the stop event)
// is polled for real, briefly, so that the worker loops instead of sleeping.
int FakeV4l2Io::poll(pollfd* fds, nfds_t count, int timeoutMs) {
  std::vector<pollfd> real;
  int ready = 0;
  {
    const std::lock_guard lock(mutex_);
    if ((errno = takeFailure(kPoll)) != 0) return -1;
    for (nfds_t i = 0; i < count; ++i) {
      if (open_.count(fds[i].fd) == 0) {
        real.push_back(fds[i]);
        continue;
      }
      fds[i].revents = pollReport_ != 0 ? pollReport_ : frameReady() ? POLLIN : 0;
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
