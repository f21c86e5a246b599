#include <fstream>
#include <string>

#include "hex_image_decoder.h"
#include "image_load_support.h"
#include "image_loaders.h"

namespace velmora {
namespace {

// No HEX line comes near this; a longer one means the file is not HEX text at all.
constexpr std::size_t kLongestLine = 64 * 1024;

ImageLoadResult Damaged(const std::string& path, unsigned line, const std::string& why) {
  return {false, 0,
          "The HEX file \"" + path + "\" is damaged at line " + std::to_string(line) + ": " + why +
              "."};
}

}  // namespace

ImageLoadResult LoadHexImage(const std::string& path, ProgramImage& image) {
  std::ifstream in;
  if (auto refused = OpenImageFile(path, in)) return *refused;
  ProgramImage scratch;
  HexImageDecoder decoder(scratch);
  std::string line;
  unsigned line_number = 1;
  bool after_cr = false;  // the LF of a CRLF ends no second line
  char chunk[4096];
  std::uint64_t total = 0;
  // Lines end at CR, LF or CRLF; reading stops at the end record.
  while (!decoder.SawEndRecord()) {
    in.read(chunk, sizeof chunk);
    if (in.gcount() <= 0) break;
    const auto got = static_cast<std::size_t>(in.gcount());
    // The size was checked before opening; a file that grows meanwhile is not read without end.
    total += got;
    if (total > kLargestProgramFile) return TooLarge(path);
    for (std::size_t i = 0; i < got && !decoder.SawEndRecord(); ++i) {
      const char c = chunk[i];
      if (c == '\n' && after_cr) {
        after_cr = false;
        continue;
      }
      after_cr = c == '\r';
      if (c == '\r' || c == '\n') {
        if (!decoder.DecodeLine(line)) return Damaged(path, line_number, decoder.Error());
        line.clear();
        ++line_number;
        continue;
      }
      if (line.size() == kLongestLine) return Damaged(path, line_number, "the line is too long");
      line.push_back(c);
    }
  }
  if (in.bad()) return CannotRead(path);
  if (!decoder.SawEndRecord() && !decoder.DecodeLine(line)) {
    return Damaged(path, line_number, decoder.Error());
  }
  if (!decoder.SawAnyRecord()) {
    return {false, 0, "The HEX file \"" + path + "\" holds no HEX records."};
  }
  // Most often a copy or a download cut the file short: what is missing would program as 0xFF.
  if (!decoder.SawEndRecord()) {
    return {false, 0,
            "The HEX file \"" + path +
                "\" is damaged: its end record is missing (the file may have been cut short)."};
  }
  scratch.length = decoder.Length();
  return CommitImage(scratch, image);
}

}  // namespace velmora
