#include <charconv>
#include <string_view>

#include "wire/messages.h"

namespace ravdel {

bool parseServer(const std::string& text, bool tls, std::string& host, int& port) {
  port = tls ? 8883 : 1883;
  std::string_view rest = text;
  if (rest.starts_with('[')) {  // [IPv6]:port
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return false;
    host = std::string(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
    if (rest.empty()) return !host.empty();
    if (!rest.starts_with(':')) return false;
    rest.remove_prefix(1);
  } else {
    const std::size_t colon = rest.rfind(':');
    host = std::string(rest.substr(0, colon));
    if (colon == std::string_view::npos) return !host.empty();
    rest.remove_prefix(colon + 1);
  }
  int value = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (error != std::errc() || end != rest.data() + rest.size() || value < 1 || value > 65535)
    return false;
  port = value;
  return !host.empty();
}

}  // namespace ravdel
