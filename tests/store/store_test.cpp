#include "store/store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace ravdel {
namespace {

EventRow event(const std::string& run, std::int64_t seq, bool delivered = false) {
  EventRow e;
  e.station = "alpha";
  e.runId = run;
  e.seq = seq;
  e.tUs = 1796718413000000 + seq;
  e.tLoUs = e.tUs - 50000;
  e.tHiUs = e.tUs + 50000;
  e.x = 3;
  e.y = 4;
  e.r = 200;
  e.limit = 150;
  e.width = 320;
  e.height = 240;
  e.fourcc = "YUY2";
  e.camera = "Cam";
  e.crop = {0x89, 'P', 'N', 'G'};
  e.lat = 48.21;
  e.storedUs = 1000 + seq;
  e.delivered = delivered;
  return e;
}

HeartbeatRow heartbeat(const std::string& run, std::int64_t seq) {
  HeartbeatRow h;
  h.station = "alpha";
  h.runId = run;
  h.hbSeq = seq;
  h.fromUs = seq * 60000000;
  h.toUs = h.fromUs + 60000000;
  h.liveMs = 60000;
  h.storedUs = 2000 + seq;
  h.delivered = false;
  return h;
}

using StoreTest = test::TempDirTest;

// A row sent twice (its acknowledgement lost) is stored once; the outbox gives back what was
// not delivered, oldest first, with every column as written.
TEST_F(StoreTest, RowsAreStoredOnceByTheirKeyAndTheOutboxHoldsTheUndelivered) {
  auto store = Store::open("sqlite:" + path("history.db"));
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
  store =
      Store::open(path("history.db"));  // a plain path is SQLite too; reopening migrates nothing
  EXPECT_EQ(store->undeliveredEvents(10).at(0).seq, 2);
}

// The history is kept within its bounds, but a row the server has not stored never goes.
TEST_F(StoreTest, PruningDropsOnlyDeliveredRows) {
  auto store = Store::open(path("history.db"));
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

TEST_F(StoreTest, AStoreOfANewerSchemaIsRefused) {
  {
    auto store = Store::open(path("history.db"));
    store->database().execute("UPDATE schema_version SET version = 99");
  }
  EXPECT_THROW(Store::open(path("history.db")), StoreError);
  write(path("garbage.db"), std::string(4096, 'x'));
  EXPECT_THROW(Store::open(path("garbage.db")), StoreError);
}

}  // namespace
}  // namespace ravdel
