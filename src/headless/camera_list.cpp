#include "headless/camera_list.h"

#include <memory>
#include <vector>

namespace ravdel {
namespace {

std::string formatTableText(CaptureBackend& cameras, std::int32_t position) {
  const std::unique_ptr<CaptureDevice> device = cameras.CreateDevice();
  std::string name;
  if (failed(device->StartVideoAt(position, name))) return "    (could not be opened)\n";
  std::string text;
  const std::vector<VideoFormat>& table = device->formats();
  for (std::size_t i = 0; i < table.size(); ++i)
    text += "    " + std::to_string(i) + "  " + formatLine(table[i]) + "\n";
  return text;
}

}  // namespace

std::string cameraListText(CaptureBackend& cameras) {
  std::vector<std::string> names;
  cameras.ListVideoDevices(names);
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const auto position = static_cast<std::int32_t>(i + 1);
    text += "#" + std::to_string(position) + "  " + names[i] + "\n";
    text += formatTableText(cameras, position);
  }
  return text;
}

}  // namespace ravdel
