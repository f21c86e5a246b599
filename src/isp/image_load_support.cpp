#include "image_load_support.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace velmora {

std::optional<ImageLoadResult> OpenImageFile(const std::string& path, std::ifstream& in) {
  namespace fs = std::filesystem;
  if (path.empty()) return CannotOpen(path, "no file name");
  std::error_code error;
  const fs::file_status status = fs::status(path, error);  // follows links
  if (error || !fs::exists(status)) {
    return CannotOpen(path, error ? error.message() : std::strerror(ENOENT));
  }
  if (!fs::is_regular_file(status)) {
    return ImageLoadResult{
        false, 0,
        "The program file \"" + path + "\" is not a regular file (a folder, a pipe or a device)."};
  }
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) return CannotOpen(path, error.message());
  if (size > kLargestProgramFile) return TooLarge(path);
  errno = 0;
  in.open(path, std::ios::in | std::ios::binary);
  if (!in.is_open()) return CannotOpen(path, std::strerror(errno != 0 ? errno : EACCES));
  return std::nullopt;
}

ImageLoadResult CannotOpen(const std::string& path, const std::string& reason) {
  return {false, 0, "Cannot open the program file \"" + path + "\": " + reason + ".", ""};
}

ImageLoadResult CannotRead(const std::string& path) {
  return {false, 0, "Cannot read the program file \"" + path + "\": " + std::strerror(errno) + ".",
          ""};
}

ImageLoadResult TooLarge(const std::string& path) {
  return {
      false, 0,
      "The program file \"" + path + "\" is larger than 16 MiB: no program file is that large."};
}

ImageLoadResult CommitImage(const ProgramImage& scratch, ProgramImage& image) {
  // Copy rather than swap so pointers into the caller's image stay valid.
  image.bytes.assign(scratch.bytes.begin(), scratch.bytes.end());
  image.length = scratch.length;
  return {true, image.Checksum(), ""};
}

}  // namespace velmora
