#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_device.h"
#include "capture/frame_packer.h"
#include "capture/v4l2/v4l2_handles.h"
#include "capture/v4l2/v4l2_io.h"

namespace ravdel {

// One streaming session of an open device in its current format: the mmap'ed buffers and the
// worker thread ("ravdel-v4l2") that dequeues them, packs each frame and hands it to the
// receiver slot. Created, started and destroyed on the main thread; the device's fd, the seam
// and the slot must outlive it.
class V4l2Stream {
 public:
  // `bufferType` is the node's: V4L2_BUF_TYPE_VIDEO_CAPTURE or, for a node with only the
  // multi-planar API, V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE (formats of one memory plane).
  V4l2Stream(V4l2Io& io, int fd, std::uint32_t bufferType, std::string label,
             const ReceiverSlot& slot);
  V4l2Stream(const V4l2Stream&) = delete;
  V4l2Stream& operator=(const V4l2Stream&) = delete;
  // Stops: signals and joins the worker, STREAMOFF, unmaps, frees the buffers (REQBUFS 0).
  // Once it returns the receiver is not called again.
  ~V4l2Stream();

  // Requests, maps and queues the buffers (as many as the driver grants), turns streaming on
  // and starts the worker. On failure the HResult of the failing step (hresultFromErrno); the
  // destructor then undoes the rest.
  HResult start();
  // Why start failed: the step and the system's words for its errno. Main thread.
  const std::string& failure() const { return failure_; }

  // True once the worker has ended by itself, for whatever reason (device gone or failing);
  // never while it merely waits for frames. Any thread.
  bool ended() const { return ended_.load(); }

 private:
  enum class Wake { Frame, Idle, Stop, Failed };

  HResult readFormat();
  void readFrameInterval();
  HResult requestBuffers();
  HResult mapBuffers();
  HResult queueBuffers();
  HResult turnOn();
  HResult startWorker();
  HResult fail(int error, const char* step);

  void stopWorker();
  void turnOff();
  void releaseBuffers();

  // Worker thread.
  void run();
  bool serve();
  Wake waitForFrame();
  bool takeFrame();
  void deliver(const BufferMapping& buffer, std::size_t begin, std::size_t end,
               std::int64_t takenUtcUs);
  void reportEnd(const std::string& reason);

  V4l2Io& io_;
  const int fd_;
  const std::uint32_t type_;
  const std::string label_;  // "/dev/video0 (card)" for the log
  std::string failure_;      // main thread: the last failure of start or stop, in words
  const ReceiverSlot& slot_;

  // Set by start() before the worker exists, then only read until the worker is joined.
  int pollTimeoutMs_ = 500;
  std::uint32_t bufferCount_ = 0;
  std::vector<BufferMapping> buffers_;
  bool buffersRequested_ = false;
  bool streaming_ = false;
  WakeEvent wake_;
  std::thread worker_;

  std::atomic<bool> ended_{false};  // set by the worker as its last act
  // Worker-only while it runs; the main thread reads them after the join.
  FramePacker packer_;
  std::uint64_t captured_ = 0;
  std::uint64_t delivered_ = 0;
};

}  // namespace ravdel
