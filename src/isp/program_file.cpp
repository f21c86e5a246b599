#include "program_file.h"

#include <algorithm>
#include <cstdio>

namespace velmora {

ProgramFileFormat ProgramFileFormatOf(std::string_view name) {
  if (name.size() < 3) return ProgramFileFormat::kUnknown;
  switch (name[name.size() - 3]) {
    case 'b':
    case 'B':
      return ProgramFileFormat::kRaw;
    case 'h':
    case 'H':
      return ProgramFileFormat::kHex;
    default:
      return ProgramFileFormat::kUnknown;
  }
}

ImageLoadResult LoadProgramFile(const std::string& name, ProgramImage& image) {
  if (name.empty()) return {false, 0, "Program File Not Ready !!"};
  switch (ProgramFileFormatOf(name)) {
    case ProgramFileFormat::kRaw:
      return LoadBinaryImage(name, image);
    case ProgramFileFormat::kHex:
      return LoadHexImage(name, image);
    case ProgramFileFormat::kUnknown:
      break;
  }
  // Loading nothing and reporting a checksum would let the next Auto run erase the chip.
  return {false, 0,
          "\"" + name +
              "\" is not a program file: its extension must begin with \"b\" (raw binary) or "
              "\"h\" (Intel HEX)."};
}

std::string LoadFailureDialogText(const ImageLoadResult& result) {
  return result.message + "    ";
}

std::string ChecksumLabelText(std::uint16_t checksum) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(checksum));
  return std::string("Checksum : 0x") + digits;
}

bool ShouldAddToFileHistory(const std::vector<std::string>& history, const std::string& name) {
  return std::find(history.begin(), history.end(), name) == history.end();
}

}  // namespace velmora
