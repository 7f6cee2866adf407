#include "web/figures_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>

#include "seeded_network.h"
#include "support/engine_stores.h"

namespace ravdel {
namespace {

// A seeded store behind a server on a port the system chooses.
template <typename Base>
class Serving : public Base {
 protected:
  // False when the store's engine cannot run here.
  bool serve(std::unique_ptr<Store> store, const std::string& location,
             const std::string& token = {}) {
    if (!store) return false;
    servedLocation_ = location;
    test::seedNetwork(*store);
    FiguresServerOptions options;
    options.storeLocation = location;
    options.port = 0;
    options.token = token;
    options.now = [] { return test::kSeedNowUs; };
    server_ = std::make_unique<FiguresServer>(options);
    server_->start();
    client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->port());
    return true;
  }

  std::string servedLocation_;
  std::unique_ptr<FiguresServer> server_;
  std::unique_ptr<httplib::Client> client_;
};

class FiguresServerTest : public Serving<test::EngineStoreTest> {
 protected:
  bool serve() {
    auto store = openStore();
    return Serving::serve(std::move(store), test::EngineStoreTest::location_);
  }
};

// What does not depend on the engine: on SQLite.
class FiguresServerSqliteTest : public Serving<test::TempDirTest> {
 protected:
  bool serve(const std::string& token = {}) {
    const std::string location = "sqlite:" + path("store.db");
    return Serving::serve(Store::open(location), location, token);
  }
};

TEST_P(FiguresServerTest, AnswersThePageAndRefusesBadParametersWithAMessage) {
  if (!serve()) GTEST_SKIP() << "no PostgreSQL here";
  struct Case {
    const char* path;
    int status;
    const char* holds;  // a part of the body
  } cases[] = {
      {"/", 200, "<title>Ravdel"},
      {"/static/dygraph.min.js", 200, "Dygraph"},
      {"/static/app.js", 200, "textContent"},
      {"/api/stations", 200, "\"state\":\"problem\""},
      {"/api/rates?station=alpha&since=-2d", 200, "\"rate_per_hour\""},
      {"/api/station?station=alpha", 200, "\"hit_map\""},
      {"/api/coincidences", 200, "\"found\":1"},
      {"/api/rates", 400, "station is missing"},
      {"/api/rates?station=alpha&bin=week", 400, "bin is minute, 10min, hour, day or auto"},
      {"/api/rates?station=alpha&bin=minute&since=-30d", 400, "a week at most"},
      {"/api/rates?station=alpha&since=yesterday", 400, "since is not a moment: yesterday"},
      {"/api/stations?since=2027-01-01&until=2026-01-01", 400, "until is not after since"},
      {"/api/coincidences?window=0", 400, "window is auto or milliseconds"},
      {"/api/coincidences?limit=100000", 400, "limit is not a whole number from 1 to 200"},
      {"/api/crop?station=alpha&run_id=c0ffee&seq=x", 400, "seq is not a whole number"},
      {"/api/crop?station=alpha&run_id=c0ffee&seq=99", 404, "no such crop"},
      {"/api/nothing", 404, "no such address"},
      {"/x", 404, ""},
  };
  for (const Case& c : cases) {
    const auto answer = client_->Get(c.path);
    ASSERT_TRUE(answer) << c.path;
    EXPECT_EQ(answer->status, c.status) << c.path << ": " << answer->body.substr(0, 200);
    EXPECT_NE(answer->body.find(c.holds), std::string::npos)
        << c.path << ": " << answer->body.substr(0, 300);
    if (c.status == 400) {
      EXPECT_TRUE(nlohmann::json::parse(answer->body).contains("error")) << c.path;
    }
  }
  const auto page = client_->Get("/");
  EXPECT_EQ(page->get_header_value("Content-Security-Policy").substr(0, 19), "default-src 'self';");

  // The markup in a station's name comes back as a JSON string, to be shown as text.
  const auto stations = nlohmann::json::parse(client_->Get("/api/stations")->body);
  ASSERT_EQ(stations["stations"].size(), 3u);
  EXPECT_EQ(stations["stations"][0]["station"], test::kMarkupStation);

  const auto crop = client_->Get("/api/crop?station=alpha&run_id=c0ffee&seq=1");
  ASSERT_TRUE(crop);
  EXPECT_EQ(crop->status, 200);
  EXPECT_EQ(crop->get_header_value("Content-Type"), "image/png");
  EXPECT_EQ(crop->body.substr(1, 3), "PNG");
}

// The desktop program's own page: only addresses under the token are answered.
TEST_F(FiguresServerSqliteTest, ATokenGuardsEveryAddress) {
  ASSERT_TRUE(serve("s3cret-Token_1"));
  EXPECT_EQ(server_->address(),
            "http://127.0.0.1:" + std::to_string(server_->port()) + "/s3cret-Token_1/");
  for (const auto& [path, status] :
       std::vector<std::pair<std::string, int>>{{"/", 404},
                                                {"/api/stations", 404},
                                                {"/static/app.js", 404},
                                                {"/s3cret-Token_1/", 200},
                                                {"/s3cret-Token_1/api/stations", 200},
                                                {"/s3cret-Token_1/static/app.js", 200},
                                                {"/s3cret-Token_2/api/stations", 404}}) {
    const auto answer = client_->Get(path);
    ASSERT_TRUE(answer) << path;
    EXPECT_EQ(answer->status, status) << path;
  }
}

// Stopped, the server leaves no port open: a connection is refused, and a new server can take
// the same port at once.
TEST_F(FiguresServerSqliteTest, StopClosesThePort) {
  ASSERT_TRUE(serve());
  ASSERT_TRUE(client_->Get("/api/stations"));
  const int port = server_->port();
  server_->stop();
  server_->stop();
  httplib::Client late("127.0.0.1", port);
  late.set_connection_timeout(2);
  EXPECT_FALSE(late.Get("/"));
  FiguresServerOptions options;
  options.storeLocation = servedLocation_;
  options.port = port;
  FiguresServer again(options);
  again.start();
  EXPECT_EQ(again.port(), port);
  EXPECT_TRUE(late.Get("/"));
  FiguresServer taken(options);
  EXPECT_THROW(taken.start(), ServeError);
}

INSTANTIATE_TEST_SUITE_P(Engines, FiguresServerTest, test::kBothEngines, test::engineTestName);

}  // namespace
}  // namespace ravdel
