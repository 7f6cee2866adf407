#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>

#include "support/browser.h"
#include "wire/messages.h"

namespace ravdel::test {

std::optional<std::string> HeadlessBrowser::unavailable() {
  if (!executable(kProgram)) return std::string(kProgram) + " is not installed (package chromium)";
  return std::nullopt;
}

HeadlessBrowser::HeadlessBrowser(const std::string& folder) {
  int commands[2], answers[2];
  if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0)
    throw ServiceError("no pipes for the browser");
  ChildOptions options;
  options.argv = {kProgram,
                  "--headless",
                  "--disable-gpu",
                  "--disable-quic",
                  "--no-first-run",
                  "--no-default-browser-check",
                  "--disable-background-networking",
                  "--disable-component-update",
                  "--disable-sync",
                  "--disable-extensions",
                  "--disable-dev-shm-usage",
                  "--hide-scrollbars",
                  "--mute-audio",
                  "--user-data-dir=" + folder + "/chromium-profile",
                  "--remote-debugging-pipe",
                  "about:blank"};
  if (runningAsRoot()) options.argv.insert(options.argv.begin() + 1, "--no-sandbox");
  options.outputFile = folder + "/chromium.log";
  options.descriptors = {{3, commands[0]}, {4, answers[1]}};
  process_ = std::make_unique<ChildProcess>(options);
  close(commands[0]);
  close(answers[1]);
  toBrowser_ = commands[1];
  fromBrowser_ = answers[0];
  signal(SIGPIPE, SIG_IGN);  // a browser that died fails the write, not the test program

  const std::string target =
      call("Target.createTarget", {{"url", "about:blank"}}, true)["targetId"];
  session_ =
      call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}}, true)["sessionId"];
  for (const char* domain : {"Page.enable", "Network.enable", "Runtime.enable", "Log.enable"})
    call(domain);
}

HeadlessBrowser::~HeadlessBrowser() {
  if (toBrowser_ >= 0) close(toBrowser_);  // the browser ends when its pipe closes
  if (fromBrowser_ >= 0) close(fromBrowser_);
  process_->stop(SIGTERM, std::chrono::seconds(10));
}

void HeadlessBrowser::setViewport(int width, int height, bool phone) {
  call("Emulation.setDeviceMetricsOverride", {{"width", width},
                                              {"height", height},
                                              {"deviceScaleFactor", phone ? 2 : 1},
                                              {"mobile", phone}});
  call("Emulation.setTouchEmulationEnabled", {{"enabled", phone}});
}

void HeadlessBrowser::navigate(const std::string& url) {
  call("Page.navigate", {{"url", url}});
}

nlohmann::json HeadlessBrowser::evaluate(const std::string& expression) {
  const nlohmann::json answer =
      call("Runtime.evaluate",
           {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}});
  if (answer.contains("exceptionDetails"))
    throw ServiceError("the page could not evaluate " + expression + ": " +
                       answer["exceptionDetails"].dump());
  return answer["result"].value("value", nlohmann::json());
}

bool HeadlessBrowser::waitUntil(const std::string& expression, std::chrono::milliseconds limit) {
  return eventually([&] { return evaluate("Boolean(" + expression + ")") == true; }, limit);
}

void HeadlessBrowser::screenshot(const std::string& file) {
  const nlohmann::json answer = call("Page.captureScreenshot", {{"format", "png"}});
  const auto png = base64Decode(answer["data"].get<std::string>());
  if (!png) throw ServiceError("the browser's screenshot is not base64");
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
}

nlohmann::json HeadlessBrowser::call(const std::string& method, nlohmann::json params,
                                     bool browser) {
  const int id = ++nextId_;
  nlohmann::json message = {{"id", id}, {"method", method}, {"params", std::move(params)}};
  if (!browser) message["sessionId"] = session_;
  const std::string bytes = message.dump() + '\0';
  for (std::size_t sent = 0; sent < bytes.size();) {
    const ssize_t wrote = write(toBrowser_, bytes.data() + sent, bytes.size() - sent);
    if (wrote <= 0) throw ServiceError("the browser is gone (" + method + ")");
    sent += static_cast<std::size_t>(wrote);
  }
  for (;;) {
    const nlohmann::json answer = receive(std::chrono::seconds(60));
    if (!answer.contains("id")) {
      note(answer);
      continue;
    }
    if (answer["id"] != id) continue;
    if (answer.contains("error"))
      throw ServiceError("the browser refused " + method + ": " + answer["error"].dump());
    return answer["result"];
  }
}

// Messages are JSON texts, each ended by a zero byte.
nlohmann::json HeadlessBrowser::receive(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const std::size_t zero = pending_.find('\0');
    if (zero != std::string::npos) {
      const std::string text = pending_.substr(0, zero);
      pending_.erase(0, zero + 1);
      return nlohmann::json::parse(text);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw ServiceError("the browser did not answer in time");
    pollfd wait{fromBrowser_, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[65536];
    const ssize_t got = read(fromBrowser_, buffer, sizeof buffer);
    if (got <= 0) throw ServiceError("the browser closed its pipe");
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

void HeadlessBrowser::note(const nlohmann::json& event) {
  const std::string method = event.value("method", "");
  const nlohmann::json& params = event.contains("params") ? event["params"] : nlohmann::json();
  if (method == "Network.requestWillBeSent") {
    requests_.push_back(params["request"]["url"]);
  } else if (method == "Runtime.exceptionThrown") {
    errors_.push_back(params["exceptionDetails"].dump());
  } else if (method == "Log.entryAdded" && params["entry"]["level"] == "error") {
    errors_.push_back(params["entry"]["text"]);
  } else if (method == "Runtime.consoleAPICalled" && params["type"] == "error") {
    errors_.push_back(params["args"].dump());
  }
}

}  // namespace ravdel::test
