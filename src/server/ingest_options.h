#pragma once

#include <string>
#include <vector>

#include "server/ingest_service.h"

namespace ravdel {

struct IngestCommandLine {
  bool help = false;
  IngestSettings settings;
};

// ravdel-ingest's arguments. Throws CommandLineError (also for a password file that cannot be
// read: better at the start than as a refusal by the broker later).
IngestCommandLine parseIngestCommandLine(const std::vector<std::string>& arguments);
std::string ingestUsage();

}  // namespace ravdel
