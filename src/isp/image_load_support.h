// What both loaders share: opening the file and handing a good scratch image to the caller.
#pragma once

#include <fstream>
#include <optional>
#include <string>

#include "image_loaders.h"
#include "program_image.h"

namespace velmora {

// Opens `path` for byte reading. Anything but a regular file, also behind a link, is refused
// before it is opened (a FIFO would block the window for good, a device would never end), and so
// is a file larger than kLargestProgramFile. Returns the failure, or nothing when `in` is open.
std::optional<ImageLoadResult> OpenImageFile(const std::string& path, std::ifstream& in);

// "Cannot open the program file "x.hex": No such file or directory." (`reason`: the system's).
ImageLoadResult CannotOpen(const std::string& path, const std::string& reason);
ImageLoadResult CannotRead(const std::string& path);
ImageLoadResult TooLarge(const std::string& path);

// Copies the scratch image into `image` (keeping its storage) and reports the checksum.
ImageLoadResult CommitImage(const ProgramImage& scratch, ProgramImage& image);

}  // namespace velmora
