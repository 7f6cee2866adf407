#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "capture/v4l2/v4l2_io.h"

namespace ravdel {

// A scripted V4L2 camera behind the seam. Every node with a card is the same camera (formats,
// current format, buffers). The test scripts it from the main thread while the stream's worker
// polls and dequeues; mutex_ guards all of it.
class FakeV4l2Io final : public V4l2Io {
 public:
  // Pseudo requests for failNext.
  static constexpr unsigned long kOpen = 0;
  static constexpr unsigned long kPoll = 1;
  static constexpr unsigned long kMmap = 2;
  static constexpr int kForever = -1;

  struct Size {
    std::uint32_t width;
    std::uint32_t height;
  };

  // nodeCaps are the node's own; with deviceCaps they come in device_caps and `capabilities`
  // holds every capability of the whole device, as a UVC driver reports them.
  void addNode(const std::string& name, const std::string& card, std::uint32_t nodeCaps,
               bool deviceCaps = true);
  void addFormat(std::uint32_t pixelFormat, std::vector<Size> sizes);
  void addRange(std::uint32_t pixelFormat, Size smallest, Size largest);
  void setCurrent(std::uint32_t pixelFormat, Size size, std::uint32_t bytesPerLine = 0);

  void pushFrame(std::vector<std::uint8_t> bytes, std::uint32_t flags = 0);
  void setEndless(bool endless);  // a frame for every dequeue
  void failNext(unsigned long request, int error, int times = 1);
  void reportOnPoll(short revents);  // instead of POLLIN

  // "open", "close", "munmap", "STREAMON", "STREAMOFF", "REQBUFS <n>", "S_FMT <code> <w>x<h>".
  std::vector<std::string> events() const;
  int openCount() const;
  int mappedCount() const;

  std::vector<std::string> listDirectory(const std::string& directory) override;
  int open(const std::string& path) override;
  int close(int fd) override;
  int ioctl(int fd, unsigned long request, void* arg) override;
  void* mmap(std::size_t length, int fd, off_t offset) override;
  int munmap(void* address, std::size_t length) override;
  int poll(pollfd* fds, nfds_t count, int timeoutMs) override;

 private:
  struct Node {
    std::string card;
    std::uint32_t nodeCaps;
    bool deviceCaps;
  };
  struct Format {
    std::uint32_t pixelFormat;
    std::vector<Size> sizes;  // a range: smallest, largest
    bool range;
  };
  struct Frame {
    std::vector<std::uint8_t> bytes;
    std::uint32_t flags;
  };

  int takeFailure(unsigned long request);
  int handle(int fd, unsigned long request, void* arg);
  int dequeue(v4l2_buffer& buffer);
  int requestBuffers(std::uint32_t count);
  bool frameReady() const;

  mutable std::mutex mutex_;
  std::map<std::string, Node> nodes_;  // by entry name
  std::map<int, std::string> open_;    // fd -> entry name
  int nextFd_ = 1000;
  std::vector<Format> formats_;
  v4l2_pix_format current_{};
  std::vector<std::vector<std::uint8_t>> buffers_;
  std::vector<bool> mapped_;
  std::deque<std::uint32_t> queued_;
  bool streaming_ = false;
  std::deque<Frame> frames_;
  bool endless_ = false;
  short pollReport_ = 0;
  std::map<unsigned long, std::pair<int, int>> failures_;  // request -> errno, times left
  std::vector<std::string> events_;
};

}  // namespace ravdel
