#include "server/command_options.h"

#include <charconv>
#include <cstdio>

#include "platform/files.h"

namespace ravdel {

std::optional<std::string> CommandArguments::value(const std::string& name) const {
  const auto at = options.find(name);
  return at == options.end() ? std::nullopt : std::optional<std::string>(at->second);
}

const std::string& CommandArguments::required(const std::string& name) const {
  const auto at = options.find(name);
  if (at == options.end()) throw CommandLineError("--" + name + " is needed");
  return at->second;
}

CommandArguments parseCommandArguments(const std::vector<std::string>& arguments,
                                       const std::vector<OptionSpec>& known) {
  CommandArguments parsed;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (word.rfind("--", 0) != 0 || word == "--") {
      parsed.words.push_back(word);
      continue;
    }
    const auto equals = word.find('=');
    const std::string name = word.substr(2, equals == std::string::npos ? word.npos : equals - 2);
    const OptionSpec* option = nullptr;
    for (const OptionSpec& candidate : known)
      option = candidate.name == name ? &candidate : option;
    if (option == nullptr) throw CommandLineError("unknown option --" + name);
    if (!option->takesValue) {
      if (equals != std::string::npos) throw CommandLineError("--" + name + " takes no value");
      parsed.options[name] = "";
    } else if (equals != std::string::npos) {
      parsed.options[name] = word.substr(equals + 1);
    } else if (i + 1 < arguments.size()) {
      parsed.options[name] = arguments[++i];
    } else {
      throw CommandLineError("--" + name + " needs a value");
    }
  }
  return parsed;
}

double numberOption(const std::string& name, const std::string& text, double lowest,
                    double highest) {
  double number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < lowest ||
      number > highest) {
    char range[64];
    std::snprintf(range, sizeof range, "%g to %g", lowest, highest);
    throw CommandLineError("--" + name + " takes a number from " + range);
  }
  return number;
}

std::int64_t wholeNumberOption(const std::string& name, const std::string& text,
                               std::int64_t lowest, std::int64_t highest) {
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < lowest ||
      number > highest) {
    throw CommandLineError("--" + name + " takes a whole number from " + std::to_string(lowest) +
                           " to " + std::to_string(highest));
  }
  return number;
}

std::string readPasswordFile(const std::string& path) {
  std::string bytes;
  if (readWholeFile(path, bytes) != FileRead::ok)
    throw CommandLineError("cannot read the password file " + path);
  const std::string password = bytes.substr(0, bytes.find_first_of("\r\n"));
  if (password.empty()) throw CommandLineError("the password file " + path + " is empty");
  return password;
}

}  // namespace ravdel
