// Scratch files for the loader tests and a writer of well-formed HEX records.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::testing {

// A fresh directory under the system's temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("velmora-loader-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string PathOf(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, std::string_view content) const {
    std::ofstream(PathOf(name), std::ios::binary).write(content.data(), content.size());
    return PathOf(name);
  }
  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    return Write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }

 private:
  std::filesystem::path path_;
};

// One HEX record with a correct checksum, upper case, no line end: ":CCAAAATTDD..SS".
inline std::string Record(std::uint8_t type, std::uint16_t address,
                          const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(data.size()),
                                     static_cast<std::uint8_t>(address >> 8),
                                     static_cast<std::uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.push_back(static_cast<std::uint8_t>(-std::accumulate(bytes.begin(), bytes.end(), 0)));
  std::string text = ":";
  for (std::uint8_t b : bytes) text += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return text;
}

inline std::string Data(std::uint16_t address, const std::vector<std::uint8_t>& data) {
  return Record(0x00, address, data);
}

// `count` bytes that are not all one value, starting from `seed`.
inline std::vector<std::uint8_t> Pattern(std::size_t count, unsigned seed = 0) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 7 + seed + (i >> 8));
  return bytes;
}

inline constexpr const char* kEnd = ":00000001FF";

}  // namespace velmora::testing
