#include "server/ingest_options.h"

#include "server/command_options.h"

namespace ravdel {

IngestCommandLine parseIngestCommandLine(const std::vector<std::string>& arguments) {
  const CommandArguments parsed = parseCommandArguments(arguments, {{"help", false},
                                                                    {"broker"},
                                                                    {"user"},
                                                                    {"password-file"},
                                                                    {"tls-ca"},
                                                                    {"store"},
                                                                    {"flood-rate"},
                                                                    {"flood-burst"}});
  if (!parsed.words.empty()) throw CommandLineError("unexpected " + parsed.words[0]);
  IngestCommandLine line;
  line.help = parsed.has("help");
  IngestSettings& settings = line.settings;
  settings.broker.tlsCa = parsed.value("tls-ca").value_or("");
  if (!parseBrokerAddress(parsed.value("broker").value_or("localhost"), settings.broker))
    throw CommandLineError("--broker takes HOST or HOST:PORT");
  settings.broker.user = parsed.value("user").value_or("");
  if (const auto file = parsed.value("password-file")) {
    if (settings.broker.user.empty()) throw CommandLineError("--password-file needs --user");
    settings.broker.password = readPasswordFile(*file);
  }
  settings.store = parsed.value("store").value_or(settings.store);
  if (const auto rate = parsed.value("flood-rate"))
    settings.limits.floodRate = numberOption("flood-rate", *rate, 0.001, 1e6);
  if (const auto burst = parsed.value("flood-burst"))
    settings.limits.floodBurst = numberOption("flood-burst", *burst, 1, 1e9);
  return line;
}

std::string ingestUsage() {
  return R"(Usage: ravdel-ingest [OPTION]...
Takes the stations' events and heartbeats from the broker into the store and acknowledges
each one after the commit. Several ingesters may run side by side: the broker shares the
stations' messages among them. SIGTERM or SIGINT ends it with a summary.

  --broker HOST[:PORT]   the broker (default localhost, port 1883, or 8883 with --tls-ca)
  --user NAME            the ingester's broker account (ravdel-net ingest-account add)
  --password-file FILE   its password, on the first line
  --tls-ca FILE          TLS, the broker's certificate checked against this CA and its host name
  --store LOCATION       sqlite:FILE (default sqlite:ravdel-network.db) or
                         postgresql://USER@HOST[:PORT]/DATABASE
  --flood-rate N         events a second a station may send, sustained (default 50)
  --flood-burst N        events a station may send at once (default 5000)
  --help                 this text
)";
}

}  // namespace ravdel
