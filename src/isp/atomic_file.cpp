#include "atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

namespace velmora {
namespace {

namespace fs = std::filesystem;

FileWriteResult Failure(const std::string& what, const fs::path& target, int error_number) {
  return {false, what + " " + target.filename().string() + ": " + std::strerror(error_number)};
}

// A name beside the target that no other writer is likely to pick.
fs::path TemporaryBeside(const fs::path& target) {
  std::random_device entropy;
  const auto tag = std::to_string(entropy()) + std::to_string(entropy());
  fs::path temporary = target;
  temporary.replace_filename("." + target.filename().string() + "." + tag + ".part");
  return temporary;
}

// Writes and flushes everything to disk; false with errno set on the first failure.
bool WriteAll(std::FILE* file, std::span<const std::uint8_t> bytes) {
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    return false;
  }
  if (std::fflush(file) != 0) return false;
#if defined(__unix__) || defined(__APPLE__)
  if (::fsync(::fileno(file)) != 0) return false;
#endif
  return true;
}

}  // namespace

FileWriteResult WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
  const fs::path target(path);
  if (target.filename().empty()) return {false, "Cannot write " + path + ": no file name"};
  const fs::path temporary = TemporaryBeside(target);

  std::FILE* file = std::fopen(temporary.string().c_str(), "wb");
  if (file == nullptr) return Failure("Cannot create", target, errno);

  const bool written = WriteAll(file, bytes);
  const int write_error = errno;
  const bool closed = std::fclose(file) == 0;
  const int close_error = errno;
  std::error_code ignored;
  if (!written || !closed) {
    fs::remove(temporary, ignored);
    return Failure("Cannot write", target, written ? close_error : write_error);
  }

  std::error_code renamed;
  fs::rename(temporary, target, renamed);
  if (renamed) {
    fs::remove(temporary, ignored);
    return {false, "Cannot replace " + target.filename().string() + ": " + renamed.message()};
  }
  return {true, {}};
}

}  // namespace velmora
