#include "capture/device_catalog.h"

namespace ravdel {
namespace {

// A device of the catalog: it opens through whichever backend holds the chosen camera and
// then passes every call on to that backend's device.
class CatalogDevice final : public CaptureDevice {
 public:
  explicit CatalogDevice(DeviceCatalog& catalog) : catalog_(catalog) {}

  HResult StartVideoAt(std::int32_t position, std::string& foundName) override {
    std::int32_t local = 0;
    CaptureBackend* backend = catalog_.locate(position, local);
    if (backend == nullptr || inner_) return kEFail;
    inner_ = backend->CreateDevice();
    inner_->SetFrameCallback(receiver_);
    inner_->setPatient(patient_);
    return inner_->StartVideoAt(local, foundName);
  }
  HResult GetStreamInfo(std::int32_t& w, std::int32_t& h, std::uint32_t& code) override {
    w = h = 0;
    return inner_ ? inner_->GetStreamInfo(w, h, code) : kEFail;
  }
  void SetFrameCallback(FrameReceiver* receiver) override {
    receiver_ = receiver;
    if (inner_) inner_->SetFrameCallback(receiver);
  }
  const std::vector<VideoFormat>& formats() const override {
    return inner_ ? inner_->formats() : noFormats_;
  }
  HResult SetFormatByIndex(std::int32_t index) override {
    return inner_ ? inner_->SetFormatByIndex(index) : kSFalse;
  }
  HResult SetRunning(bool run) override { return inner_ ? inner_->SetRunning(run) : kSOk; }
  bool running() const override { return inner_ && inner_->running(); }
  std::string devicePath() const override { return inner_ ? inner_->devicePath() : std::string(); }
  std::string failure() const override { return inner_ ? inner_->failure() : std::string(); }
  void setPatient(bool patient) override { patient_ = patient; }

 protected:
  HResult listDeviceNames(std::vector<std::string>& names) override {
    return catalog_.ListVideoDevices(names);
  }
  HResult listDevicePaths(std::vector<std::string>& paths) override {
    return catalog_.ListDevicePaths(paths);
  }

 private:
  DeviceCatalog& catalog_;
  std::unique_ptr<CaptureDevice> inner_;
  FrameReceiver* receiver_ = nullptr;
  bool patient_ = true;
  const std::vector<VideoFormat> noFormats_;
};

}  // namespace

void DeviceCatalog::add(std::unique_ptr<CaptureBackend> backend) {
  backends_.push_back(std::move(backend));
}

HResult DeviceCatalog::ListVideoDevices(std::vector<std::string>& list) {
  return listAll(&CaptureBackend::ListVideoDevices, list);
}

HResult DeviceCatalog::ListDevicePaths(std::vector<std::string>& paths) {
  return listAll(&CaptureBackend::ListDevicePaths, paths);
}

HResult DeviceCatalog::listAll(Lister lister, std::vector<std::string>& list) {
  list.clear();
  for (const auto& backend : backends_) {
    std::vector<std::string> own;
    ((*backend).*lister)(own);
    list.insert(list.end(), own.begin(), own.end());
  }
  return list.empty() ? kSFalse : kSOk;
}

std::unique_ptr<CaptureDevice> DeviceCatalog::CreateDevice() {
  return std::make_unique<CatalogDevice>(*this);
}

CaptureBackend* DeviceCatalog::locate(std::int32_t position, std::int32_t& localPosition) {
  std::int32_t before = 0;
  for (const auto& backend : backends_) {
    std::vector<std::string> names;
    backend->ListVideoDevices(names);
    const auto count = static_cast<std::int32_t>(names.size());
    if (position > before && position <= before + count) {
      localPosition = position - before;
      return backend.get();
    }
    before += count;
  }
  return nullptr;
}

}  // namespace ravdel
