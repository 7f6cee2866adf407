#pragma once

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace ravdel::test {

// Headless Chromium of the test's own (Debian's chromium), driven over the DevTools protocol
// on a pair of pipes: no port of its own. A new, empty profile in `folder`, no sandbox when run
// as root, no background traffic of its own. One page (tab); every request the page sends is
// kept, so a test can say that none left for another host. Ended by its pid when the object
// goes. Throws ServiceError.
class HeadlessBrowser {
 public:
  static constexpr const char* kProgram = "/usr/bin/chromium";
  static std::optional<std::string> unavailable();

  explicit HeadlessBrowser(const std::string& folder);
  ~HeadlessBrowser();
  HeadlessBrowser(const HeadlessBrowser&) = delete;
  HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

  // The page's size in CSS pixels; a phone's also emulates touch and a mobile viewport.
  void setViewport(int width, int height, bool phone);
  void navigate(const std::string& url);
  // The value of a JavaScript expression in the page (promises awaited).
  nlohmann::json evaluate(const std::string& expression);
  // Evaluates `expression` until it is true or `limit` has passed.
  bool waitUntil(const std::string& expression,
                 std::chrono::milliseconds limit = std::chrono::seconds(60));
  // A PNG of the page's viewport, written to `file`.
  void screenshot(const std::string& file);

  // Every URL the page asked for since it was opened.
  const std::vector<std::string>& requests() const { return requests_; }
  // Console errors and uncaught exceptions, content-security refusals among them.
  const std::vector<std::string>& errors() const { return errors_; }

 private:
  // Sends a command (to the page's session unless `browser`) and waits for its answer,
  // keeping the events that come meanwhile.
  nlohmann::json call(const std::string& method, nlohmann::json params = nlohmann::json::object(),
                      bool browser = false);
  nlohmann::json receive(std::chrono::milliseconds limit);
  void note(const nlohmann::json& event);

  std::unique_ptr<ChildProcess> process_;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  std::string pending_;  // bytes read past the last whole message
  std::string session_;
  int nextId_ = 0;
  std::vector<std::string> requests_;
  std::vector<std::string> errors_;
};

}  // namespace ravdel::test
