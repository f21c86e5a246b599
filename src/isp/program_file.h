// The program file as the ISP page sees it: which loader a name picks, the load itself, and the
// texts the page shows. The window's ReadProgramFile is a thin wrapper:
//   add the name to the history (when it is not empty), r = LoadProgramFile(name, image);
//   r.ok: checksum label = ChecksumLabelText(r.checksum), FileReady = true;
//   else: "Dialog" box with LoadFailureDialogText(r), FileReady = false, label left as it was.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "image_loaders.h"
#include "program_image.h"

namespace velmora {

enum class ProgramFileFormat { kUnknown, kRaw, kHex };

// Chosen by the third-last character of the name (the first letter of a three-letter
// extension): 'b'/'B' raw bytes, 'h'/'H' Intel HEX, anything else (or a shorter name) unknown.
ProgramFileFormat ProgramFileFormatOf(std::string_view name);

// Loads `name` with the loader its name picks. On failure `image` is untouched and the message
// says why: an empty name ("Program File Not Ready !!"), an unknown extension letter, a file
// that cannot be opened or read, or a damaged HEX file.
ImageLoadResult LoadProgramFile(const std::string& name, ProgramImage& image);

// Text of the "Dialog" box for a failed load; the texts of those boxes end in four spaces.
std::string LoadFailureDialogText(const ImageLoadResult& result);

// "Checksum : 0x" followed by the checksum as 4 uppercase hexadecimal digits.
std::string ChecksumLabelText(std::uint16_t checksum);

}  // namespace velmora
