#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ravdel {

// An account that cannot be added: a name that is taken or not allowed, a file that cannot be
// read or written.
class AccountError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An account of the broker's and its password, which is told once and kept nowhere else.
struct BrokerAccount {
  std::string name;
  std::string password;
};

// A station: the broker's password file gets the account with a new random password, and the
// ACL file the patterns that let every station write only under ravdel/<its name>/ and read
// only its own acknowledgements (added once, for all stations). Both files are made when
// missing; the broker reads them again on SIGHUP. Throws AccountError.
BrokerAccount addStationAccount(const std::string& name, const std::string& passwordFile,
                                const std::string& aclFile);
// An ingester: reads every station's events and heartbeats, writes their acknowledgements.
BrokerAccount addIngestAccount(const std::string& name, const std::string& passwordFile,
                               const std::string& aclFile);

// A line of the broker's password file: "name:" and the password's salted PBKDF2-SHA512 hash in
// the broker's own form ("$7$101$" salt "$" hash, both base64).
std::string passwordFileLine(std::string_view name, std::string_view password,
                             std::span<const std::uint8_t> salt);
// 24 characters of letters and digits from the system's random source.
std::string randomPassword();

}  // namespace ravdel
