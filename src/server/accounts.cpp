#include "server/accounts.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <sstream>
#include <vector>

#include "platform/files.h"
#include "wire/messages.h"

namespace ravdel {
namespace {

constexpr int kHashIterations = 101;  // the broker's own default for its $7$ hashes
constexpr std::size_t kSaltBytes = 12;
constexpr std::size_t kHashBytes = 64;
constexpr std::size_t kPasswordLength = 24;

constexpr std::string_view kStationPatterns =
    "# Ravdel stations: each account writes only under its own name and reads only its own\n"
    "# acknowledgements.\n"
    "pattern write ravdel/%u/events\n"
    "pattern write ravdel/%u/heartbeats\n"
    "pattern write ravdel/%u/status\n"
    "pattern read ravdel/%u/ack\n";

std::string ingestRules(const std::string& name) {
  return "# Ravdel ingester " + name + ": reads every station's events and heartbeats and\n" +
         "# acknowledges them.\nuser " + name +
         "\ntopic read ravdel/+/events\ntopic read ravdel/+/heartbeats\ntopic write "
         "ravdel/+/ack\n";
}

std::vector<std::uint8_t> randomBytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  if (RAND_bytes(bytes.data(), static_cast<int>(count)) != 1)
    throw AccountError("the system's random source failed");
  return bytes;
}

std::string readOrEmpty(const std::string& path) {
  std::string text;
  const FileRead read = readWholeFile(path, text);
  if (read == FileRead::failed) throw AccountError("cannot read " + path);
  return text;
}

void writeWhole(const std::string& path, const std::string& text) {
  if (!replaceFileContents(path, text)) throw AccountError("cannot write " + path);
}

bool hasLine(const std::string& text, std::string_view line) {
  std::istringstream lines(text);
  for (std::string each; std::getline(lines, each);) {
    if (each == line) return true;
  }
  return false;
}

bool hasAccount(const std::string& passwords, const std::string& name) {
  std::istringstream lines(passwords);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(name + ":", 0) == 0) return true;
  }
  return false;
}

// The new line goes at the end, after a line break the file may lack.
std::string appended(std::string text, std::string_view block) {
  if (!text.empty() && text.back() != '\n') text += '\n';
  if (!text.empty()) text += '\n';
  return text + std::string(block);
}

// Both files read before either is written: a name that is taken changes nothing.
BrokerAccount addAccount(const std::string& name, const std::string& passwordFile,
                         const std::string& aclFile, const std::string& aclBlock, bool blockOnce) {
  if (!validStationName(name))
    throw AccountError("an account name is 1 to 64 letters, digits, '.', '_' or '-'");
  const std::string passwords = readOrEmpty(passwordFile);
  const std::string acl = readOrEmpty(aclFile);
  if (hasAccount(passwords, name))
    throw AccountError("the broker has an account named " + name + " already");
  BrokerAccount account{name, randomPassword()};
  std::string line = passwordFileLine(name, account.password, randomBytes(kSaltBytes));
  std::string newPasswords = passwords;
  if (!newPasswords.empty() && newPasswords.back() != '\n') newPasswords += '\n';
  writeWhole(passwordFile, newPasswords + line + "\n");
  const bool present = blockOnce && hasLine(acl, "pattern write ravdel/%u/events");
  if (!present) writeWhole(aclFile, appended(acl, aclBlock));
  return account;
}

}  // namespace

std::string passwordFileLine(std::string_view name, std::string_view password,
                             std::span<const std::uint8_t> salt) {
  std::array<std::uint8_t, kHashBytes> hash{};
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                        static_cast<int>(salt.size()), kHashIterations, EVP_sha512(),
                        static_cast<int>(hash.size()), hash.data()) != 1)
    throw AccountError("cannot hash the password");
  return std::string(name) + ":$7$" + std::to_string(kHashIterations) + "$" + base64Encode(salt) +
         "$" + base64Encode(hash);
}

std::string randomPassword() {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";  // no 0/O, 1/l/I
  std::string password;
  // Bytes beyond the largest multiple of the alphabet's size are drawn again, so that every
  // character is equally likely.
  const std::size_t fair = 256 - 256 % kAlphabet.size();
  while (password.size() < kPasswordLength) {
    for (const std::uint8_t byte : randomBytes(kPasswordLength)) {
      if (byte < fair && password.size() < kPasswordLength)
        password += kAlphabet[byte % kAlphabet.size()];
    }
  }
  return password;
}

BrokerAccount addStationAccount(const std::string& name, const std::string& passwordFile,
                                const std::string& aclFile) {
  return addAccount(name, passwordFile, aclFile, std::string(kStationPatterns), true);
}

BrokerAccount addIngestAccount(const std::string& name, const std::string& passwordFile,
                               const std::string& aclFile) {
  return addAccount(name, passwordFile, aclFile, ingestRules(name), false);
}

}  // namespace ravdel
