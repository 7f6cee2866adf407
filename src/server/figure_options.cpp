#include "server/figure_options.h"

#include <cstdio>
#include <filesystem>

#include "analysis/time_text.h"
#include "platform/environment.h"
#include "platform/local_time.h"
#include "session/monitor_session.h"
#include "store/store.h"

namespace ravdel {

std::optional<std::int64_t> momentOption(const CommandArguments& arguments, const std::string& name,
                                         std::int64_t nowUs) {
  const auto text = arguments.value(name);
  if (!text) return std::nullopt;
  const auto us = parseMoment(*text, nowUs);
  if (!us) {
    throw CommandLineError("--" + name + " \"" + *text +
                           "\" is not a moment (2026-12-08, 2026-12-08T09:26Z, now, -24h, -7d)");
  }
  return us;
}

std::string figuresStoreLocation(const CommandArguments& arguments) {
  if (const auto store = arguments.value("store")) return *store;
  return "sqlite:" + settingsFolder() + MonitorSession::kHistoryFile;
}

std::unique_ptr<Store> openFiguresStore(const CommandArguments& arguments) {
  const std::string location = figuresStoreLocation(arguments);
  const bool server = location.rfind("postgres", 0) == 0;
  const std::string file = location.rfind("sqlite:", 0) == 0 ? location.substr(7) : location;
  if (!server && !std::filesystem::exists(std::filesystem::u8path(file)))
    throw StoreError("there is no store " + file + " (--store sqlite:FILE or postgresql://...)");
  return Store::open(location);
}

std::string fixedText(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::int64_t nowMicroseconds() {
  return unixMillisecondsNow() * 1000;
}

}  // namespace ravdel
