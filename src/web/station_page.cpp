#include "web/station_page.h"

#include <array>
#include <cstddef>

#include "platform/random_bytes.h"

namespace ravdel {
namespace {

void appendHex(std::string& text, unsigned char byte) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  text += kDigits[byte >> 4];
  text += kDigits[byte & 15];
}

// Percent-escapes what a station name may hold beyond letters, digits and -_. for the page's
// #/station/NAME, which the page decodes.
std::string escapedForAddress(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= 'a' && byte <= 'z') || c == '-' || c == '_' || c == '.') {
      escaped += c;
    } else {
      escaped += '%';
      appendHex(escaped, byte);
    }
  }
  return escaped;
}

}  // namespace

std::string randomToken() {
  std::array<std::byte, 16> bytes{};
  fillRandomBytes(bytes);
  std::string token;
  for (const std::byte byte : bytes)
    appendHex(token, static_cast<unsigned char>(byte));
  return token;
}

std::string StationPage::address(std::string_view station) {
  if (!server_) {
    FiguresServerOptions options;
    options.storeLocation = historyPath_;
    options.port = 0;
    options.token = randomToken();
    options.localHistory = true;
    options.threads = 2;       // one person's browser
    options.stallSeconds = 1;  // a browser on this machine sends at once; closing never waits
    auto server = std::make_unique<FiguresServer>(std::move(options));
    server->start();
    server_ = std::move(server);
  }
  return server_->address() + "#/station/" + escapedForAddress(station);
}

}  // namespace ravdel
