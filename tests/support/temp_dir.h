#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

namespace ravdel::test {

// A fresh folder of the test's own under the system's temporary folder, removed with
// everything in it when the fixture ends.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // create_directory fails on a name that exists, so the folder is ours alone.
    std::random_device seed;
    std::mt19937_64 random(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
      const std::filesystem::path candidate =
          base / ("ravdel-test-" + std::to_string(random() % 100000000));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) dir_ = candidate;
    }
    ASSERT_FALSE(dir_.empty()) << "no temporary folder under " << base;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // UTF-8, as the program's paths are.
  std::string path(const std::string& name) const {
    const std::u8string text = (dir_ / std::u8string(name.begin(), name.end())).u8string();
    return std::string(text.begin(), text.end());
  }
  static std::filesystem::path native(const std::string& file) {
    return std::filesystem::path(std::u8string(file.begin(), file.end()));
  }
  static void write(const std::string& file, const std::string& bytes) {
    std::ofstream(native(file), std::ios::binary) << bytes;
  }
  static std::string read(const std::string& file) {
    std::ostringstream bytes;
    bytes << std::ifstream(native(file), std::ios::binary).rdbuf();
    return bytes.str();
  }
  std::ptrdiff_t entryCount() const {
    return std::distance(std::filesystem::directory_iterator(dir_),
                         std::filesystem::directory_iterator{});
  }

  std::filesystem::path dir_;
};

}  // namespace ravdel::test
