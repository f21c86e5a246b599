// What both loaders share: opening the file and handing a good scratch image to the caller.
#pragma once

#include <fstream>
#include <string>

#include "image_loaders.h"
#include "program_image.h"

namespace velmora {

// Opens `path` for byte reading; false for a missing, unreadable file or a directory.
bool OpenImageFile(const std::string& path, std::ifstream& in);

ImageLoadResult CannotOpen(const std::string& path);
ImageLoadResult CannotRead(const std::string& path);

// Copies the scratch image into `image` (keeping its storage) and reports the checksum.
ImageLoadResult CommitImage(const ProgramImage& scratch, ProgramImage& image);

}  // namespace velmora
