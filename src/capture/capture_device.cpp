#include "capture/capture_device.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "platform/local_time.h"

namespace ravdel {
namespace {

std::string foldAsciiLetters(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// "#N" with N a decimal position from 1 on, without a leading zero; -1 for anything else.
long positionOf(const std::string& text) {
  if (text.size() < 2 || text.size() > 11 || text[0] != '#' || text[1] == '0') return -1;
  long position = 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    position = position * 10 + (text[i] - '0');
  }
  return position;
}

// Frames per second of an interval, rounded to two decimals without trailing zeros.
std::string rateText(const FrameInterval& interval) {
  const std::uint64_t hundredths =
      (std::uint64_t{interval.denominator} * 100 + interval.numerator / 2) / interval.numerator;
  std::string text = std::to_string(hundredths / 100);
  if (const std::uint64_t fraction = hundredths % 100; fraction != 0) {
    text += '.';
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
  }
  return text;
}

void writeToStderr(const std::string& text) {
  const std::string line = "ravdel: " + timestampText(localTimeNow()) + " " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

// Installed by the program's main thread at start; read by whichever thread has news.
std::atomic<CaptureLogWriter> logWriter{nullptr};

}  // namespace

void setCaptureLogWriter(CaptureLogWriter writer) {
  logWriter.store(writer);
}

void captureLog(const std::string& text) {
  const CaptureLogWriter writer = logWriter.load();
  (writer != nullptr ? writer : writeToStderr)(text);
}

std::string trimDeviceText(const std::string& text) {
  const auto kept = [](char c) { return static_cast<unsigned char>(c) > 0x20; };
  const auto first = std::find_if(text.begin(), text.end(), kept);
  const auto last = std::find_if(text.rbegin(), text.rend(), kept).base();
  return first < last ? std::string(first, last) : std::string();
}

int selectDevice(const std::vector<std::string>& names, const std::string& deviceText) {
  std::string wanted = trimDeviceText(deviceText);
  if (wanted.empty()) wanted = "#1";
  const std::string folded = foldAsciiLetters(wanted);
  const long position = positionOf(wanted);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (foldAsciiLetters(trimDeviceText(names[i])) == folded) return static_cast<int>(i);
    if (position == static_cast<long>(i) + 1) return static_cast<int>(i);
  }
  return -1;
}

void sortFormats(std::vector<VideoFormat>& formats) {
  std::stable_sort(formats.begin(), formats.end(), [](const VideoFormat& a, const VideoFormat& b) {
    return a.width != b.width ? a.width < b.width : a.height < b.height;
  });
}

std::string formatLine(const VideoFormat& format) {
  std::string code;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((format.fourcc >> (8 * i)) & 0xff);
    if (c == '\0') break;
    code += c;
  }
  std::string line =
      std::to_string(format.width) + "*" + std::to_string(format.height) + "  (" + code + ")";
  if (format.fastest.known()) line += " " + rateText(format.fastest) + " fps";
  return line;
}

bool ReceiverSlot::deliver(const std::uint8_t* data, std::int32_t byteCount,
                           const FrameMoment& moment) const {
  FrameReceiver* receiver = receiver_.load();
  if (byteCount <= 0 || data == nullptr || receiver == nullptr) return false;
  std::int32_t length = byteCount;  // the receiver may write into its copy; that changes nothing
  receiver->receiveFrame(data, length, moment);
  return true;
}

HResult CaptureDevice::StartVideo(const std::string& deviceName, std::string& foundName) {
  foundName.clear();
  std::vector<std::string> names;
  const HResult listed = listDeviceNames(names);
  if (failed(listed)) return listed;
  const int index = selectDevice(names, deviceName);
  if (index < 0) return kEFail;
  return StartVideoAt(index + 1, foundName);
}

HResult CaptureDevice::StartVideoByPath(const std::string& path, const std::string& deviceName,
                                        std::string& foundName) {
  foundName.clear();
  std::vector<std::string> paths;
  if (!path.empty() && !failed(listDevicePaths(paths))) {
    const auto found = std::find(paths.begin(), paths.end(), path);
    if (found != paths.end())
      return StartVideoAt(static_cast<std::int32_t>(found - paths.begin()) + 1, foundName);
  }
  return StartVideo(deviceName, foundName);
}

HResult CaptureDevice::listDevicePaths(std::vector<std::string>& paths) {
  std::vector<std::string> names;
  const HResult listed = listDeviceNames(names);
  noDevicePaths(names, paths);
  return listed;
}

HResult CaptureBackend::ListDevicePaths(std::vector<std::string>& paths) {
  std::vector<std::string> names;
  const HResult listed = ListVideoDevices(names);
  noDevicePaths(names, paths);
  return listed;
}

HResult noDevicePaths(const std::vector<std::string>& names, std::vector<std::string>& paths) {
  paths.assign(names.size(), std::string());
  return names.empty() ? kSFalse : kSOk;
}

void CaptureDevice::ListFormats(std::vector<std::string>& list) const {
  list.clear();
  if (!running()) return;
  for (const VideoFormat& f : formats())
    list.push_back(formatLine(f));
}

void logStreamStopped(const std::string& device, const ReceiverSlot& slot, std::uint64_t captured,
                      std::uint64_t delivered) {
  if (!slot.everInstalled()) return;
  captureLog(device + ": stream stopped after " + std::to_string(captured) + " frames, " +
             std::to_string(delivered) + " delivered");
}

}  // namespace ravdel
