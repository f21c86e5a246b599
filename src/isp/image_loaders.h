// The two program file loaders: raw bytes and Intel HEX. Both load into a scratch image and
// copy it into the caller's image only when the whole file was good, so a failed load leaves the
// previous image and length untouched.
#pragma once

#include <cstdint>
#include <string>

#include "program_image.h"

namespace velmora {

struct ImageLoadResult {
  bool ok = false;
  // 16-bit sum of the loaded image's bytes 0 .. length - 1 (valid when ok).
  std::uint16_t checksum = 0;
  // When !ok: one sentence for the user that names the file and says what is wrong (for a
  // damaged HEX file also the line). Empty when ok.
  std::string message;
};

// Raw bytes from image address 0 on; at most the first 256 KiB are taken and the rest of the
// image is 0xFF. length = bytes read (an empty file loads fine with length 0 and checksum 0).
// Fails when the file cannot be opened (or is a directory) or a read fails.
ImageLoadResult LoadBinaryImage(const std::string& path, ProgramImage& image);

// Intel HEX: data records land at base + 16-bit address, where extended segment (02) and
// extended linear (04) records set the base; start address records (03, 05) are ignored; the
// end record (01) ends the file. Upper and lower case digits, CR, LF and CRLF line ends, blank
// lines and text before a record's ':' are accepted; a file without an end record loads when its
// records are good. length = highest end of data (base + address + count). Fails, naming the
// line, on a bad record checksum, a non-hex character or text after the record, a record shorter
// or longer than its byte count, an unknown record type, an extended address record without two
// bytes, or data beyond the 256 KiB image; also when the file cannot be opened or read, or holds
// no records at all.
ImageLoadResult LoadHexImage(const std::string& path, ProgramImage& image);

}  // namespace velmora
