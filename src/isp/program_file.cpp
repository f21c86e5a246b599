#include "program_file.h"

#include "flash_texts.h"

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
  return "Checksum : 0x" + texts::Hex(checksum, 4);
}

}  // namespace velmora
