#include <fstream>

#include "image_load_support.h"
#include "image_loaders.h"

namespace velmora {

ImageLoadResult LoadBinaryImage(const std::string& path, ProgramImage& image) {
  std::ifstream in;
  if (auto refused = OpenImageFile(path, in)) return *refused;
  ProgramImage scratch;
  in.read(reinterpret_cast<char*>(scratch.bytes.data()), kProgramImageSize);
  if (in.bad()) return CannotRead(path);
  scratch.length = static_cast<std::uint32_t>(in.gcount());  // a longer file is cut here
  return CommitImage(scratch, image);
}

}  // namespace velmora
