#include "image_load_support.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace velmora {

bool OpenImageFile(const std::string& path, std::ifstream& in) {
  // A directory opens as a stream on some systems and then reads as an empty file.
  std::error_code error;
  if (path.empty() || std::filesystem::is_directory(path, error)) return false;
  in.open(path, std::ios::in | std::ios::binary);
  return in.is_open();
}

ImageLoadResult CannotOpen(const std::string& path) {
  return {false, 0, "Cannot open the program file \"" + path + "\"."};
}

ImageLoadResult CannotRead(const std::string& path) {
  return {false, 0, "Cannot read the program file \"" + path + "\"."};
}

ImageLoadResult CommitImage(const ProgramImage& scratch, ProgramImage& image) {
  // Copy rather than swap so pointers into the caller's image stay valid.
  image.bytes.assign(scratch.bytes.begin(), scratch.bytes.end());
  image.length = scratch.length;
  return {true, image.Checksum(), ""};
}

}  // namespace velmora
