#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ravdel {

class Store;

// A command line that cannot be followed; what() names the word at fault. Exit status 2.
class NetUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The options of one subcommand: "--name value" and "--name=value" both work, a later option
// overrides an earlier one, a switch takes no value.
struct NetOption {
  std::string name;  // without the dashes
  bool takesValue = true;
};

class NetArguments {
 public:
  // Throws NetUsageError for a word that is no option of `known`, or a value missing.
  NetArguments(const std::vector<std::string>& words, const std::vector<NetOption>& known);

  bool has(const std::string& name) const { return values_.count(name) != 0; }
  std::optional<std::string> value(const std::string& name) const;
  // The moment an option gives (see analysis/time_text.h); nothing when the option is absent.
  // Throws NetUsageError when it cannot be read.
  std::optional<std::int64_t> moment(const std::string& name, std::int64_t nowUs) const;
  // A whole number in [lowest, highest], or `otherwise` when absent.
  std::int64_t integer(const std::string& name, std::int64_t lowest, std::int64_t highest,
                       std::int64_t otherwise) const;
  // The store: --store, else the station's own history beside the settings file.
  std::string storeLocation() const;
  // Opens that store; a SQLite file that is not there is an error, not a new store. Throws
  // StoreError.
  std::unique_ptr<Store> openStore() const;

 private:
  std::map<std::string, std::string> values_;
};

// The options every subcommand that reads the store takes.
inline const NetOption kStoreOption{"store"};

// Runs a subcommand's body: a usage error is said on `err` ("ravdel-net COMMAND: ...") with
// exit status 2, any other failure with 1; otherwise the body's status.
int guardedCommand(const std::string& command, std::ostream& err, const std::function<int()>& body);

// Now, as UTC microseconds.
std::int64_t nowMicroseconds();

}  // namespace ravdel
