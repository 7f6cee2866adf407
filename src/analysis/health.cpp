#include "analysis/health.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "store/time_bins.h"

namespace ravdel {
namespace {

constexpr std::int64_t kMedianDays = 30;

std::set<std::string> knownStations(Database& database) {
  std::set<std::string> names;
  const auto listed = database.prepare("SELECT station FROM stations");
  while (listed->step())
    names.insert(listed->text(0));
  // A station's own history has no stations row: its counts name it.
  for (std::string& name : countedStations(database))
    names.insert(std::move(name));
  return names;
}

std::string minutesText(std::int64_t us) {
  return std::to_string(us / kMinuteUs) + " min";
}

std::string rateText(double perHour) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f/h", perHour);
  return text;
}

// Reads what the queries below need of one station. Statements prepared once for all.
class HealthReader {
 public:
  HealthReader(Database& database, std::int64_t nowUs)
      : nowUs_(nowUs),
        lastBeat_(database.prepare(
            "SELECT to_us, clock_synced, clock_error_us FROM heartbeats WHERE station = $1 "
            "ORDER BY to_us DESC LIMIT 1")),
        lastEvent_(database.prepare(
            "SELECT t_us, lat, lon FROM events WHERE station = $1 AND t_us <= $2 ORDER BY t_us "
            "DESC LIMIT 1")),
        place_(database.prepare("SELECT lat, lon, flags FROM stations WHERE station = $1")),
        hours_(database.prepare(
            "SELECT hour_us, events, live_ms FROM hourly_counts WHERE station = $1 AND "
            "hour_us >= $2 ORDER BY hour_us")),
        liveAfter_(database.prepare(
            "SELECT COALESCE(sum(live_ms), 0) FROM hourly_counts WHERE station = $1 AND "
            "hour_us > $2")) {}

  StationHealth read(const std::string& station) {
    StationHealth health;
    health.station = station;
    readHeartbeat(health);
    readEvent(health);
    readPlace(health);
    judge(health);
    return health;
  }

 private:
  void readHeartbeat(StationHealth& health) {
    run(*lastBeat_, health.station);
    if (!lastBeat_->step()) return;
    health.lastHeartbeatUs = lastBeat_->integer(0);
    health.clockSynced = lastBeat_->integer(1) != 0;
    health.clockErrorUs = lastBeat_->integer(2);
  }

  void readEvent(StationHealth& health) {
    run(*lastEvent_, health.station);
    lastEvent_->bind(2, nowUs_);
    if (!lastEvent_->step()) return;
    health.lastEventUs = lastEvent_->integer(0);
    health.lat = lastEvent_->optionalReal(1);
    health.lon = lastEvent_->optionalReal(2);
  }

  void readPlace(StationHealth& health) {
    run(*place_, health.station);
    if (!place_->step()) return;
    if (!place_->isNull(0)) health.lat = place_->optionalReal(0);
    if (!place_->isNull(1)) health.lon = place_->optionalReal(1);
    health.flags = place_->integer(2);
  }

  void judge(StationHealth& health) {
    if (!health.lastHeartbeatUs || nowUs_ - *health.lastHeartbeatUs > kDownUs) {
      health.state = StationState::down;
      health.problems.push_back(health.lastHeartbeatUs
                                    ? "no heartbeat for " +
                                          minutesText(nowUs_ - *health.lastHeartbeatUs)
                                    : "never sent a heartbeat");
      return;
    }
    if (nowUs_ - *health.lastHeartbeatUs > kQuietUs)
      health.problems.push_back("no heartbeat for " +
                                minutesText(nowUs_ - *health.lastHeartbeatUs));
    checkEventless(health);
    checkRate(health);
    if (health.clockSynced == false) health.problems.push_back("clock not synchronised");
    if ((health.flags & kStationFlooded) != 0)
      health.problems.push_back("flooded: events beyond the cap were refused");
    health.state = health.problems.empty() ? StationState::up : StationState::problem;
  }

  // Live time after the hour of the last event (whole hours: the counts are hourly).
  void checkEventless(StationHealth& health) {
    run(*liveAfter_, health.station);
    liveAfter_->bind(2, health.lastEventUs ? binStart(*health.lastEventUs, kHourUs) : INT64_MIN);
    const std::int64_t liveMs = liveAfter_->step() ? liveAfter_->integer(0) : 0;
    if (liveMs >= kEventlessLiveMs)
      health.problems.push_back("no event in " + std::to_string(liveMs / 3600000) + " live hours");
  }

  // The last 24 hours against the median of the daily rates of the 30 days before.
  void checkRate(StationHealth& health) {
    run(*hours_, health.station);
    const std::int64_t dayAgo = nowUs_ - kDayUs;
    hours_->bind(2, dayAgo - kMedianDays * kDayUs);
    std::map<std::int64_t, std::pair<std::int64_t, std::int64_t>> days;  // events, live ms
    std::int64_t recentEvents = 0, recentLiveMs = 0;
    while (hours_->step()) {
      const std::int64_t hour = hours_->integer(0);
      if (hour >= dayAgo) {
        recentEvents += hours_->integer(1);
        recentLiveMs += hours_->integer(2);
      } else {
        auto& day = days[binStart(hour - dayAgo, kDayUs)];
        day.first += hours_->integer(1);
        day.second += hours_->integer(2);
      }
    }
    std::vector<double> rates;
    for (const auto& [day, counts] : days)
      if (counts.second >= 3600000)
        rates.push_back(static_cast<double>(counts.first) * 3600000.0 /
                        static_cast<double>(counts.second));
    if (rates.size() < 3 || recentLiveMs < 3600000) return;
    std::nth_element(rates.begin(), rates.begin() + static_cast<std::ptrdiff_t>(rates.size() / 2),
                     rates.end());
    const double median = rates[rates.size() / 2];
    const double expected = median * static_cast<double>(recentLiveMs) / 3600000.0;
    const double sigma = std::sqrt(std::max(expected, 1.0));
    if (std::fabs(static_cast<double>(recentEvents) - expected) > kRateSigmas * sigma) {
      const double recent =
          static_cast<double>(recentEvents) * 3600000.0 / static_cast<double>(recentLiveMs);
      health.problems.push_back("rate " + rateText(recent) + " in the last day, its median " +
                                rateText(median));
    }
  }

  static void run(Statement& statement, const std::string& station) {
    statement.reset();
    statement.bind(1, station);
  }

  std::int64_t nowUs_;
  std::unique_ptr<Statement> lastBeat_, lastEvent_, place_, hours_, liveAfter_;
};

}  // namespace

const char* stationStateName(StationState state) {
  switch (state) {
    case StationState::up:
      return "up";
    case StationState::problem:
      return "problem";
    case StationState::down:
      break;
  }
  return "down";
}

std::vector<StationHealth> stationHealth(Database& database, std::int64_t nowUs) {
  HealthReader reader(database, nowUs);
  std::vector<StationHealth> all;
  for (const std::string& station : knownStations(database))
    all.push_back(reader.read(station));
  return all;
}

std::vector<StationSummary> stationSummaries(Database& database, std::int64_t nowUs,
                                             std::int64_t sinceUs, std::int64_t untilUs) {
  std::map<std::string, RateBin> totals;
  for (RateBin& total : rateTotals(database, sinceUs, untilUs))
    totals.emplace(total.station, std::move(total));
  std::vector<StationSummary> summaries;
  for (StationHealth& health : stationHealth(database, nowUs)) {
    StationSummary summary;
    const auto found = totals.find(health.station);
    if (found != totals.end()) {
      summary.total = found->second;
    } else {
      summary.total.station = health.station;
      summary.total.startUs = binStart(sinceUs, kHourUs);
      summary.total.widthUs = untilUs - summary.total.startUs;
      setRate(summary.total);
    }
    summary.health = std::move(health);
    summaries.push_back(std::move(summary));
  }
  return summaries;
}

}  // namespace ravdel
