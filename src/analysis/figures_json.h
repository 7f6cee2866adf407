#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "analysis/coincidences.h"
#include "analysis/health.h"
#include "analysis/rates.h"
#include "analysis/station_figures.h"
#include "store/database.h"

namespace ravdel {

// The figures as JSON, the same for `ravdel-net --json` and the page. Times are UTC
// microseconds (`*_us`) with a text beside the main ones; rates are per hour of live time.

nlohmann::json rateJson(const RateBin& bin);
nlohmann::json ratesJson(const std::vector<RateBin>& bins);
nlohmann::json healthJson(const StationHealth& health);
nlohmann::json summariesJson(const std::vector<StationSummary>& summaries);

// How an event's crop travels: inline as base64, or as the page's address for it.
enum class CropStyle { base64, link };
nlohmann::json eventJson(const EventRow& event, CropStyle crops);

// The groups [offset, offset + count) with their stored events, and the background.
nlohmann::json coincidencesJson(Database& database, const CoincidenceResult& result,
                                std::size_t offset, std::size_t count, CropStyle crops);
nlohmann::json stationFiguresJson(const StationFigures& figures);

}  // namespace ravdel
