#include "web/page_api.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include "analysis/coincidences.h"
#include "analysis/figures_json.h"
#include "analysis/health.h"
#include "analysis/rates.h"
#include "analysis/station_figures.h"
#include "analysis/time_text.h"
#include "store/time_bins.h"

namespace ravdel {
namespace {

// A parameter the page sent that cannot be used: a 400 with this message.
class BadParameter : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr std::int64_t kDefaultRangeUs = 7 * kDayUs;
constexpr std::int64_t kLatestEvents = 24;
constexpr std::int64_t kMaxGroupsPerPage = 200;

class Parameters {
 public:
  Parameters(const QueryParameters& parameters, std::int64_t nowUs)
      : parameters_(parameters), nowUs_(nowUs) {}

  std::optional<std::string> text(const std::string& name) const {
    const auto found = parameters_.find(name);
    if (found == parameters_.end() || found->second.empty()) return std::nullopt;
    return found->second;
  }
  std::string required(const std::string& name) const {
    const auto value = text(name);
    if (!value) throw BadParameter(name + " is missing");
    return *value;
  }
  std::int64_t moment(const std::string& name, std::int64_t otherwise) const {
    const auto value = text(name);
    if (!value) return otherwise;
    const auto us = parseMoment(*value, nowUs_);
    if (!us) throw BadParameter(name + " is not a moment: " + *value);
    return *us;
  }
  std::int64_t integer(const std::string& name, std::int64_t lowest, std::int64_t highest,
                       std::int64_t otherwise) const {
    const auto value = text(name);
    if (!value) return otherwise;
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), number);
    if (error != std::errc() || end != value->data() + value->size() || number < lowest ||
        number > highest)
      throw BadParameter(name + " is not a whole number from " + std::to_string(lowest) + " to " +
                         std::to_string(highest) + ": " + *value);
    return number;
  }
  // [since, until): by default the last week.
  std::pair<std::int64_t, std::int64_t> range() const {
    const std::int64_t until = moment("until", nowUs_);
    const std::int64_t since = moment("since", until - kDefaultRangeUs);
    if (until <= since) throw BadParameter("until is not after since");
    return {since, until};
  }
  std::int64_t now() const { return nowUs_; }

 private:
  const QueryParameters& parameters_;
  std::int64_t nowUs_;
};

ApiReply json(const nlohmann::json& body) {
  return {200, body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
}

// The bin for a range when the page leaves it to us: a few hundred points at most.
std::int64_t autoBin(std::int64_t rangeUs) {
  if (rangeUs <= 6 * kHourUs) return kMinuteUs;
  if (rangeUs <= 2 * kDayUs) return 10 * kMinuteUs;
  if (rangeUs <= 60 * kDayUs) return kHourUs;
  return kDayUs;
}

std::int64_t binWidth(const Parameters& p, std::int64_t rangeUs) {
  const std::string bin = p.text("bin").value_or("auto");
  if (bin == "auto") return autoBin(rangeUs);
  if (bin == "minute" || bin == "10min") {
    if (rangeUs > 7 * kDayUs) throw BadParameter("bin " + bin + " is for a week at most");
    return bin == "minute" ? kMinuteUs : 10 * kMinuteUs;
  }
  if (bin == "hour") return kHourUs;
  if (bin == "day") return kDayUs;
  throw BadParameter("bin is minute, 10min, hour, day or auto: " + bin);
}

ApiReply stations(const Parameters& p, Database& database) {
  const auto [since, until] = p.range();
  return json({{"now_us", p.now()},
               {"since_us", since},
               {"until_us", until},
               {"stations", summariesJson(stationSummaries(database, p.now(), since, until))}});
}

// With the bin left to us, the range shrinks to the hours that hold the station's counts: a
// station that began this morning gets a chart of this morning in minutes, not one point of a
// week.
ApiReply rateSeries(const Parameters& p, Database& database) {
  auto [since, until] = p.range();
  RateQuery query;
  query.station = p.required("station");
  if (p.text("bin").value_or("auto") == "auto") {
    if (const auto span = countedSpan(database, *query.station, since, until)) {
      since = std::max(since, span->first);
      until = std::min(until, span->second);
    }
  }
  query.sinceUs = since;
  query.untilUs = until;
  query.binUs = binWidth(p, until - since);
  return json({{"station", *query.station},
               {"since_us", since},
               {"until_us", until},
               {"bin_s", query.binUs / 1000000},
               {"bins", ratesJson(rates(database, query))}});
}

ApiReply stationPage(const Parameters& p, Database& database) {
  const auto [since, until] = p.range();
  const std::string station = p.required("station");
  nlohmann::json body = stationFiguresJson(
      stationFigures(database, station, since, until, static_cast<int>(kLatestEvents)));
  body["station"] = station;
  body["since_us"] = since;
  body["until_us"] = until;
  return json(body);
}

ApiReply crop(const Parameters& p, Database& database) {
  const std::int64_t seq = p.integer("seq", 1, INT64_MAX, 0);
  if (seq == 0) throw BadParameter("seq is missing");
  const std::vector<std::uint8_t> png =
      eventCrop(database, p.required("station"), p.required("run_id"), seq);
  if (png.empty()) return {404, R"({"error":"no such crop"})"};
  return {200, std::string(png.begin(), png.end()), "image/png"};
}

ApiReply coincidences(const Parameters& p, Database& database) {
  const auto [since, until] = p.range();
  CoincidenceQuery query;
  query.sinceUs = since;
  query.untilUs = until;
  if (!parseWindow(p.text("window").value_or("auto"), query.windowUs))
    throw BadParameter("window is auto or milliseconds above 0, at most 60000");
  query.minStations = static_cast<int>(p.integer("min_stations", 2, 1000, 2));
  const auto offset = static_cast<std::size_t>(p.integer("offset", 0, INT32_MAX, 0));
  const auto limit = static_cast<std::size_t>(p.integer("limit", 1, kMaxGroupsPerPage, 50));
  const CoincidenceResult result = searchCoincidences(database, query);
  return json(coincidencesJson(database, result, offset, limit, CropStyle::link));
}

}  // namespace

ApiReply answerApi(std::string_view endpoint, const QueryParameters& parameters, Database& database,
                   std::int64_t nowUs) {
  const Parameters p(parameters, nowUs);
  try {
    if (endpoint == "stations") return stations(p, database);
    if (endpoint == "rates") return rateSeries(p, database);
    if (endpoint == "station") return stationPage(p, database);
    if (endpoint == "crop") return crop(p, database);
    if (endpoint == "coincidences") return coincidences(p, database);
  } catch (const BadParameter& e) {
    return {400, nlohmann::json({{"error", e.what()}})
                     .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
  }
  return {404, R"({"error":"no such address"})"};
}

}  // namespace ravdel
