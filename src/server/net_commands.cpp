#include "server/net_commands.h"

#include <algorithm>
#include <exception>

#include "server/accounts.h"

namespace ravdel {
namespace {

const std::vector<OptionSpec> kAccountFiles = {{"passwords"}, {"acl"}};

std::string stationSettings(const BrokerAccount& account, const CommandArguments& arguments) {
  const std::string server = arguments.value("server").value_or("BROKER-HOST:PORT");
  const std::string tlsCa = arguments.value("tls-ca").value_or("");
  std::string text =
      "Station " + account.name + " can connect once the broker has read its " +
      "files again (SIGHUP, or: systemctl reload mosquitto).\n\n" +
      "Its password, told only now:\n\n    " + account.password + "\n\n" +
      "On the station, put it alone in a file only its user can read, e.g.\n\n" +
      "    umask 077; echo '" + account.password + "' > ~/.config/ravdel-station.password\n\n" +
      "and give ravdel-monitor (or the window's \"Network...\" dialog) these settings, "
      "the [Network] section of RVD.ini:\n\n" +
      "    [Network]\n    server=" + server + "\n    station=" + account.name +
      "\n    password-file=~/.config/ravdel-station.password\n";
  if (!tlsCa.empty()) text += "    tls-ca=" + tlsCa + "\n";
  text += "\nor on its command line:\n\n    ravdel-monitor --server " + server + " --station " +
          account.name + " --password-file ~/.config/ravdel-station.password";
  if (!tlsCa.empty()) text += " --tls-ca " + tlsCa;
  return text + "\n";
}

std::string ingestSettings(const BrokerAccount& account) {
  return "Ingest account " + account.name + " can connect once the broker has read its files " +
         "again (SIGHUP, or: systemctl reload mosquitto).\n\nIts password, told only now:\n\n    " +
         account.password + "\n\nPut it alone in a file only the ingester's user can read and " +
         "start\n\n    ravdel-ingest --user " + account.name +
         " --password-file FILE --broker HOST[:PORT] --store ...\n";
}

bool startsWith(const std::vector<std::string>& arguments, const std::vector<std::string>& words) {
  return arguments.size() >= words.size() &&
         std::equal(words.begin(), words.end(), arguments.begin());
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words)
    text += (text.empty() ? "" : " ") + word;
  return text;
}

// Runs `command` on the words after its own; its exit status.
int runOne(const NetCommand& command, const std::vector<std::string>& rest, std::ostream& out) {
  const CommandArguments parsed = parseCommandArguments(rest, command.options);
  if (parsed.words.size() != command.operands)
    throw CommandLineError("usage: ravdel-net " + joined(command.words) + " " + command.synopsis);
  return command.run(parsed, out);
}

}  // namespace

std::vector<NetCommand> accountCommands() {
  std::vector<OptionSpec> stationOptions = kAccountFiles;
  stationOptions.push_back({"server"});
  stationOptions.push_back({"tls-ca"});
  return {
      {{"station", "add"},
       "NAME --passwords FILE --acl FILE [--server HOST[:PORT]] [--tls-ca FILE]",
       "a station's broker account and access rules, and the settings the station needs",
       stationOptions,
       1,
       [](const CommandArguments& arguments, std::ostream& out) {
         out << stationSettings(
             addStationAccount(arguments.words.at(0), arguments.required("passwords"),
                               arguments.required("acl")),
             arguments);
         return 0;
       }},
      {{"ingest-account", "add"},
       "NAME --passwords FILE --acl FILE",
       "an account for ravdel-ingest: reads every station's messages, acknowledges them",
       kAccountFiles,
       1,
       [](const CommandArguments& arguments, std::ostream& out) {
         out << ingestSettings(addIngestAccount(
             arguments.words.at(0), arguments.required("passwords"), arguments.required("acl")));
         return 0;
       }},
  };
}

int runNetCommand(const std::vector<NetCommand>& commands,
                  const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  const auto named = std::find_if(commands.begin(), commands.end(), [&](const NetCommand& c) {
    return startsWith(arguments, c.words);
  });
  const std::string who =
      named == commands.end() ? "ravdel-net" : "ravdel-net " + joined(named->words);
  try {
    if (named == commands.end()) {
      throw CommandLineError(arguments.empty() ? "no command given"
                                               : "no command " + joined(arguments));
    }
    const std::vector<std::string> rest(
        arguments.begin() + static_cast<std::ptrdiff_t>(named->words.size()), arguments.end());
    return runOne(*named, rest, out);
  } catch (const CommandLineError& e) {
    err << who << ": " << e.what() << " (see ravdel-net --help)\n";
    return 2;
  } catch (const std::exception& e) {
    err << who << ": " << e.what() << "\n";
    return 1;
  }
}

std::string netUsage(const std::vector<NetCommand>& commands) {
  std::string text = "Usage: ravdel-net COMMAND ...\nThe station network's tools.\n\n";
  for (const NetCommand& command : commands)
    text +=
        "  " + joined(command.words) + " " + command.synopsis + "\n      " + command.summary + "\n";
  return text;
}

}  // namespace ravdel
