#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ravdel {

// A command line that cannot be followed; what() names the word at fault.
class CommandLineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  std::string name;  // without the dashes
  bool takesValue = true;
};

// Words and options: "--name value" and "--name=value" both work, a later option overrides an
// earlier one, a switch takes no value. Throws CommandLineError for an option not in `known`
// or a value missing.
struct CommandArguments {
  std::vector<std::string> words;
  std::map<std::string, std::string> options;  // a switch has the value ""

  bool has(const std::string& name) const { return options.count(name) != 0; }
  std::optional<std::string> value(const std::string& name) const;
  // Throws CommandLineError when the option is missing.
  const std::string& required(const std::string& name) const;
};
CommandArguments parseCommandArguments(const std::vector<std::string>& arguments,
                                       const std::vector<OptionSpec>& known);

// A number given to an option, within [lowest, highest]; throws CommandLineError.
double numberOption(const std::string& name, const std::string& text, double lowest,
                    double highest);
// The same for a whole number.
std::int64_t wholeNumberOption(const std::string& name, const std::string& text,
                               std::int64_t lowest, std::int64_t highest);

// The first line of a file that holds a password. Throws CommandLineError when it cannot be
// read or its first line is empty.
std::string readPasswordFile(const std::string& path);

}  // namespace ravdel
