#include "session/monitor_session.h"

#include <filesystem>
#include <utility>

#include "monitor/ini_file.h"
#include "platform/files.h"
#include "store/store.h"
#include "wire/messages.h"

namespace ravdel {
namespace {

constexpr int kNotesEveryMs = 1000;
// How long a station closing on purpose waits for the server to store what it has.
constexpr std::chrono::milliseconds kDrainAtClose{5000};
// A station with no name of its own keeps its history under this one.
constexpr const char* kLocalStation = "local";

// The first line of the station's password file; nothing when it cannot be read.
std::optional<std::string> readPassword(const std::string& path) {
  std::string text;
  if (path.empty() || readWholeFile(path, text) != FileRead::ok) return std::nullopt;
  const std::size_t end = text.find_first_of("\r\n");
  return text.substr(0, end);
}

}  // namespace

MonitorSession::MonitorSession(CaptureBackend& backend, MainLoop& loop, MonitorView& view,
                               Setup setup)
    : loop_(loop),
      view_(view),
      setup_(std::move(setup)),
      detection_(setup_.detection.value_or(LoadDetectionSettings(setup_.settingsPath))),
      network_(setup_.network.value_or(LoadNetworkSettings(setup_.settingsPath))) {
  // Nobody may be there to press Run again: a camera that drops out is reopened when it
  // returns, the counters kept.
  MonitorConfig config;
  config.format = setup_.format;
  config.recoverLostCamera = true;
  config.settingsReader = setup_.reader;
  config.settingsGiven = setup_.given;
  config.clockErrorUs = std::int64_t{network_.clockErrorMs} * 1000;
  monitor_ = std::make_unique<Monitor>(backend, loop, view, withDetection(config, detection_));
  notesTimer_ = loop_.createTimer([this] { passOnUplinkNotes(); }, kNotesEveryMs, false);
}

MonitorSession::~MonitorSession() {
  try {
    close();
  } catch (...) {
  }
}

void MonitorSession::open(const std::string& defaultDirectory) {
  monitor_->Open(setup_.settingsPath, defaultDirectory);
  startStation();
}

// The run ends first, so that its last heartbeat is kept and can still be sent.
void MonitorSession::close() {
  monitor_->Close();
  stopStation();
}

void MonitorSession::changeDetection(const DetectionSettings& detection) {
  detection_ = detection;
  monitor_->setDetection(detection_);
  SaveDetectionSettings(setup_.settingsPath, detection_);
}

void MonitorSession::changeNetwork(NetworkSettings network,
                                   const std::optional<std::string>& password) {
  // As typed in either window's dialog: the blanks around a name are no part of it.
  for (std::string* text : {&network.server, &network.station, &network.tlsCa, &network.location})
    *text = std::string(trim(*text));
  bool passwordKept = true;
  if (password) {
    const std::string file = besideSettings(kPasswordFile);
    std::error_code noFolder;
    std::filesystem::create_directories(pathFromUtf8(file).parent_path(), noFolder);
    passwordKept = replaceFileContents(file, *password + "\n");
    std::error_code ignored;
    std::filesystem::permissions(
        pathFromUtf8(file),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
        std::filesystem::perm_options::replace, ignored);
    if (passwordKept) network.passwordFile = file;
  }
  network_ = std::move(network);
  stopStation();
  startStation();
  SaveNetworkSettings(setup_.settingsPath, network_);
  if (!passwordKept)
    throw SettingsWriteError("Unable to write to " + besideSettings(kPasswordFile));
}

std::string MonitorSession::besideSettings(const char* name) const {
  return utf8FromPath(pathFromUtf8(setup_.settingsPath).parent_path() / name);
}

std::string MonitorSession::historyPath() const {
  return besideSettings(kHistoryFile);
}

std::string MonitorSession::historyStation() const {
  return network_.station.empty() ? kLocalStation : network_.station;
}

void MonitorSession::startStation() {
  lastCounts_.reset();
  if (!network_.keepsHistory()) return;
  StationIdentity identity;
  identity.station = historyStation();
  double lat = 0, lon = 0;
  if (!network_.location.empty()) {
    if (parseLocation(network_.location, lat, lon)) {
      identity.lat = lat;
      identity.lon = lon;
    } else {
      view_.showNote("The station's location \"" + network_.location +
                     "\" is not LAT,LON in degrees; it is left out");
    }
  }
  identity.keepDays = network_.keepDays;
  identity.keepBytes = std::int64_t{network_.keepMb} << 20;

  std::unique_ptr<Store> store;
  try {
    std::error_code ignored;
    std::filesystem::create_directories(pathFromUtf8(historyPath()).parent_path(), ignored);
    store = Store::open(historyPath());
  } catch (const std::exception& e) {
    view_.showNote(std::string("The station's history is off: ") + e.what());
    return;
  }
  if (network_.networked()) {
    UplinkSettings uplink;
    const std::optional<std::string> password = readPassword(network_.passwordFile);
    if (network_.station.empty() || !password) {
      view_.showNote(
          "The station network needs a station name and a readable password file; "
          "events are kept in the station's history until it has them");
    } else if (!parseBrokerAddress(network_.server, !network_.tlsCa.empty(), uplink.host,
                                   uplink.port)) {
      view_.showNote("The station network's server \"" + network_.server +
                     "\" is not HOST or HOST:PORT; events are kept in the station's history");
    } else {
      uplink.station = network_.station;
      uplink.password = *password;
      uplink.tlsCa = network_.tlsCa;
      uplink.storePath = historyPath();
      uplink_ = std::make_unique<Uplink>(uplink);
      notesTimer_->start();
    }
  }
  Uplink* sender = uplink_.get();
  history_ = std::make_unique<HistorySink>(
      std::move(store), identity, network_.networked(),
      [this](const std::string& text) { view_.showNote(text); },
      [sender] {
        if (sender != nullptr) sender->wake();
      });
  monitor_->addSink(*history_);
}

void MonitorSession::stopStation() {
  if (history_) monitor_->removeSink(*history_);
  history_.reset();
  if (uplink_) {
    uplink_->drain(kDrainAtClose);
    lastCounts_ = uplink_->counts();
    uplink_.reset();
  }
  notesTimer_->stop();
}

void MonitorSession::passOnUplinkNotes() {
  if (!uplink_) return;
  for (const std::string& note : uplink_->takeNotes())
    view_.showNote(note);
}

std::optional<Uplink::Counts> MonitorSession::uplinkCounts() const {
  if (!uplink_) return lastCounts_;
  return uplink_->counts();
}

std::string MonitorSession::uplinkStatusText() const {
  const std::optional<Uplink::Counts> counts = uplinkCounts();
  if (!counts) return {};
  return "queued " + std::to_string(counts->queued) + ", sent " + std::to_string(counts->sent) +
         ", stored " + std::to_string(counts->stored);
}

}  // namespace ravdel
