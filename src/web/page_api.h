#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "store/database.h"

namespace ravdel {

// One answer of the page's JSON (or a crop's PNG).
struct ApiReply {
  int status = 200;
  std::string body;
  std::string type = "application/json";
};

// A query's parameters, as the HTTP server decodes them.
using QueryParameters = std::multimap<std::string, std::string>;

// Answers api/ENDPOINT?PARAMETERS from the store, read-only, as of `nowUs`:
//   stations      ?since&until               health and totals of every station
//   rates         ?station&since&until&bin   bin: minute, 10min, hour, day or auto
//   station       ?station&since&until       hit map, spectrum, latest events, runs and gaps
//   crop          ?station&run_id&seq        the event's crop, image/png
//   coincidences  ?since&until&window&min_stations&offset&limit
// A parameter that cannot be read is a 400 with {"error": "..."}; an unknown endpoint or
// crop a 404. Throws StoreError (the server answers 500). Any thread, with its own database.
ApiReply answerApi(std::string_view endpoint, const QueryParameters& parameters, Database& database,
                   std::int64_t nowUs);

}  // namespace ravdel
