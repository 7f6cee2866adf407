#include "tools/net_arguments.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "analysis/time_text.h"
#include "platform/environment.h"
#include "platform/local_time.h"
#include "session/monitor_session.h"
#include "store/store.h"

namespace ravdel {

NetArguments::NetArguments(const std::vector<std::string>& words,
                           const std::vector<NetOption>& known) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.rfind("--", 0) != 0) throw NetUsageError("unexpected word \"" + word + "\"");
    const std::size_t equals = word.find('=');
    const std::string name =
        word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const auto option = std::find_if(known.begin(), known.end(),
                                     [&](const NetOption& o) { return o.name == name; });
    if (option == known.end()) throw NetUsageError("unknown option --" + name);
    if (!option->takesValue) {
      if (equals != std::string::npos) throw NetUsageError("--" + name + " takes no value");
      values_[name] = "";
    } else if (equals != std::string::npos) {
      values_[name] = word.substr(equals + 1);
    } else if (i + 1 < words.size()) {
      values_[name] = words[++i];
    } else {
      throw NetUsageError("--" + name + " needs a value");
    }
  }
}

std::optional<std::string> NetArguments::value(const std::string& name) const {
  const auto found = values_.find(name);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

std::optional<std::int64_t> NetArguments::moment(const std::string& name,
                                                 std::int64_t nowUs) const {
  const auto text = value(name);
  if (!text) return std::nullopt;
  const auto us = parseMoment(*text, nowUs);
  if (!us) {
    throw NetUsageError("--" + name + " \"" + *text +
                        "\" is not a moment (2026-12-08, 2026-12-08T09:26Z, now, -24h, -7d)");
  }
  return us;
}

std::int64_t NetArguments::integer(const std::string& name, std::int64_t lowest,
                                   std::int64_t highest, std::int64_t otherwise) const {
  const auto text = value(name);
  if (!text) return otherwise;
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), number);
  if (error != std::errc() || end != text->data() + text->size() || number < lowest ||
      number > highest) {
    throw NetUsageError("--" + name + " \"" + *text + "\" is not a whole number from " +
                        std::to_string(lowest) + " to " + std::to_string(highest));
  }
  return number;
}

std::string NetArguments::storeLocation() const {
  if (const auto store = value("store")) return *store;
  return "sqlite:" + settingsFolder() + MonitorSession::kHistoryFile;
}

std::unique_ptr<Store> NetArguments::openStore() const {
  const std::string location = storeLocation();
  const bool server = location.rfind("postgres", 0) == 0;
  const std::string file = location.rfind("sqlite:", 0) == 0 ? location.substr(7) : location;
  if (!server && !std::filesystem::exists(std::filesystem::u8path(file)))
    throw StoreError("there is no store " + file + " (--store sqlite:FILE or postgresql://...)");
  return Store::open(location);
}

int guardedCommand(const std::string& command, std::ostream& err,
                   const std::function<int()>& body) {
  try {
    return body();
  } catch (const NetUsageError& e) {
    err << "ravdel-net " << command << ": " << e.what() << " (see ravdel-net --help)\n";
    return 2;
  } catch (const std::exception& e) {
    err << "ravdel-net " << command << ": " << e.what() << "\n";
    return 1;
  }
}

std::int64_t nowMicroseconds() {
  return unixMillisecondsNow() * 1000;
}

}  // namespace ravdel
