#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "image_load_support.h"
#include "image_loaders.h"

namespace velmora {

ImageLoadResult LoadBinaryImage(const std::string& path, ProgramImage& image) {
  std::ifstream in;
  if (auto refused = OpenImageFile(path, in)) return *refused;
  ProgramImage scratch;
  in.read(reinterpret_cast<char*>(scratch.bytes.data()), kProgramImageSize);
  if (in.bad()) return CannotRead(path);
  scratch.length = static_cast<std::uint32_t>(in.gcount());
  // Past the image only 0xFF padding may be left out: anything else is firmware that the flash
  // would silently lack.
  std::uint64_t excess = 0;
  bool padding_only = true;
  char chunk[4096];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    const auto got = static_cast<std::size_t>(in.gcount());
    excess += got;
    padding_only = padding_only && std::all_of(chunk, chunk + got, [](char c) {
                     return static_cast<std::uint8_t>(c) == 0xFF;
                   });
  }
  if (in.bad()) return CannotRead(path);
  const std::string total = std::to_string(kProgramImageSize + excess);
  if (!padding_only) {
    return {false, 0,
            "The program file \"" + path + "\" holds " + total +
                " bytes, more than the 256 KiB (262144 bytes) image, and its bytes past 256 KiB "
                "are not 0xFF padding: it is not loaded.",
            ""};
  }
  ImageLoadResult result = CommitImage(scratch, image);
  if (excess > 0) {
    result.note = "The program file \"" + path + "\" holds " + total + " bytes: its last " +
                  std::to_string(excess) + " bytes are 0xFF padding past 256 KiB, not programmed.";
  }
  return result;
}

}  // namespace velmora
