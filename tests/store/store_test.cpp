#include "store/store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/sample_rows.h"
#include "support/services.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

// An event of station alpha in the outbox (or delivered), its place known only in latitude.
EventRow event(const std::string& run, std::int64_t seq, bool delivered = false) {
  EventRow e = test::sampleEvent("alpha", run, seq, 1796718413000000 + seq);
  e.lon.reset();
  e.storedUs = 1000 + seq;
  e.delivered = delivered;
  return e;
}

HeartbeatRow heartbeat(const std::string& run, std::int64_t seq) {
  HeartbeatRow h = test::sampleHeartbeat("alpha", run, seq, (seq + 1) * 60000000);
  h.storedUs = 2000 + seq;
  h.delivered = false;
  return h;
}

// The same cases on both engines: SQLite in a file of the test's folder, PostgreSQL in a
// cluster of the test's own.
class StoreTest : public test::TempDirTest, public ::testing::WithParamInterface<Engine> {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    if (GetParam() == Engine::sqlite) {
      location_ = "sqlite:" + path("history.db");
      return;
    }
    if (const auto why = test::TestPostgres::unavailable()) GTEST_SKIP() << *why;
    if (!postgresAvailable()) GTEST_SKIP() << "this build has no PostgreSQL engine";
    postgres_ = std::make_unique<test::TestPostgres>(dir_.string());
    location_ = postgres_->uri();
  }
  void TearDown() override {
    postgres_.reset();
    TempDirTest::TearDown();
  }
  std::unique_ptr<Store> open() const { return Store::open(location_); }

  std::string location_;
  std::unique_ptr<test::TestPostgres> postgres_;
};

INSTANTIATE_TEST_SUITE_P(Engines, StoreTest, ::testing::Values(Engine::sqlite, Engine::postgresql),
                         [](const ::testing::TestParamInfo<Engine>& engine) {
                           return engine.param == Engine::sqlite ? "SQLite" : "PostgreSQL";
                         });

// A row sent twice (its acknowledgement lost) is stored once; the outbox gives back what was
// not delivered, oldest first, with every column as written.
TEST_P(StoreTest, RowsAreStoredOnceByTheirKeyAndTheOutboxHoldsTheUndelivered) {
  auto store = open();
  EXPECT_EQ(store->schemaVersion(), Store::kSchemaVersion);
  const std::vector<EventRow> batch = {event("aa", 1), event("aa", 2), event("bb", 1, true)};
  store->insertEvents(batch);
  store->insertEvents(batch);
  store->insertHeartbeats(std::vector<HeartbeatRow>{heartbeat("aa", 1), heartbeat("aa", 1)});
  EXPECT_EQ(store->eventCount(), 3);
  EXPECT_EQ(store->undeliveredCount(), 3) << "two events and one heartbeat";

  const std::vector<EventRow> waiting = store->undeliveredEvents(10);
  ASSERT_EQ(waiting.size(), 2u);
  EXPECT_EQ(waiting[0].seq, 1);
  EXPECT_EQ(waiting[0].crop, batch[0].crop);
  EXPECT_EQ(waiting[0].lat, 48.21);
  EXPECT_FALSE(waiting[0].lon.has_value());
  EXPECT_EQ(waiting[0].tLoUs, batch[0].tLoUs);
  EXPECT_EQ(store->undeliveredEvents(1).size(), 1u);

  store->markDelivered("alpha", std::vector<RowKey>{{"aa", 1}}, std::vector<RowKey>{{"aa", 1}});
  EXPECT_EQ(store->undeliveredCount(), 1);
  store = open();  // reopening migrates nothing
  EXPECT_EQ(store->undeliveredEvents(10).at(0).seq, 2);
}

// Rows go in blocks: a key twice in one block, or in a block and a row after it, is stored
// once, and every column of every row arrives.
TEST_P(StoreTest, ManyRowsAtOnceAreStoredOnceEach) {
  auto store = open();
  std::vector<EventRow> events;
  std::vector<HeartbeatRow> heartbeats;
  for (int i = 1; i <= 70; ++i) {
    events.push_back(event("aa", i == 2 ? 1 : i));
    events.back().frame = i;
    heartbeats.push_back(heartbeat("aa", i == 70 ? 3 : i));
  }
  store->storeReceived(events, heartbeats, {});
  EXPECT_EQ(store->eventCount(), 69);
  EXPECT_EQ(store->undeliveredCount(), 69 + 69);
  const std::vector<EventRow> stored = store->undeliveredEvents(100);
  ASSERT_EQ(stored.size(), 69u);
  EXPECT_EQ(stored[0].frame, 1) << "the first of a key twice is kept";
  EXPECT_EQ(stored.back().frame, 70);
  EXPECT_EQ(stored.back().crop, events.back().crop);
  EXPECT_EQ(stored.back().lat, 48.21);
}

// The history is kept within its bounds, but a row the server has not stored never goes.
TEST_P(StoreTest, PruningDropsOnlyDeliveredRows) {
  auto store = open();
  std::vector<EventRow> rows;
  for (int i = 1; i <= 3000; ++i)
    rows.push_back(event("run", i, i > 10));
  store->insertEvents(rows);
  EXPECT_EQ(store->prune(1000 + 101, 1LL << 40), 90) << "delivered rows stored before 1101";
  EXPECT_EQ(store->eventCount(), 2910);
  store->prune(0, 1);
  EXPECT_EQ(store->eventCount(), 10) << "only the undelivered are left";
  EXPECT_EQ(store->undeliveredEvents(100).size(), 10u);
}

struct StationSeen {
  std::string station;
  std::optional<double> lat;
  std::int64_t firstUs, lastUs, flags;
  bool operator==(const StationSeen&) const = default;
};

std::vector<StationSeen> stations(Store& store) {
  const auto query = store.database().prepare(
      "SELECT station, lat, first_heard_us, last_heard_us, flags FROM stations ORDER BY station");
  std::vector<StationSeen> seen;
  while (query->step()) {
    seen.push_back({query->text(0), query->optionalReal(1), query->integer(2), query->integer(3),
                    query->integer(4)});
  }
  return seen;
}

// An ingester's batch in one transaction: its rows, and each station heard: where it last said
// it was, when it was first and last heard (a late batch moves neither back), its flags.
TEST_P(StoreTest, AnIngestersBatchKeepsItsStationsHeard) {
  auto store = open();
  store->flagStation("beta", kStationFlooded);  // flagged before it was ever heard
  const std::vector<StationNote> first = {{"alpha", 48.21, 16.37, 2000, 0},
                                          {"beta", std::nullopt, std::nullopt, 2500, 0}};
  store->storeReceived(std::vector<EventRow>{event("aa", 1), event("aa", 2)},
                       std::vector<HeartbeatRow>{heartbeat("aa", 1)}, first);
  const std::vector<StationNote> late = {{"alpha", std::nullopt, std::nullopt, 1000, 0},
                                         {"beta", std::nullopt, std::nullopt, 3000, 4}};
  store->storeReceived(std::vector<EventRow>{event("aa", 2)}, {}, late);
  EXPECT_EQ(store->eventCount(), 2);
  EXPECT_EQ(stations(*store), (std::vector<StationSeen>{{"alpha", 48.21, 2000, 2000, 0},
                                                        {"beta", std::nullopt, 2500, 3000, 6}}));
}

// Programs that open a new store at the same moment (two ingesters started together) all get
// it, migrated once.
TEST_P(StoreTest, StoresOpenedTogetherAreMigratedOnce) {
  constexpr int kOpeners = 6;
  for (int round = 0; round < 2; ++round) {
    const std::string name = "together" + std::to_string(round);
    const std::string uri = postgres_ ? postgres_->createDatabase(name) : path(name + ".db");
    std::latch connected(kOpeners);
    std::atomic<int> failures = 0;
    std::vector<std::thread> openers;
    for (int i = 0; i < kOpeners; ++i) {
      openers.emplace_back([&] {
        // Connected first, so that the migrations start together.
        auto database = postgres_ ? openPostgres(uri) : openSqlite(uri);
        connected.arrive_and_wait();
        try {
          Store store(std::move(database));
        } catch (const StoreError& e) {
          ADD_FAILURE() << e.what();
          ++failures;
        }
      });
    }
    for (std::thread& opener : openers)
      opener.join();
    ASSERT_EQ(failures, 0);
    EXPECT_EQ(Store::open(postgres_ ? uri : "sqlite:" + uri)->schemaVersion(),
              Store::kSchemaVersion);
  }
}

TEST_P(StoreTest, AStoreOfANewerSchemaIsRefused) {
  open()->database().execute("UPDATE schema_version SET version = 99");
  EXPECT_THROW(open(), StoreError);
}

using SqliteFileTest = test::TempDirTest;

TEST_F(SqliteFileTest, APlainPathIsSqliteAndAFileThatIsNoDatabaseIsRefused) {
  Store::open(path("history.db"))->insertEvents(std::vector<EventRow>{event("aa", 1)});
  EXPECT_EQ(Store::open("sqlite:" + path("history.db"))->eventCount(), 1);
  write(path("garbage.db"), std::string(4096, 'x'));
  EXPECT_THROW(Store::open(path("garbage.db")), StoreError);
}

}  // namespace
}  // namespace ravdel
