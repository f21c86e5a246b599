// Decodes Intel HEX text, one line at a time, into a program image.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "program_image.h"

namespace velmora {

class HexImageDecoder {
 public:
  // Records are written into `image`, which the caller has filled with 0xFF; the decoder sets
  // nothing else in it (the length is Length()).
  explicit HexImageDecoder(ProgramImage& image) : image_(image) {}

  // Decodes one line given without its line end. A blank line (spaces and tabs only) is skipped;
  // any other line without ':' is damage. Text before the first ':' is skipped; the record runs
  // from there to the end of the line (trailing blanks and Ctrl-Z allowed). Lines after the end
  // record are ignored. Returns false for a damaged line; Error() then says why and the decoder
  // should not be fed further.
  bool DecodeLine(std::string_view line);

  bool SawAnyRecord() const { return records_ > 0; }
  bool SawEndRecord() const { return end_seen_; }
  // Highest end of data written so far (base + address + byte count).
  std::uint32_t Length() const { return length_; }
  // Why the last DecodeLine failed, in words for the user ("the record checksum is wrong").
  const std::string& Error() const { return error_; }

 private:
  bool Fail(std::string why);
  bool DecodeDigits(std::string_view record);
  bool ApplyRecord();

  ProgramImage& image_;
  std::vector<std::uint8_t> bytes_;  // the current record: count, address (2), type, data, sum
  std::uint32_t base_ = 0;
  std::uint32_t length_ = 0;
  unsigned records_ = 0;
  bool end_seen_ = false;
  std::string error_;
};

}  // namespace velmora
