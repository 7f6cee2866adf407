#include "server/net_commands.h"

#include <algorithm>

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

std::vector<NetCommand> makeCommands() {
  std::vector<OptionSpec> stationOptions = kAccountFiles;
  stationOptions.push_back({"server"});
  stationOptions.push_back({"tls-ca"});
  return {
      {{"station", "add"},
       "NAME --passwords FILE --acl FILE [--server HOST[:PORT]] [--tls-ca FILE]",
       "a station's broker account and access rules, and the settings the station needs",
       stationOptions,
       1,
       [](const CommandArguments& arguments, std::string& out) {
         out += stationSettings(
             addStationAccount(arguments.words.at(0), arguments.required("passwords"),
                               arguments.required("acl")),
             arguments);
       }},
      {{"ingest-account", "add"},
       "NAME --passwords FILE --acl FILE",
       "an account for ravdel-ingest: reads every station's messages, acknowledges them",
       kAccountFiles,
       1,
       [](const CommandArguments& arguments, std::string& out) {
         out += ingestSettings(addIngestAccount(
             arguments.words.at(0), arguments.required("passwords"), arguments.required("acl")));
       }},
  };
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

}  // namespace

const std::vector<NetCommand>& netCommands() {
  static const std::vector<NetCommand> commands = makeCommands();
  return commands;
}

void runNetCommand(const std::vector<std::string>& arguments, std::string& out) {
  for (const NetCommand& command : netCommands()) {
    if (!startsWith(arguments, command.words)) continue;
    const std::vector<std::string> rest(
        arguments.begin() + static_cast<std::ptrdiff_t>(command.words.size()), arguments.end());
    const CommandArguments parsed = parseCommandArguments(rest, command.options);
    if (parsed.words.size() != command.operands)
      throw CommandLineError("usage: ravdel-net " + joined(command.words) + " " + command.synopsis);
    command.run(parsed, out);
    return;
  }
  throw CommandLineError(arguments.empty() ? "no command given"
                                           : "no command " + joined(arguments));
}

std::string netUsage() {
  std::string text = "Usage: ravdel-net COMMAND ...\nThe station network's tools.\n\n";
  for (const NetCommand& command : netCommands())
    text +=
        "  " + joined(command.words) + " " + command.synopsis + "\n      " + command.summary + "\n";
  return text;
}

}  // namespace ravdel
