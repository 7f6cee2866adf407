// The page in a real browser (headless Chromium) against a seeded store, at a desktop's size
// and a phone's: the stations table, a station's charts, a coincidence's crops side by side.
#include <gtest/gtest.h>

#include <filesystem>

#include "seeded_network.h"
#include "support/browser.h"
#include "support/engine_stores.h"
#include "support/temp_dir.h"
#include "web/figures_server.h"

namespace ravdel {
namespace {

// How many pixels of the canvases under `selector` are drawn (not transparent, not black).
std::string drawnPixels(const std::string& selector) {
  return "[...document.querySelectorAll('" + selector +
         " canvas')].concat([...document.querySelectorAll('canvas" + selector +
         "')]).reduce((sum, c) => { const d = c.getContext('2d').getImageData(0, 0, c.width, "
         "c.height).data; let n = 0; for (let i = 0; i < d.length; i += 4) if (d[i + 3] && (d[i] "
         "|| d[i + 1] || d[i + 2])) n++; return sum + n; }, 0)";
}

struct Viewport {
  const char* name;
  int width, height;
  bool phone;
};

class PageBrowserTest : public test::EngineStoreTest {
 protected:
  void SetUp() override {
    EngineStoreTest::SetUp();
    if (const auto missing = test::HeadlessBrowser::unavailable()) GTEST_SKIP() << *missing;
    auto store = openStore();
    if (!store) GTEST_SKIP() << "no PostgreSQL here";
    test::seedNetwork(*store);
    FiguresServerOptions options;
    options.storeLocation = location_;
    options.port = 0;
    options.now = [] { return test::kSeedNowUs; };
    server_ = std::make_unique<FiguresServer>(options);
    server_->start();
    browser_ = std::make_unique<test::HeadlessBrowser>(dir_.string());
  }

  // Opens a view of the page and waits until it has drawn (or failed).
  void open(const std::string& view) {
    browser_->navigate(server_->address() + "#/" + view);
    ASSERT_TRUE(
        browser_->waitUntil("document.body && document.body.dataset.drawn === '#/" + view + "'"));
    ASSERT_EQ(browser_->evaluate("document.body.dataset.state"), "ready")
        << browser_->evaluate("document.getElementById('main').innerText");
  }

  void screenshot(const std::string& view, const Viewport& viewport) {
    const std::filesystem::path folder = RAVDEL_WEB_ARTIFACTS;
    std::filesystem::create_directories(folder);
    browser_->screenshot(
        (folder / (test::engineName(GetParam()) + "-" + view + "-" + viewport.name + ".png"))
            .string());
  }

  std::unique_ptr<FiguresServer> server_;
  std::unique_ptr<test::HeadlessBrowser> browser_;
};

TEST_P(PageBrowserTest, StationsChartsAndCoincidencesAtADesktopsAndAPhonesSize) {
  const Viewport viewports[] = {{"1280x800", 1280, 800, false}, {"390x844", 390, 844, true}};
  for (const Viewport& viewport : viewports) {
    SCOPED_TRACE(viewport.name);
    browser_->setViewport(viewport.width, viewport.height, viewport.phone);

    open("");
    const auto rows = browser_->evaluate(
        "[...document.querySelectorAll('#stations tbody tr')].map(r => "
        "[r.cells[0].textContent, r.cells[1].querySelector('.state').textContent])");
    const auto row = [](const std::string& name, const char* state) {
      return nlohmann::json::array({name, state});
    };
    const nlohmann::json expected = nlohmann::json::array(
        {row("gamma", "down"), row(test::kMarkupStation, "problem"), row("alpha", "up")});
    EXPECT_EQ(rows, expected) << "sorted by state, the station's name as text";
    EXPECT_TRUE(browser_->evaluate("window.pwned === undefined").get<bool>());
    screenshot("stations", viewport);

    open("station/alpha");
    EXPECT_GT(browser_->evaluate(drawnPixels("#rate-chart")).get<int>(), 500);
    EXPECT_GT(browser_->evaluate(drawnPixels("#spectrum-chart")).get<int>(), 200);
    EXPECT_GT(browser_->evaluate(drawnPixels("#hitmap")).get<int>(), 20);
    ASSERT_TRUE(browser_->waitUntil(
        "[...document.querySelectorAll('#gallery img')].every(i => i.complete && "
        "i.naturalWidth === 32) && document.querySelectorAll('#gallery img').length === 24"));
    screenshot("station", viewport);

    open("coincidences");
    ASSERT_TRUE(browser_->waitUntil(
        "[...document.querySelectorAll('#groups .group')].some(g => { const i = "
        "[...g.querySelectorAll('img')]; return i.length === 2 && i.every(x => x.complete && "
        "x.naturalWidth > 0); })"))
        << browser_->evaluate("document.getElementById('main').innerHTML");
    EXPECT_EQ(browser_->evaluate("document.querySelector('#groups .group figcaption').firstChild"
                                 ".textContent"),
              "alpha");
    EXPECT_GT(browser_->evaluate(drawnPixels("#background-chart")).get<int>(), 200);
    screenshot("coincidences", viewport);
  }

  const std::string origin = server_->address();
  for (const std::string& url : browser_->requests()) {
    EXPECT_TRUE(url.rfind(origin, 0) == 0 || url.rfind("data:", 0) == 0 || url == "about:blank")
        << "a request left for " << url;
  }
  EXPECT_GT(browser_->requests().size(), 10u);
  EXPECT_EQ(browser_->errors(), std::vector<std::string>{}) << "nothing refused or thrown";
}

INSTANTIATE_TEST_SUITE_P(Engines, PageBrowserTest, test::kBothEngines, test::engineTestName);

// The desktop program's own page (its "History…"): under its token, the notice while no
// history exists, then the station's charts from the same address once it does.
using LocalHistoryPageTest = test::TempDirTest;

TEST_F(LocalHistoryPageTest, ShowsTheNoticeThenTheStationUnderItsToken) {
  if (const auto missing = test::HeadlessBrowser::unavailable()) GTEST_SKIP() << *missing;
  const std::string history = (dir_ / "RVD-history.db").string();
  FiguresServerOptions options;
  options.storeLocation = history;
  options.port = 0;
  options.token = "0123456789abcdef0123456789abcdef";
  options.localHistory = true;
  options.now = [] { return test::kSeedNowUs; };
  FiguresServer server(options);
  server.start();
  test::HeadlessBrowser browser(dir_.string());
  browser.setViewport(1280, 800, false);
  const std::filesystem::path artifacts = RAVDEL_WEB_ARTIFACTS;
  std::filesystem::create_directories(artifacts);

  browser.navigate(server.address() + "#/station/alpha");
  ASSERT_TRUE(browser.waitUntil("document.body && document.body.dataset.state === 'no-history'"));
  EXPECT_FALSE(std::filesystem::exists(history)) << "the notice makes no store";
  browser.screenshot((artifacts / "history-none-1280x800.png").string());

  test::seedNetwork(*Store::open(history));
  browser.navigate("about:blank");
  browser.navigate(server.address() + "#/station/alpha");
  ASSERT_TRUE(
      browser.waitUntil("document.body && document.body.dataset.drawn === '#/station/alpha'"));
  ASSERT_EQ(browser.evaluate("document.body.dataset.state"), "ready");
  EXPECT_GT(browser.evaluate(drawnPixels("#rate-chart")).get<int>(), 500);
  ASSERT_TRUE(browser.waitUntil("document.querySelectorAll('#gallery img').length === 24"));
  browser.screenshot((artifacts / "history-station-1280x800.png").string());
  for (const std::string& url : browser.requests()) {
    EXPECT_TRUE(url.rfind(server.address(), 0) == 0 || url.rfind("data:", 0) == 0 ||
                url == "about:blank")
        << "every request goes under the token: " << url;
  }
  EXPECT_EQ(browser.errors(), std::vector<std::string>{});
}

}  // namespace
}  // namespace ravdel
