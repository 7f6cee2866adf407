#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "capture/v4l2/v4l2_io.h"

namespace ravdel {

// A scripted V4L2 camera behind the seam, as awkward as real drivers are: it grants the
// nearest size it supports (aligned, with padded rows), fewer buffers than asked for, refuses
// to stream a format that needs more USB bandwidth than it has, stalls, and vanishes. Every
// node with a card is the same camera (formats, current format, buffers). The test scripts it
// from the main thread while the stream's worker polls and dequeues; mutex_ guards all of it.
class FakeV4l2Io final : public V4l2Io {
 public:
  // Pseudo requests for failNext.
  static constexpr unsigned long kOpen = 0;
  static constexpr unsigned long kPoll = 1;
  static constexpr unsigned long kMmap = 2;
  static constexpr unsigned long kAllocate = 3;  // VIDIOC_REQBUFS for buffers, not freeing them
  static constexpr int kForever = -1;

  struct Size {
    std::uint32_t width;
    std::uint32_t height;
  };

  // nodeCaps are the node's own: V4L2_CAP_VIDEO_CAPTURE for the single-plane API, or
  // V4L2_CAP_VIDEO_CAPTURE_MPLANE for the multi-planar one, whose buffer type alone the node
  // then accepts. With deviceCaps they come in device_caps and `capabilities` holds every
  // capability of the whole device, as a UVC driver reports them.
  void addNode(const std::string& name, const std::string& card, std::uint32_t nodeCaps,
               bool deviceCaps = true);
  // The bus_info VIDIOC_QUERYCAP answers for a node added before; "" until set.
  void setBusInfo(const std::string& name, const std::string& busInfo);
  // `planes` > 1: a format whose planes lie in separate memory (multi-planar nodes).
  void addFormat(std::uint32_t pixelFormat, std::vector<Size> sizes, std::uint32_t planes = 1);
  void addRange(std::uint32_t pixelFormat, Size smallest, Size largest);
  void setCurrent(std::uint32_t pixelFormat, Size size, std::uint32_t bytesPerLine = 0);
  // The frame intervals ENUM_FRAMEINTERVALS offers for one size: discrete ones, or with
  // `stepwise` a range {shortest, longest}. Sizes without any answer EINVAL.
  void setIntervals(std::uint32_t pixelFormat, Size size, std::vector<v4l2_fract> intervals,
                    bool stepwise = false);
  // Whether G_PARM reports V4L2_CAP_TIMEPERFRAME (it does unless told); without it S_PARM
  // answers ENOTTY.
  void setTimePerFrame(bool settable);
  // S_FMT and TRY_FMT round the nearest supported size up to a multiple of `pixels`.
  void setAlignment(std::uint32_t pixels);
  // Rows of a format S_FMT grants get `bytes` of padding beyond the pixels (bytesperline).
  void setRowPadding(std::uint32_t bytes);
  // REQBUFS grants at most `count` buffers.
  void setBufferLimit(std::uint32_t count);
  // STREAMON fails with ENOSPC while the current format's sizeimage exceeds `bytesPerFrame`,
  // as a USB camera does when the bus has not enough bandwidth left for it. 0: no limit.
  void setBandwidth(std::uint32_t bytesPerFrame);
  // Multi-planar buffers carry a header of `bytes` before the frame (data_offset).
  void setDataOffset(std::uint32_t bytes);

  void pushFrame(std::vector<std::uint8_t> bytes, std::uint32_t flags = 0);
  void setEndless(bool endless);  // a frame for every dequeue
  void setStalled(bool stalled);  // nothing arrives and nothing fails
  // The camera is unplugged: every ioctl answers ENODEV, opening fails, and poll wakes the
  // worker to find that out.
  void unplug();
  void failNext(unsigned long request, int error, int times = 1);
  void reportOnPoll(short revents);  // instead of POLLIN

  // "open", "close", "munmap", "STREAMON", "STREAMOFF", "REQBUFS <granted>",
  // "S_FMT <code> <w>x<h>" (as asked for), "S_PARM <numerator>/<denominator>".
  std::vector<std::string> events() const;
  int openCount() const;
  int mappedCount() const;
  int pollCount() const;

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
    std::string busInfo;
  };
  struct Format {
    std::uint32_t pixelFormat;
    std::vector<Size> sizes;  // a range: smallest, largest
    bool range;
    std::uint32_t planes;
  };
  struct Intervals {
    std::vector<v4l2_fract> list;
    bool stepwise;
  };
  struct Frame {
    std::vector<std::uint8_t> bytes;
    std::uint32_t flags;
  };

  int takeFailure(unsigned long request);
  int handle(int fd, unsigned long request, void* arg);
  bool accepts(int fd, std::uint32_t type) const;
  int enumerateSizes(v4l2_frmsizeenum& size) const;
  int enumerateIntervals(v4l2_frmivalenum& interval) const;
  int negotiate(v4l2_format& format, bool commit);
  int bufferCall(int fd, unsigned long request, v4l2_buffer& buffer);
  int dequeue(v4l2_buffer& buffer);
  int requestBuffers(v4l2_requestbuffers& request);
  const Format* findFormat(std::uint32_t pixelFormat) const;
  bool frameReady() const;

  mutable std::mutex mutex_;
  std::map<std::string, Node> nodes_;  // by entry name
  std::map<int, std::string> open_;    // fd -> entry name
  int nextFd_ = 1000;
  std::vector<Format> formats_;
  std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, Intervals> intervals_;
  v4l2_pix_format current_{};
  std::uint32_t currentPlanes_ = 1;
  v4l2_fract timePerFrame_{0, 0};
  bool timePerFrameSettable_ = true;
  std::uint32_t alignment_ = 1;
  std::uint32_t rowPadding_ = 0;
  std::uint32_t bufferLimit_ = 32;
  std::uint32_t bandwidth_ = 0;
  std::uint32_t dataOffset_ = 0;
  std::vector<std::vector<std::uint8_t>> buffers_;
  std::vector<bool> mapped_;
  std::deque<std::uint32_t> queued_;
  bool streaming_ = false;
  std::deque<Frame> frames_;
  bool endless_ = false;
  bool stalled_ = false;
  bool unplugged_ = false;
  short pollReport_ = 0;
  int polls_ = 0;
  std::map<unsigned long, std::pair<int, int>> failures_;  // request -> errno, times left
  std::vector<std::string> events_;
};

}  // namespace ravdel
