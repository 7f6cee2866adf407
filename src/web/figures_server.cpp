#include "web/figures_server.h"

#include <httplib.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/files.h"
#include "platform/listen_socket.h"
#include "platform/local_time.h"
#include "web/page_api.h"
#include "web/web_assets.h"

namespace ravdel {
namespace {

// The page and its files come from this program alone; data: for the charts' own drawing. The
// chart library writes style attributes into its legend and range selector, so inline styles
// are let through; scripts never are.
constexpr const char* kPolicy =
    "default-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'; "
    "script-src 'self'; "
    "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

std::int64_t clockNow() {
  return unixMillisecondsNow() * 1000;
}

void reply(httplib::Response& response, int status, const std::string& body,
           const std::string& type) {
  response.status = status;
  response.set_content(body, type);
}

void replyError(httplib::Response& response, int status, const std::string& message) {
  reply(response, status,
        nlohmann::json({{"error", message}})
            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
        "application/json");
}

const WebAsset& assetNamed(std::string_view name) {
  for (const WebAsset& asset : webAssets())
    if (asset.name == name) return asset;
  throw std::logic_error("the page has no file " + std::string(name));
}

void replyAsset(httplib::Response& response, const WebAsset& asset) {
  const std::string type = std::string(asset.type) + "; charset=utf-8";  // all are text
  response.set_content(reinterpret_cast<const char*>(asset.bytes.data()), asset.bytes.size(),
                       type.c_str());
}

bool fileExists(const std::string& path) {
  std::error_code unreadable;
  return std::filesystem::exists(pathFromUtf8(path), unreadable);
}

}  // namespace

struct FiguresServer::Http {
  httplib::Server server;
};

FiguresServer::FiguresServer(FiguresServerOptions options)
    : options_(std::move(options)), http_(std::make_unique<Http>()) {
  if (!options_.now) options_.now = clockNow;
  if (!options_.token.empty()) base_ = "/" + options_.token;
  if (!options_.localHistory || fileExists(options_.storeLocation))
    giveBack(Store::open(options_.storeLocation));
}

FiguresServer::~FiguresServer() {
  stop();
}

std::unique_ptr<Store> FiguresServer::borrowStore() {
  {
    const std::lock_guard lock(idleMutex_);
    if (!idle_.empty()) {
      std::unique_ptr<Store> store = std::move(idle_.back());
      idle_.pop_back();
      return store;
    }
  }
  return Store::open(options_.storeLocation);
}

void FiguresServer::giveBack(std::unique_ptr<Store> store) {
  const std::lock_guard lock(idleMutex_);
  idle_.push_back(std::move(store));
}

bool FiguresServer::historyKept() {
  if (!options_.localHistory) return true;
  if (!fileExists(options_.storeLocation)) return false;
  std::unique_ptr<Store> store = borrowStore();
  const bool kept = store->holdsEvents();
  giveBack(std::move(store));
  return kept;
}

std::string FiguresServer::address() const {
  return "http://" + options_.host + ":" + std::to_string(port_) + base_ + "/";
}

// Handlers run on the HTTP library's threads (options_.threads of them).
void FiguresServer::route() {
  httplib::Server& server = http_->server;
  server.set_default_headers({{"Content-Security-Policy", kPolicy},
                              {"X-Content-Type-Options", "nosniff"},
                              {"Referrer-Policy", "no-referrer"},
                              {"Cache-Control", "no-store"}});
  for (const WebAsset& asset : webAssets()) {
    if (asset.name == "index.html") continue;
    server.Get(base_ + "/" + std::string(asset.name),
               [&asset](const httplib::Request&, httplib::Response& response) {
                 replyAsset(response, asset);
               });
  }
  server.Get(base_ + "/", [this](const httplib::Request&, httplib::Response& response) {
    try {
      replyAsset(response, assetNamed(historyKept() ? "index.html" : "no-history.html"));
    } catch (const std::exception& e) {
      replyError(response, 500, e.what());
    }
  });
  server.Get(base_ + R"(/api/([a-z]+))",
             [this](const httplib::Request& request, httplib::Response& response) {
               if (options_.localHistory && !fileExists(options_.storeLocation))
                 return replyError(response, 404, "no history is kept yet");
               try {
                 std::unique_ptr<Store> store = borrowStore();
                 const ApiReply answer = answerApi(request.matches[1].str(), request.params,
                                                   store->database(), options_.now());
                 giveBack(std::move(store));
                 reply(response, answer.status, answer.body, answer.type);
               } catch (const std::exception& e) {
                 replyError(response, 500, e.what());
               }
             });
}

void FiguresServer::start() {
  if (listener_.joinable()) return;
  route();
  httplib::Server& server = http_->server;
  const int threads = options_.threads;
  server.set_socket_options([](socket_t socket) { setListenSocketOptions(socket); });
  // The library takes the queue it is given and deletes it when it stops.
  server.new_task_queue = [threads] {
    return new httplib::ThreadPool(static_cast<size_t>(threads));
  };
  port_ = options_.port == 0
              ? server.bind_to_any_port(options_.host)
              : (server.bind_to_port(options_.host, options_.port) ? options_.port : -1);
  if (port_ <= 0) {
    throw ServeError("cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
                     " (taken, or not an address of this machine)");
  }
  // An idle connection the browser keeps open holds a thread until this runs out, also at stop.
  server.set_keep_alive_timeout(1);
  server.set_read_timeout(options_.stallSeconds, 0);
  server.set_write_timeout(options_.stallSeconds, 0);
  listener_ = std::thread([this, &server] {
    server.listen_after_bind();
    listenerDone_ = true;
  });
}

// The library's stop does nothing until its accept loop runs: wait for the loop first.
void FiguresServer::stop() {
  if (!listener_.joinable()) return;
  while (!http_->server.is_running() && !listenerDone_)
    std::this_thread::yield();
  http_->server.stop();
  listener_.join();
}

}  // namespace ravdel
