// The two program file loaders: raw bytes and Intel HEX. Both load into a scratch image and
// copy it into the caller's image only when the whole file was good, so a failed load leaves the
// previous image and length untouched.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "program_image.h"

namespace velmora {

// No program file is larger: a HEX file of a whole 256 KiB image is under 1 MiB even with short
// records, and 16 MiB is the largest flash the 24-bit addresses reach, so a raw dump of any part
// still loads (its first 256 KiB). A larger file is refused before it is read.
inline constexpr std::uint64_t kLargestProgramFile = 16 * 1024 * 1024;

struct ImageLoadResult {
  ImageLoadResult() = default;
  ImageLoadResult(bool ok_, std::uint16_t checksum_, std::string message_, std::string note_ = {})
      : ok(ok_), checksum(checksum_), message(std::move(message_)), note(std::move(note_)) {}

  bool ok = false;
  // 16-bit sum of the loaded image's bytes 0 .. length - 1 (valid when ok).
  std::uint16_t checksum = 0;
  // When !ok: one sentence for the user that names the file and says what is wrong (for a
  // damaged HEX file also the line). Empty when ok.
  std::string message;
  // When ok: something the user should know about the load ("the 0xFF padding past 256 KiB
  // is not programmed"), or empty.
  std::string note;
};

// Both loaders refuse, before reading a byte, a path that is not a regular file (also behind a
// link: a folder, a FIFO, a device) and a file larger than kLargestProgramFile.

// Raw bytes from image address 0 on; the rest of the image is 0xFF. length = bytes read (an
// empty file loads fine with length 0 and checksum 0). A file longer than 256 KiB loads only
// when its bytes past 256 KiB are all 0xFF padding (with a note that they are not programmed);
// otherwise it is refused with its size, as cutting it would lose firmware. Fails when the file
// is refused as above, cannot be opened or a read fails.
ImageLoadResult LoadBinaryImage(const std::string& path, ProgramImage& image);

// Intel HEX: data records land at base + 16-bit address, where extended segment (02) and
// extended linear (04) records set the base; start address records (03, 05) are ignored; the
// end record (01) ends the file and whatever follows it (a Ctrl-Z, say) is not read. Upper and
// lower case digits, CR, LF and CRLF line ends, blank lines and text before a record's ':' on its
// line are accepted. length = highest end of data (base + address + count). Fails, naming the
// line, on a line with text but no ':', a bad record checksum, a non-hex character or text after
// the record, a record shorter or longer than its byte count, an unknown record type, an extended
// address record without two bytes, or data beyond the 256 KiB image (however large its base);
// also when the end record is missing (a file cut short), when the file is refused as above,
// cannot be opened or read, or holds no records at all.
ImageLoadResult LoadHexImage(const std::string& path, ProgramImage& image);

}  // namespace velmora
